// What the source fonts say: the characters of their codes where the font
// dictionary alone does not tell (base encodings of fonts without /Encoding,
// built-in encodings of embedded Type 1, CFF and symbolic TrueType programs,
// composite fonts without ToUnicode through their ordering, their embedded
// TrueType or a predefined CJK CMap), codes that would read as control
// characters, and the source advance of every code (/Widths, /W, /W2, the
// standard 14 fonts' metrics).
//
// Fixtures are font dictionaries with small programs built here (a CFF with
// a custom encoding, a symbolic TrueType with a (3,0) cmap and post names, a
// Type 1 clear-text part); the end-to-end case compares pdftotext of input
// and output, poppler being the independent reader of the input's fonts.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "../font/sfnt_builder.h"
#include "font/source_font.h"
#include "test_support.h"
#include "writer/text.h"
#include "zyk_out_pdfa.h"

namespace {

using zyk::byte;
using sfnt::put16;
using sfnt::put32;

std::string stream_obj(const std::string &dict_extra, const std::string &data) {
  return "<< /Length " + std::to_string(data.size()) + dict_extra + " >>\nstream\n" + data + "\nendstream";
}

// A name-keyed CFF font of four glyphs (.notdef, alpha, beta, uni2665) whose
// custom encoding puts them at codes 0x41, 0x42, 0x43.
std::string tiny_cff() {
  auto index = [](const std::vector<std::string> &items) {
    std::string s;
    put16(s, static_cast<std::uint32_t>(items.size()));
    if (items.empty()) return s;
    s += '\x01';
    std::uint32_t off = 1;
    s += static_cast<char>(off);
    for (const std::string &i : items) s += static_cast<char>(off += static_cast<std::uint32_t>(i.size()));
    for (const std::string &i : items) s += i;
    return s;
  };
  auto int32 = [](std::uint32_t v) {
    std::string s = "\x1d";
    put32(s, v);
    return s;
  };
  std::string header = std::string("\x01\x00\x04\x01", 4);
  std::string names = index({"Sym"});
  std::string strings = index({"alpha", "beta", "uni2665"});
  std::string gsubrs = index({});
  // The Top DICT has a fixed size (three int32 operands), so offsets can be
  // computed before it is written.
  std::size_t top_size = 3 * 6;
  std::size_t top_index_size = 2 + 1 + 2 + top_size;
  std::size_t charset_at = header.size() + names.size() + top_index_size + strings.size() + gsubrs.size();
  std::string charset = "\x00";
  charset.resize(1);
  for (std::uint32_t sid : {391u, 392u, 393u}) put16(charset, sid);
  std::size_t encoding_at = charset_at + charset.size();
  std::string encoding = std::string("\x00\x03\x41\x42\x43", 5);
  std::size_t charstrings_at = encoding_at + encoding.size();
  std::string charstrings = index({"\x0e", "\x0e", "\x0e", "\x0e"});
  std::string top = int32(static_cast<std::uint32_t>(charset_at)) + "\x0f" + int32(static_cast<std::uint32_t>(encoding_at)) +
                    "\x10" + int32(static_cast<std::uint32_t>(charstrings_at)) + "\x11";
  std::string tops = index({top});
  EXPECT_EQ(tops.size(), top_index_size);
  return header + names + tops + strings + gsubrs + charset + encoding + charstrings;
}

// A symbolic TrueType of four glyphs: its (3,0) cmap maps 0xF041..0xF043 to
// glyphs 1..3, and its post table names them alpha, beta, uni2665.
std::string symbolic_ttf() {
  std::string cmap;
  put16(cmap, 0);
  put16(cmap, 1);
  put16(cmap, 3);
  put16(cmap, 0);
  put32(cmap, 12);
  // Format 4, two segments: F041-F043 (delta to glyph 1) and the final FFFF.
  std::string sub;
  put16(sub, 4);
  put16(sub, 32);
  put16(sub, 0);
  put16(sub, 4);  // segCountX2
  put16(sub, 4);
  put16(sub, 1);
  put16(sub, 0);
  put16(sub, 0xF043);
  put16(sub, 0xFFFF);
  put16(sub, 0);
  put16(sub, 0xF041);
  put16(sub, 0xFFFF);
  put16(sub, (1 - 0xF041) & 0xFFFF);
  put16(sub, 1);
  put16(sub, 0);
  put16(sub, 0);
  cmap += sub;
  std::string post;
  put32(post, 0x00020000);
  post.resize(32, '\0');
  put16(post, 4);
  for (std::uint32_t ni : {0u, 258u, 259u, 260u}) put16(post, ni);
  for (const char *n : {"alpha", "beta", "uni2665"}) {
    post += static_cast<char>(std::strlen(n));
    post += n;
  }
  auto v = sfnt::build({{"cmap", cmap},
                        {"head", sfnt::head(1000)},
                        {"hhea", sfnt::hhea(4)},
                        {"hmtx", sfnt::hmtx({500, 600, 700, 800})},
                        {"maxp", sfnt::maxp(4)},
                        {"post", post}});
  return std::string(v.begin(), v.end());
}

const char *k_type1_clear =
    "%!PS-AdobeFont-1.0: Sym 001.000\n/FontName /Sym def\n/Encoding 256 array\n"
    "0 1 255 {1 index exch /.notdef put} for\ndup 65 /alpha put\ndup 66 /beta put\n"
    "dup 67 /uni2665 put\nreadonly def\ncurrentdict end\ncurrentfile eexec\n\x9c\x01\x02";

std::string liberation() {
  auto f = zyk::font_liberation_sans();
  return std::string(reinterpret_cast<const char *>(f.data()), f.size());
}

std::vector<std::string> font_objects() {
  return {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 300] /Contents 4 0 R /Resources 5 0 R >>",
      "",  // 4: content, set by the test
      "<< /Font << /TR 6 0 R /SY 7 0 R /ZD 8 0 R /T1 9 0 R /CF 12 0 R /ST 15 0 R /IH 18 0 R /RK 22 0 R "
      "/HV 6 0 R /WD 24 0 R /CO 25 0 R /TU 26 0 R /UJ 28 0 R /VT 30 0 R /XX 32 0 R >> >>",  // 5
      "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>",                 // 6
      "<< /Type /Font /Subtype /Type1 /BaseFont /Symbol >>",                      // 7
      "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>",                // 8
      // 9: an embedded Type 1 program whose own /Encoding names the glyphs.
      "<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+Sym /FirstChar 65 /LastChar 67 /Widths [500 600 700] "
      "/FontDescriptor 10 0 R >>",
      "<< /Type /FontDescriptor /FontName /ABCDEF+Sym /Flags 4 /FontFile 11 0 R >>",       // 10
      stream_obj(" /Length1 " + std::to_string(std::strlen(k_type1_clear)) + " /Length2 0 /Length3 0",
                 k_type1_clear),                                                             // 11
      // 12: an embedded CFF with a custom encoding.
      "<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+Sym /FirstChar 65 /LastChar 67 /Widths [500 600 700] "
      "/FontDescriptor 13 0 R >>",
      "<< /Type /FontDescriptor /FontName /ABCDEF+Sym /Flags 4 /FontFile3 14 0 R >>",  // 13
      stream_obj(" /Subtype /Type1C", tiny_cff()),                                     // 14
      // 15: a symbolic TrueType read through its (3,0) cmap and post names.
      "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Sym /FirstChar 65 /LastChar 67 /Widths [500 600 700] "
      "/FontDescriptor 16 0 R >>",
      "<< /Type /FontDescriptor /FontName /ABCDEF+Sym /Flags 4 /FontFile2 17 0 R >>",  // 16
      stream_obj(" /Length1 " + std::to_string(symbolic_ttf().size()), symbolic_ttf()),  // 17
      // 18: Identity-H over an embedded TrueType, no ToUnicode: the program's
      // own cmap, reversed, tells the characters of the glyph ids.
      "<< /Type /Font /Subtype /Type0 /BaseFont /LiberationSans /Encoding /Identity-H /DescendantFonts [19 0 R] >>",
      "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /LiberationSans /CIDSystemInfo << /Registry (Adobe) "
      "/Ordering (Identity) /Supplement 0 >> /FontDescriptor 20 0 R /CIDToGIDMap /Identity /DW 1000 "
      "/W [36 [667 667] 40 45 556] >>",  // 19
      "<< /Type /FontDescriptor /FontName /LiberationSans /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0 "
      "/Ascent 900 /Descent -200 /CapHeight 700 /StemV 80 /FontFile2 21 0 R >>",  // 20
      stream_obj(" /Length1 " + std::to_string(liberation().size()), liberation()),  // 21
      // 22: a predefined Shift-JIS CMap over the Japan1 ordering.
      "<< /Type /Font /Subtype /Type0 /BaseFont /MSGothic /Encoding /90ms-RKSJ-H /DescendantFonts [23 0 R] >>",
      "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /MSGothic /CIDSystemInfo << /Registry (Adobe) "
      "/Ordering (Japan1) /Supplement 2 >> /DW 1000 /W [231 325 500] >>",  // 23
      "<< /Type /Font /Subtype /TrueType /BaseFont /Arial /Encoding /WinAnsiEncoding /FirstChar 32 "
      "/LastChar 34 /Widths [278 278 355] /FontDescriptor << /Flags 32 /MissingWidth 250 >> >>",  // 24
      "<< /Type /Font /Subtype /Type1 /BaseFont /Courier-Bold /Encoding /WinAnsiEncoding >>",    // 25
      // 26: a ToUnicode that maps a code to a form feed.
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding /ToUnicode 27 0 R >>",
      stream_obj("", "begincmap 3 beginbfchar <41> <000C> <42> <0042> <43> <0009> endbfchar endcmap"),  // 27
      // 28: a predefined Unicode CMap: characters from the code, widths by CID.
      "<< /Type /Font /Subtype /Type0 /BaseFont /Mincho /Encoding /UniJIS-UCS2-H /DescendantFonts [29 0 R] >>",
      "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Mincho /CIDSystemInfo << /Registry (Adobe) "
      "/Ordering (Japan1) /Supplement 2 >> /DW 1000 /W [1 95 500] >>",  // 29
      // 30: vertical writing: /W2 and /DW2 give the advances.
      "<< /Type /Font /Subtype /Type0 /BaseFont /MinchoV /Encoding /Identity-V /DescendantFonts [31 0 R] >>",
      "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /MinchoV /CIDSystemInfo << /Registry (Adobe) "
      "/Ordering (Japan1) /Supplement 2 >> /DW2 [880 -1000] /W2 [843 [-900 500 880]] >>",  // 31
      "<< /Type /Font /Subtype /Type0 /BaseFont /Other /Encoding /No-Such-CMap-H /DescendantFonts [23 0 R] >>",
  };
}

class SourceFonts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::vector<std::string> o = font_objects();
    o[3] = stream_obj("", "");
    path_ = new std::string(zyk_test::write_temp("source_fonts.pdf", zyk_test::make_pdf(o)));
  }
  static void TearDownTestSuite() { delete path_; }
  void SetUp() override {
    zyk::ErrorText load_err;
    ASSERT_TRUE(zyk::doc_load(path_->c_str(), &doc_.d, &load_err)) << load_err.text;
    const char *res = "5 0 R";
    zyk::resource_fonts(doc_.d, reinterpret_cast<const byte *>(res), static_cast<int>(std::strlen(res)), &fonts_);
  }
  std::vector<zyk::TextCode> decode(const std::string &font, const std::string &bytes) {
    std::vector<zyk::TextCode> out;
    auto it = fonts_.by_name.find(font);
    EXPECT_NE(it, fonts_.by_name.end()) << font;
    if (it == fonts_.by_name.end()) return out;
    zyk::source_font_decode(*it->second, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), &out);
    return out;
  }
  std::u32string text(const std::string &font, const std::string &bytes) {
    std::u32string s;
    for (const zyk::TextCode &c : decode(font, bytes)) s += c.chars.empty() ? U"?" : c.chars;
    return s;
  }
  static std::string *path_;
  zyk::DocGuard doc_;
  zyk::ResourceFonts fonts_;
};
std::string *SourceFonts::path_ = nullptr;

TEST_F(SourceFonts, CharactersOfFontsWithoutEncodingOrToUnicode) {
  struct Case {
    const char *font;
    std::string bytes;
    std::u32string text;
  } cases[] = {
      // StandardEncoding for a Type 1 font without /Encoding: 0x27 and 0x60
      // are the curly quotes, not WinAnsi's straight ones.
      {"TR", "\x27" "a\x60", U"\u2019a\u2018"},
      {"SY", "abp\xb3", U"\u03b1\u03b2\u03c0\u2265"},
      {"ZD", "\x21\x6c", U"\u2701\u25cf"},
      // Built-in encodings of embedded programs: Type 1, CFF, symbolic TrueType.
      {"T1", "ABC", U"\u03b1\u03b2\u2665"},
      {"CF", "ABC", U"\u03b1\u03b2\u2665"},
      {"ST", "ABC", U"\u03b1\u03b2\u2665"},
      // Identity-H over an embedded TrueType: glyph ids 36, 37 of Liberation
      // Sans are A and B.
      {"IH", std::string("\x00\x24\x00\x25", 4), U"AB"},
      // 90ms-RKSJ-H: one byte for ASCII, two for kanji and kana (0x82A0 is
      // hiragana A, 0x93FA the kanji for "sun").
      {"RK", "A\x82\xa0\x93\xfa", U"A\u3042\u65e5"},
      {"UJ", std::string("\x30\x42\x00\x41", 4), U"\u3042A"},
      // A predefined CMap not carried: its codes are no CIDs, nothing known.
      {"XX", std::string("\x03\x4b", 2), U"?"},
  };
  for (const Case &c : cases) EXPECT_EQ(text(c.font, c.bytes), c.text) << c.font;
}

// Control characters are never the text of a glyph: WinAnsi codes below 32
// and ToUnicode entries mapping to them are unknown (the base encoding's
// letter would be wrong too: the entry says the code is none), except that
// a ToUnicode tab, line feed or return is the white space it stands for.
TEST_F(SourceFonts, ControlCharactersAreUnknown) {
  EXPECT_EQ(text("HV", std::string("a\x0c\x01\x7f" "b", 5)), U"a???b");
  EXPECT_EQ(text("TU", "ABC"), U"?B ");
  for (int c = 0; c < 256; c++) {
    for (const char *f : {"HV", "WD", "TR", "SY", "ZD", "TU"}) {
      auto codes = decode(f, std::string(1, static_cast<char>(c)));
      ASSERT_EQ(codes.size(), 1u);
      for (char32_t u : codes[0].chars) EXPECT_FALSE(u < 0x20 || (u >= 0x7f && u <= 0x9f)) << f << " code " << c;
    }
  }
}

TEST_F(SourceFonts, SourceAdvancesOfEveryKind) {
  struct Case {
    const char *font;
    std::string bytes;
    std::vector<float> widths;
  } cases[] = {
      {"TR", "Ta ", {611, 444, 250}},      // Times-Roman metrics, no /Widths
      {"CO", "ab\xe9", {600, 600, 600}},   // Courier-Bold
      {"SY", "a", {631}},                  // Symbol: alpha
      {"WD", "  \x22#", {278, 278, 355, 250}},  // /Widths from /FirstChar, then /MissingWidth
      {"T1", "ABCD", {500, 600, 700, 0}},  // no /MissingWidth: 0
      {"IH", std::string("\x00\x24\x00\x25\x00\x28\x00\x30", 8), {667, 667, 556, 1000}},  // /W both forms, /DW
      {"RK", "A\x82\xa0", {500, 1000}},    // one-byte codes are CIDs 231-325 of Japan1
      {"UJ", std::string("\x00\x41\x30\x42", 4), {500, 1000}},
      {"VT", std::string("\x03\x4b\x03\x4c", 4), {900, 1000}},  // vertical: W2 for CID 843, DW2 beyond
  };
  for (const Case &c : cases) {
    auto codes = decode(c.font, c.bytes);
    ASSERT_EQ(codes.size(), c.widths.size()) << c.font;
    for (std::size_t i = 0; i < codes.size(); i++) EXPECT_FLOAT_EQ(codes[i].width, c.widths[i]) << c.font << " #" << i;
  }
}

TEST(Std14, NamesOfTheStandardFaces) {
  struct Case {
    const char *name;
    const char *face;
  } cases[] = {
      {"Helvetica", "Helvetica"},          {"Arial,Bold", "Helvetica-Bold"},
      {"ArialMT", "Helvetica"},            {"Arial-BoldItalicMT", "Helvetica-BoldOblique"},
      {"TimesNewRomanPSMT", "Times-Roman"}, {"TimesNewRoman,Italic", "Times-Italic"},
      {"ABCDEF+Times-Bold", "Times-Bold"}, {"CourierNewPS-BoldMT", "Courier-Bold"},
      {"Courier-Oblique", "Courier-Oblique"}, {"Symbol", "Symbol"},
      {"ZapfDingbats", "ZapfDingbats"},
  };
  for (const Case &c : cases) {
    int i = zyk::std14_index(c.name);
    ASSERT_GE(i, 0) << c.name;
    EXPECT_STREQ(zyk::k_std14_fonts[i].name, c.face) << c.name;
  }
  for (const char *other : {"Helvetica-Narrow", "ArialNarrow", "Calibri", "Times-Roman-Condensed", "Verdana,Bold"})
    EXPECT_EQ(zyk::std14_index(other), -1) << other;
}

// The resource data: every kept CMap decodes and stays sorted, and the four
// orderings give their well-known characters.
TEST(CjkData, CMapsAndOrderingsDecode) {
  for (const char *n : {"H", "V", "90ms-RKSJ-H", "90ms-RKSJ-V", "GBK-EUC-H", "UniGB-UCS2-H", "UniKS-UCS2-H", "UniCNS-UCS2-V",
                        "KSCms-UHC-H", "ETen-B5-H", "UniJIS-UTF16-V"}) {
    zyk::PredefinedCMap m;
    ASSERT_TRUE(zyk::predefined_cmap(n, &m)) << n;
    EXPECT_FALSE(m.spaces.empty()) << n;
    ASSERT_FALSE(m.ranges.empty()) << n;
    for (std::size_t i = 1; i < m.ranges.size(); i++) ASSERT_GT(m.ranges[i].lo, m.ranges[i - 1].hi) << n;
  }
  zyk::PredefinedCMap m;
  EXPECT_FALSE(zyk::predefined_cmap("No-Such-H", &m));
  struct Case {
    const char *ordering;
    std::uint32_t cid, u;
  } cases[] = {{"Japan1", 843, 0x3042}, {"GB1", 34, 0x0041}, {"CNS1", 34, 0x0041}, {"Korea1", 34, 0x0041}};
  for (const Case &c : cases) {
    std::vector<std::uint32_t> t;
    ASSERT_TRUE(zyk::cid_ordering_chars(c.ordering, &t)) << c.ordering;
    ASSERT_GT(t.size(), c.cid);
    EXPECT_EQ(t[c.cid], c.u) << c.ordering;
  }
  std::vector<std::uint32_t> t;
  EXPECT_FALSE(zyk::cid_ordering_chars("Identity", &t));
}

std::string pdftotext(const std::string &path) { return zyk_test::pdftotext_words(path); }

// pdftotext reads the same text from the output as from the input for the
// fonts whose characters come from their programs or from predefined data.
// For two fonts poppler reads the input without using the program (a
// symbolic TrueType's codes as WinAnsi; Identity-H CIDs as character
// codes), so there the output is compared with what the glyphs show.
TEST_F(SourceFonts, ExtractedTextMatchesTheInput) {
  std::string have;
  if (zyk_test::run_command("command -v pdftotext >/dev/null", &have) != 0) GTEST_SKIP() << "pdftotext not installed";
  const std::string agreed =
      "BT /TR 12 Tf 20 280 Td (\\047quoted\\140 text) Tj ET\n"
      "BT /SY 12 Tf 20 260 Td (abg) Tj ET\n"
      "BT /ZD 12 Tf 20 240 Td (!l) Tj ET\n"
      "BT /T1 12 Tf 20 220 Td (ABC) Tj ET\n"
      "BT /CF 12 Tf 20 200 Td (ABC) Tj ET\n"
      "BT /RK 12 Tf 20 180 Td <4182a093fa> Tj ET\n"
      "BT /UJ 12 Tf 20 160 Td <30423044> Tj ET\n";
  const std::string own =
      "BT /ST 12 Tf 20 140 Td (ABC) Tj ET\n"
      "BT /IH 12 Tf 20 120 Td <002400250026> Tj ET\n";
  struct Run {
    std::string content;
    const char *expected;  // null: pdftotext of the input
  } runs[] = {{agreed, nullptr}, {own, "\u03b1\u03b2\u2665 ABC "}};
  int k = 0;
  for (const Run &r : runs) {
    std::vector<std::string> o = font_objects();
    o[3] = stream_obj("", r.content);
    std::string name = "source_fonts_e2e" + std::to_string(k++);
    std::string in = zyk_test::write_temp(name + ".pdf", zyk_test::make_pdf(o));
    std::string expected = r.expected ? r.expected : pdftotext(in);
    if (!r.expected) {
      ASSERT_NE(expected.find("\u2019quoted\u2018"), std::string::npos) << expected;
    }
    std::string out = zyk_test::temp_dir() + "/" + name + "_out.pdf";
    ASSERT_EQ(pdfa_convert_2b(in.c_str(), out.c_str()), 1) << pdfa_last_error();
    EXPECT_EQ(pdftotext(out), expected);
  }
}

}  // namespace

// The font resources of a resource dictionary, read by tokens: the /Font
// entry's own entries, inline or by reference; a ">>" in a string or a
// comment does not end it, a nested dictionary's entries are not its own,
// and only "N G R" references a font.
TEST(ResourceFonts, FontEntriesAreReadByTokens) {
  zyk::DocGuard g;
  std::string path = zyk_test::write_temp(
      "resource_fonts.pdf",
      zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                          "<< /Type /Page /Parent 2 0 R >>", "<< /F1 5 0 R /F2 6 0 R >>",
                          "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
                          "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>", "<< /Type /ExtGState >>"}));
  zyk::ErrorText load_err;
  ASSERT_TRUE(zyk::doc_load(path.c_str(), &g.d, &load_err)) << load_err.text;
  struct Case {
    const char *what;
    std::string res;
    std::vector<std::string> names;
  } cases[] = {
      {"inline", "<< /Font << /F1 5 0 R /F2 6 0 R >> /ProcSet [/PDF /Text] >>", {"F1", "F2"}},
      {"no white space", "<</Font<</F1 5 0 R/F2 6 0 R>>/ProcSet[/PDF/Text]>>", {"F1", "F2"}},
      {"line ends and tabs", "<< /Font\r\n<<\n/F1\n5\r\n0\tR >> >>", {"F1"}},
      {"by reference", "<< /Font 4 0 R >>", {"F1", "F2"}},
      {"a string holding >>", "<< /Font << /F1 5 0 R /Note (a >> b \\) c) /F2 6 0 R >> >>", {"F1", "F2"}},
      {"a comment holding >>", "<< /Font << /F1 5 0 R % >> /F9 9 0 R\n /F2 6 0 R >> >>", {"F1", "F2"}},
      {"a nested dictionary's entries are not fonts", "<< /Font << /F1 5 0 R /Sub << /F2 6 0 R >> >> >>", {"F1"}},
      {"what is no font dictionary is left out", "<< /Font << /F1 5 0 R /G 7 0 R /M 99 0 R >> >>", {"F1"}},
      {"the first entry of a name counts", "<< /Font << /F1 5 0 R /F1 6 0 R >> >>", {"F1"}},
      {"names with #xx", "<< /Font << /F#31 5 0 R >> >>", {"F1"}},
      {"only the key Font counts", "<< /FontX << /F1 5 0 R >> /Fonts << /F2 6 0 R >> >>", {}},
  };
  for (const Case &c : cases) {
    zyk::ResourceFonts f;
    zyk::resource_fonts(g.d, reinterpret_cast<const byte *>(c.res.data()), static_cast<int>(c.res.size()), &f);
    std::vector<std::string> got;
    for (const auto &[name, font] : f.by_name) got.push_back(name);
    EXPECT_EQ(got, c.names) << c.what;
  }
  // With one cache over every case, twice (as a conversion keeps it over
  // its pages), the same names are listed; each font object is read once
  // and shared between calls, and what is no font, though remembered, is
  // still left out.
  zyk::SourceFontCache cache;
  std::shared_ptr<const zyk::SourceFont> first_f1;
  for (int round = 0; round < 2; round++)
    for (const Case &c : cases) {
      zyk::ResourceFonts f;
      zyk::resource_fonts(g.d, reinterpret_cast<const byte *>(c.res.data()), static_cast<int>(c.res.size()), &f,
                          &cache);
      std::vector<std::string> got;
      for (const auto &[name, font] : f.by_name) got.push_back(name);
      EXPECT_EQ(got, c.names) << c.what << " (cached, round " << round << ")";
      if (f.by_name.count("F1") == 0) continue;
      if (!first_f1) first_f1 = f.by_name["F1"];
      EXPECT_EQ(f.by_name["F1"], first_f1) << c.what;
    }
  EXPECT_EQ(cache.by_num.size(), 3u);  // 5 and 6, and 7 as no font
  ASSERT_EQ(cache.by_num.count(7), 1u);
  EXPECT_EQ(cache.by_num[7], nullptr);
  // Fonts of one object named twice are read once and shared.
  zyk::ResourceFonts f;
  std::string res = "<< /Font << /A 5 0 R /B 5 0 R >> >>";
  zyk::resource_fonts(g.d, reinterpret_cast<const byte *>(res.data()), static_cast<int>(res.size()), &f);
  ASSERT_EQ(f.by_name.size(), 2u);
  EXPECT_EQ(f.by_name["A"], f.by_name["B"]);
}
