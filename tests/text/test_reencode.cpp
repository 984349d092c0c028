// Text re-encoding for the substitute font: the content walk, the string
// syntaxes, the sources of a code's characters (ToUnicode, /Differences,
// base encodings, composite CMaps), the stand-in glyph, and glyph names.
//
// The oracle for "which character does a written glyph show" is the
// substitute font's own cmap (ttf_unicode_to_gid), not the re-encoder: the
// tests decode the written strings back into glyph ids and compare them with
// the glyphs of the expected characters.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "font/glyph_names.h"
#include "test_support.h"
#include "writer/text.h"

namespace {

using zyk::byte;

int gid_of(char32_t u) {
  auto f = zyk::font_liberation_sans();
  return zyk::ttf_unicode_to_gid(f.data(), f.size(), u);
}

// The glyph ids of every literal string outside dictionaries, in order; the
// only escapes the writer produces are \( \) \\ \r \n.
std::vector<std::vector<int>> shown_glyphs(const std::string &c) {
  std::vector<std::vector<int>> all;
  int dict = 0;
  for (std::size_t i = 0; i < c.size(); i++) {
    if (c.compare(i, 2, "<<") == 0) dict++, i++;
    else if (c.compare(i, 2, ">>") == 0) dict--, i++;
    else if (c[i] == '(' && dict == 0) {
      std::string b;
      for (i++; i < c.size() && c[i] != ')'; i++) {
        if (c[i] == '\\') {
          char x = c[++i];
          b += x == 'r' ? '\r' : x == 'n' ? '\n' : x;
        } else {
          b += c[i];
        }
      }
      std::vector<int> g;
      for (std::size_t k = 0; k + 1 < b.size(); k += 2)
        g.push_back(static_cast<unsigned char>(b[k]) << 8 | static_cast<unsigned char>(b[k + 1]));
      all.push_back(g);
    }
  }
  return all;
}

std::vector<int> gids(const std::u32string &s) {
  std::vector<int> g;
  for (char32_t u : s) g.push_back(gid_of(u));
  return g;
}

std::vector<int> flat(const std::vector<std::vector<int>> &v) {
  std::vector<int> f;
  for (auto &x : v) f.insert(f.end(), x.begin(), x.end());
  return f;
}

std::string stream_obj(const std::string &dict_extra, const std::string &data) {
  return "<< /Length " + std::to_string(data.size()) + dict_extra + " >>\nstream\n" + data + "\nendstream";
}

const char *k_tounicode =
    "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
    "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
    "2 beginbfchar <0003> <0041> <0050> <4E2D> endbfchar\n"
    "% the count below is wrong on purpose: producers get it wrong\n"
    "1 beginbfrange <0010> <0012> <0061>\n<0020> <0021> [<0058> <00660069>] endbfrange\n"
    "endcmap CMapName currentdict /CMap defineresource pop end end\n";

const char *k_simple_tounicode =
    "begincmap 1 beginbfchar <41> <0051> endbfchar 1 beginbfrange <30> <31> <0078> endbfrange endcmap";

class Reencode : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::vector<std::string> o = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",     // 4
        "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H /ToUnicode 6 0 R >>",  // 5
        stream_obj("", k_tounicode),                                                                // 6
        "<< /Type /Font /Subtype /Type1 /BaseFont /T /Encoding 8 0 R >>",                          // 7
        "<< /Type /Encoding /BaseEncoding /WinAnsiEncoding /Differences [65 /B /uni0043 /u00C9 70 /g123 "
        "/f_i /a#2Esc 100 /uni00410042] >>",                                                        // 8
        "<< /Type /Font /Subtype /TrueType /BaseFont /M /Encoding /MacRomanEncoding >>",            // 9
        "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [1 0 0 1 0 0] /CharProcs << >> "
        "/Encoding << /Differences [65 /A] >> /FirstChar 65 /LastChar 65 /Widths [1] >>",          // 10
        "<< /Type /Font /Subtype /Type1 /BaseFont /U /ToUnicode 12 0 R "
        "/Encoding << /Differences [65 /Z] >> >>",                                                  // 11
        stream_obj("", k_simple_tounicode),                                                          // 12
        "<< /Type /Font /Subtype /Type0 /BaseFont /V /Encoding /UniGB-UCS2-H >>",                   // 13
    };
    path_ = new std::string(zyk_test::write_temp("reencode.pdf", zyk_test::make_pdf(o)));
  }
  static void TearDownTestSuite() { delete path_; }

  void SetUp() override {
    zyk::ErrorText err;
    ASSERT_TRUE(zyk::doc_load(path_->c_str(), &doc_.d, &err)) << err.text;
    const char *res =
        "<< /Font << /F1 4 0 R /C 5 0 R /D 7 0 R /M 9 0 R /T3 10 0 R /U 11 0 R /F1.0 4 0 R /W 13 0 R "
        "/In << /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /MacRomanEncoding >> >> >>";
    zyk::resource_fonts(doc_.d, reinterpret_cast<const byte *>(res), static_cast<int>(std::strlen(res)), &fonts_);
  }

  std::string run(const std::string &content) {
    std::string out;
    zyk::text_rewrite(fonts_, reinterpret_cast<const byte *>(content.data()), static_cast<int>(content.size()), nullptr,
                      use_, &out);
    return out;
  }

  static std::string *path_;
  zyk::GlyphUse use_;
  zyk::DocGuard doc_;
  zyk::ResourceFonts fonts_;
};
std::string *Reencode::path_ = nullptr;

// Operators, string syntaxes and escapes, all with the WinAnsi font.
TEST_F(Reencode, EveryShowOperatorAndStringSyntaxIsReencoded) {
  struct Case {
    const char *content;
    std::u32string text;
  } cases[] = {
      {"BT /F1 12 Tf (AB) Tj ET", U"AB"},
      {"BT /F1 9.5 Tf (A\\101\\(\\)\\\\) Tj ET", U"AA()\\"},
      {"BT /F1 12 Tf (\\1011\\0617) Tj ET", U"A11" "7"},
      {"BT /F1 12 Tf (A\\\nB\\\r\nC) Tj ET", U"ABC"},
      {"BT /F1 12 Tf (a\\qb(c)d) Tj ET", U"aqb(c)d"},
      {"BT /F1 12 Tf <41 42\n43> Tj <444> Tj ET", U"ABCD@"},
      {"BT /F1 12 Tf [(A) -120 <4243> 5 (D)] TJ ET", U"ABCD"},
      {"BT /F1 12 Tf (x) ' 1 2 (y) \" ET", U"xy"},
      {"BT/F1 12 Tf(A)Tj 2 Tc(B)' ET", U"AB"},
      {"BT /F1.0 12 Tf (E) Tj ET", U"E"},
      {"BT /In 12 Tf (\x8E) Tj ET", U"\u00E9"},
  };
  for (const Case &c : cases) {
    std::string out = run(c.content);
    EXPECT_EQ(flat(shown_glyphs(out)), gids(c.text)) << c.content << "\n-> " << out;
  }
  // Numbers of TJ stay as they were when the advances agree (Helvetica's
  // metrics are the substitute font's), and " becomes its three parts: the
  // word spacing cannot act on two-byte codes, so it is folded into the
  // positions instead.
  const char k_kept[] = "[(\0$)-120(\0%)5(\0')] TJ";  // A, B, D are glyphs 36, 37, 39
  std::string out = run("/F1 1 Tf [(A) -120 <42> 5 (D)] TJ");
  EXPECT_NE(out.find(std::string(k_kept, sizeof k_kept - 1)), std::string::npos) << out;
  EXPECT_EQ(out.find("Tz"), std::string::npos) << out;
  EXPECT_NE(run("/F1 1 Tf 1 2 (y) \"").find("1 Tw 2 Tc T* [("), std::string::npos);
  // Operands written right after the previous operator still get a
  // separator when they are replaced by operators that start with a word.
  out = run("/In 12 Tf(A)Tj");  // Courier: the substitute's A is scaled
  EXPECT_NE(out.find("Tf 89.955 Tz"), std::string::npos) << out;  // 600 / 667
  EXPECT_NE(out.find(" Tz"), std::string::npos) << out;
}

// Glyph ids whose bytes are delimiters or line ends must survive a reader.
TEST_F(Reencode, GlyphBytesThatNeedEscapingRoundTrip) {
  std::u32string tricky;
  for (char32_t u = 0x20; u < 0x100; u++) {
    int g = gid_of(u);
    int lo = g & 0xFF;
    if (g > 0 && (lo == '(' || lo == ')' || lo == '\\' || lo == '\r' || lo == '\n')) tricky += u;
  }
  ASSERT_GE(tricky.size(), 3u);  // E and F are glyphs 40 and 41 of the font
  std::string s = "/F1 1 Tf (";
  for (char32_t u : tricky) s += static_cast<char>(u);
  s += ") Tj";
  std::string out = run(s);
  EXPECT_EQ(flat(shown_glyphs(out)), gids(tricky)) << out;
  EXPECT_EQ(out.find('\r'), std::string::npos);
}

// Strings that are not shown text are copied byte for byte.
TEST_F(Reencode, StringsOutsideTextOperatorsStayUnchanged) {
  const char *same[] = {
      "BT (AB) Tj ET",                                                  // no font selected
      "BT /T3 12 Tf (A) Tj [(A)] TJ ET",                                // Type3 fonts are kept
      "/F1 12 Tf /Span <</ActualText (zz) /Alt <4142>>> BDC EMC",       // property lists
      "/F1 12 Tf BI /W 1 /H 1 /BPC 8 /CS /G ID ()Tj\n EI",              // inline image data
      "/F1 12 Tf % (A) Tj in a comment\n",
      "/F1 12 Tf (A) (B) 5 0 obj",                                      // strings not shown
  };
  for (const char *c : same) EXPECT_EQ(run(c), c);
}

// The current font follows Tf, q/Q, and unlisted names fall back to WinAnsi.
TEST_F(Reencode, FontSelectionFollowsGraphicsStateAndUnlistedNames) {
  std::string out = run("/T3 1 Tf q /F1 1 Tf (A) Tj Q (A) Tj q /Nowhere 1 Tf (B) Tj Q");
  auto s = shown_glyphs(out);
  ASSERT_EQ(s.size(), 3u) << out;
  EXPECT_EQ(s[0], gids(U"A"));
  EXPECT_EQ(s[2], gids(U"B"));
  EXPECT_NE(out.find("Q (A) Tj"), std::string::npos) << out;  // back to the Type3 font
}

// Composite font: Identity-H codes through the ToUnicode CMap (bfchar, both
// bfrange forms); a code without Unicode and a character the font lacks are
// drawn with the stand-in, and the operator carries /ActualText.
TEST_F(Reencode, CompositeCodesGoThroughToUnicode) {
  std::string out = run("/C 1 Tf <0003 0010 0011 0012 0020 0021> Tj");
  EXPECT_EQ(flat(shown_glyphs(out)), gids(U"AabcXfi")) << out;
  EXPECT_EQ(out.find("ActualText"), std::string::npos);

  out = run("/C 1 Tf [<0003> 50 <0099 0050>] TJ");
  const int box = gid_of(0x25A1);
  ASSERT_GT(box, 0);
  EXPECT_EQ(flat(shown_glyphs(out)), (std::vector<int>{gid_of('A'), box, box})) << out;
  EXPECT_NE(out.find("/Span<</ActualText<FEFF00414E2D>>>BDC ["), std::string::npos) << out;
  EXPECT_NE(out.find("] TJ EMC"), std::string::npos) << out;

  // A predefined UCS-2 CMap: the codes are the characters.
  out = run("/W 1 Tf <00480069> Tj");
  EXPECT_EQ(flat(shown_glyphs(out)), gids(U"Hi")) << out;
}

// Simple fonts: ToUnicode first, then /Differences names, then the base.
TEST_F(Reencode, SimpleCodesGoThroughToUnicodeThenDifferencesThenBase) {
  struct Case {
    const char *content;
    std::u32string text;
  } cases[] = {
      {"/D 1 Tf (ABCDE) Tj", U"BC\u00C9DE"},   // /B /uni0043 /u00C9, D and E from WinAnsi
      {"/D 1 Tf (FGH) Tj", U"Ffia"},           // /g123 means nothing: WinAnsi F; f_i is f, i
      {"/D 1 Tf (d) Tj", U"AB"},               // uni00410042: two characters
      {"/U 1 Tf (ABZ01) Tj", U"QBZxy"},        // ToUnicode over /Differences
      {"/M 1 Tf (\x8E\xA5) Tj", U"\u00E9\u2022"},
  };
  for (const Case &c : cases) {
    std::string out = run(c.content);
    EXPECT_EQ(flat(shown_glyphs(out)), gids(c.text)) << c.content << "\n-> " << out;
  }
}

// No written glyph is glyph 0, whatever the code.
TEST_F(Reencode, NoCodeEverBecomesGlyphZero) {
  std::string all = "/F1 1 Tf (";
  for (int c = 1; c < 256; c++) {
    if (c == '(' || c == ')' || c == '\\' || c == '\r') continue;
    all += static_cast<char>(c);
  }
  all += ") Tj";
  std::string out = run(all);
  auto g = flat(shown_glyphs(out));
  EXPECT_EQ(g.size(), 251u);
  for (int x : g) EXPECT_GT(x, 0);
  EXPECT_TRUE(use_.glyphs().empty() || use_.glyphs()[0] > 0);
}

// The ToUnicode CMap written for the glyphs used gives back the characters.
TEST_F(Reencode, WrittenToUnicodeGivesBackTheCharacters) {
  std::string out = run("/D 1 Tf (ABC) Tj /C 1 Tf <0010> Tj");
  zyk::BufGuard cmap;
  zyk::tu_emit(use_, &cmap.b);
  zyk::SourceCMap m;
  zyk::cmap_parse(reinterpret_cast<const unsigned char *>(cmap.b.chars), cmap.b.used, &m);
  std::u32string got;
  for (int g : flat(shown_glyphs(out))) got += zyk::cmap_lookup(m, static_cast<std::uint32_t>(g));
  EXPECT_EQ(got, U"BC\u00C9a");
}

TEST(SourceCMap, ParsesRangesCharsAndCodeSpace) {
  zyk::SourceCMap m;
  zyk::cmap_parse(reinterpret_cast<const unsigned char *>(k_tounicode), std::strlen(k_tounicode), &m);
  ASSERT_EQ(m.spaces.size(), 1u);
  EXPECT_EQ(m.spaces[0].nbytes, 2);
  struct {
    std::uint32_t code;
    std::u32string chars;
  } cases[] = {{3, U"A"}, {0x50, U"\u4E2D"}, {0x10, U"a"}, {0x12, U"c"}, {0x13, U""},
               {0x20, U"X"}, {0x21, U"fi"}, {0x22, U""}, {0, U""}};
  for (auto &c : cases) EXPECT_EQ(zyk::cmap_lookup(m, c.code), c.chars) << c.code;

  // Surrogate pairs, a range counting over a byte boundary, junk between.
  const char *t = "beginbfchar <01> <D83DDE00> /junk ( ) <02> <0041> endbfchar "
                  "beginbfrange <10> <12> <00FF> <30> <2F> <0041> endbfrange";
  zyk::SourceCMap m2;
  zyk::cmap_parse(reinterpret_cast<const unsigned char *>(t), std::strlen(t), &m2);
  EXPECT_EQ(zyk::cmap_lookup(m2, 1), U"\U0001F600");
  EXPECT_EQ(zyk::cmap_lookup(m2, 2), U"A");
  EXPECT_EQ(zyk::cmap_lookup(m2, 0x12), U"\u0101");
  EXPECT_EQ(zyk::cmap_lookup(m2, 0x30), U"");  // high below low: dropped
}

// Ranges may overlap, nest and repeat; the code's characters come from the
// first range in the text that holds it, as a scan of the ranges in order
// finds (the oracle here), whatever the index does.
TEST(SourceCMap, OverlappingRangesAnswerAsTheFirstInOrder) {
  auto hex = [](unsigned v, int digits) {
    char b[16];
    std::snprintf(b, sizeof b, "<%0*X>", digits, v);
    return std::string(b);
  };
  std::string t = "beginbfrange\n";
  std::uint32_t seed = 12345;
  auto rnd = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int i = 0; i < 400; i++) {
    unsigned lo = rnd(0x300), hi = lo + rnd(i % 7 == 0 ? 0x180 : 24);
    if (hi > 0xFFFF) hi = 0xFFFF;
    t += hex(lo, 4) + " " + hex(hi, 4) + " ";
    if (i % 3 == 0) {
      t += "[";
      for (unsigned k = 0, n = rnd(6); k < n; k++) t += hex(0x3000 + static_cast<unsigned>(i) * 8 + k, 4);
      t += "]\n";
    } else {
      t += hex(0x4E00 + static_cast<unsigned>(i) * 64, 4) + "\n";
    }
  }
  // Four-byte codes up to the last one.
  t += "<FFFFFF00> <FFFFFFFF> <0041>\n<FFFFFFF0> <FFFFFFFF> <0061>\nendbfrange\n";
  zyk::SourceCMap m;
  zyk::cmap_parse(reinterpret_cast<const unsigned char *>(t.data()), t.size(), &m);
  ASSERT_EQ(m.ranges.size(), 402u);
  auto scan = [&m](std::uint32_t code) -> std::u32string {
    for (const zyk::SourceCMap::Range &r : m.ranges) {
      if (code < r.lo || code > r.hi) continue;
      std::uint32_t k = code - r.lo;
      if (!r.base.empty()) {
        std::u32string s = r.base;
        s.back() += k;
        return s.back() > 0x10FFFF || (s.back() >= 0xD800 && s.back() <= 0xDFFF) ? U"" : s;
      }
      return k < r.list.size() ? r.list[k] : U"";
    }
    return U"";
  };
  for (std::uint32_t code = 0; code < 0x600; code++) ASSERT_EQ(zyk::cmap_lookup(m, code), scan(code)) << code;
  for (std::uint32_t code : {0xFFFFFEFFu, 0xFFFFFF00u, 0xFFFFFFEFu, 0xFFFFFFF0u, 0xFFFFFFFFu})
    EXPECT_EQ(zyk::cmap_lookup(m, code), scan(code)) << code;
  EXPECT_EQ(zyk::cmap_lookup(m, 0xFFFFFFFFu), U"\u0140");
}

TEST(GlyphNames, AglNamesAndNumericForms) {
  struct {
    const char *name;
    std::u32string chars;
  } cases[] = {
      {"A", U"A"},          {"Eacute", U"\u00C9"}, {"quotedblleft", U"\u201C"}, {"fi", U"\uFB01"},
      {"f_i", U"fi"},       {"a.sc", U"a"},        {"uni00410042", U"AB"},      {"u1F600", U"\U0001F600"},
      {"uni0041.alt", U"A"}, {"uni004", U""},      {"uniD800", U""},            {"u00e9", U""},
      {"g123", U""},        {"", U""},             {"A_g123", U""},             {"u110000", U""},
  };
  for (auto &c : cases) EXPECT_EQ(zyk::glyph_name_to_unicode(c.name), c.chars) << c.name;
}

}  // namespace
