// Conformance of what is copied: one small source per cause that would make
// an output fail PDF/A. Each converts, for each part, either to a file that
// lacks the fault (and, when the shared checkers are present, passes
// pdfa-lint for its part and, for part 1, the PDF/A-1 validator) or to a
// refusal with its message.
#include <filesystem>
#include <regex>
#include <sstream>

#include "writer/writer.h"
#include "writer_fixture.h"

namespace {

// A JP2 file's boxes up to an empty codestream: channels, bit depth (1..38)
// and the colour specifications (method, approximation) given.
std::string jp2(int channels, int depth, const std::vector<std::pair<int, int>> &colr) {
  auto box = [](const char *type, const std::string &body) {
    std::string b;
    std::uint32_t len = static_cast<std::uint32_t>(body.size() + 8);
    for (int s = 24; s >= 0; s -= 8) b += static_cast<char>((len >> s) & 0xFF);
    return b + type + body;
  };
  std::string ihdr = std::string("\0\0\0\x10\0\0\0\x10", 8);
  ihdr += static_cast<char>(channels >> 8);
  ihdr += static_cast<char>(channels & 0xFF);
  ihdr += static_cast<char>(depth - 1);
  ihdr += std::string("\x07\0\0", 3);
  std::string head = box("ihdr", ihdr);
  for (auto [meth, approx] : colr)
    head += box("colr", std::string(1, static_cast<char>(meth)) + '\0' + static_cast<char>(approx) +
                            std::string("\0\0\0\x10", 4));
  return box("jP  ", "\r\n\x87\n") + box("ftyp", std::string("jp2 \0\0\0\0jp2 ", 12)) + box("jp2h", head) +
         box("jp2c", std::string("\xff\x4f\xff\xd9", 4));
}

std::string page_with(const std::string &resources, const std::string &content,
                      const std::vector<std::string> &more) {
  std::vector<std::string> b = wt::one_page("", content, resources);
  b.insert(b.end(), more.begin(), more.end());
  return zyk_test::make_pdf(b);
}

std::string gs_page(const std::string &gs) {
  return page_with("<< /ExtGState << /G1 5 0 R >> >>", "/G1 gs 0 0 50 50 re f", {gs});
}

std::string image_page(const std::string &image_dict, const std::string &data, const std::vector<std::string> &more) {
  std::vector<std::string> objs = {wt::stream(image_dict, data)};
  objs.insert(objs.end(), more.begin(), more.end());
  return page_with("<< /XObject << /Im1 5 0 R >> >>", "q 50 0 0 50 0 0 cm /Im1 Do Q", objs);
}

std::string form_page(const std::string &form_dict, const std::string &data, const std::vector<std::string> &more = {}) {
  std::vector<std::string> objs = {wt::stream("/Type /XObject /Subtype /Form " + form_dict, data)};
  objs.insert(objs.end(), more.begin(), more.end());
  return page_with("<< /XObject << /Fm1 5 0 R >> >>", "/Fm1 Do", objs);
}

const std::string k_transparent = "page 1: transparency cannot be kept in PDF/A-1 (use part 2)";
const std::string k_gray_image = "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray "
                                 "/BitsPerComponent 8";

struct Case {
  const char *what;
  std::string pdf;
  std::string refused[3];  // by part: the message, or "" when written
  const char *absent;      // a regex the written output must not match (or null)
  const char *present;     // one it must match (or null)
  int absent_in = 3;       // the parts (bit 1: part 1, bit 2: part 2) where `absent` holds
  // Regexes over the decoded data of every stream written: what the
  // content must not hold, and what it must.
  const char *content_absent = nullptr;
  const char *content_present = nullptr;
  int content_in = 3;  // the parts where the two content regexes hold
  int present_in = 3;  // the parts where `present` holds
};

std::string repeat(const std::string &s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<std::size_t>(n));
  for (int i = 0; i < n; i++) out += s;
  return out;
}

// Pages whose content is as given, in forms and patterns too.
std::string pattern_page(const std::string &pattern_extra, const std::string &data) {
  return page_with("<< /Pattern << /P1 5 0 R >> >>", "/Pattern cs /P1 scn 0 0 50 50 re f",
                   {wt::stream("/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] /XStep 10 /YStep 10 " +
                                   pattern_extra,
                               data)});
}

std::string appearance_page(const std::string &data) {
  std::vector<std::string> b = wt::one_page("/Annots [5 0 R]", "0 0 10 10 re f");
  b.push_back("<< /Type /Annot /Subtype /Square /Rect [0 0 20 20] /F 4 /AP << /N 6 0 R >> >>");
  b.push_back(wt::stream("/BBox [0 0 20 20]", data));
  return zyk_test::make_pdf(b);
}

std::string inline_image(const std::string &dict, const std::string &data) {
  return "q 10 0 0 10 0 0 cm BI " + dict + " ID " + data + " EI Q 0 0 5 5 re f";
}

const std::string k_too_deep = "graphics states nested deeper than 28";

// A form of 10 levels painted under `levels` levels of the page's content.
std::string deep_form_page(int levels) {
  return page_with("<< /XObject << /Fm1 5 0 R >> >>",
                   repeat("q 1 0 0 1 1 1 cm ", levels) + "/Fm1 Do" + repeat(" Q", levels),
                   {wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 50 50]",
                               repeat("q 0.5 g ", 10) + "0 0 1 1 re f" + repeat(" Q", 10))});
}

std::vector<Case> cases() {
  return {
      {"identity transfer functions", gs_page("<< /Type /ExtGState /TR /Identity /TR2 /Default /LW 2 >>"), {"", "", ""},
       "/TR", "/LW 2"},
      {"identity transfer function per component",
       gs_page("<< /Type /ExtGState /TR[/Identity/Identity/Identity/Identity]/OP true >>"), {"", "", ""}, "/TR",
       "/OP true"},
      {"a real transfer function",
       gs_page("<< /Type /ExtGState /TR 6 0 R >>") ,
       {"", "page 1: transfer function cannot be kept in PDF/A", "page 1: transfer function cannot be kept in PDF/A"},
       nullptr, nullptr},
      {"identity transfer function in a graphics state without /Type", gs_page("<< /TR /Identity /LW 2 >>"),
       {"", "", ""}, "/TR", "/LW 2"},
      {"direct graphics state without /Type",
       page_with("<< /ExtGState << /G1 << /CA 0.5 >> >> >>", "/G1 gs 0 0 50 50 re f", {}), {"", k_transparent, ""},
       nullptr, "/CA 0.5"},
      {"graphics states in a referenced /ExtGState dictionary, one of them without /Type",
       page_with("<< /ExtGState 5 0 R >>", "/G1 gs /G2 gs 0 0 50 50 re f",
                 {"<< /G1 6 0 R /G2 << /Type /ExtGState /TR /Identity >> >>", "<< /ca 0.4 /TR /Default >>"}),
       {"", k_transparent, ""}, "/TR", "/ca 0.4"},
      {"font resources named like graphics-state keys",
       page_with("<< /Font << /TR 5 0 R /CA 5 0 R /SMask 5 0 R >> >>", "BT /TR 12 Tf 10 10 Td (x) Tj ET",
                 {"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}),
       {"", "", ""}, nullptr, nullptr},
      {"constant alpha", gs_page("<< /Type /ExtGState /ca 0.5 >>"), {"", k_transparent, ""}, nullptr, "/ca 0.5"},
      {"blend mode", gs_page("<< /BM /Multiply >>"), {"", k_transparent, ""}, nullptr, "/BM /Multiply"},
      {"normal blend mode", gs_page("<< /BM [/Normal /Compatible] /CA 1 >>"), {"", "", ""}, nullptr, nullptr},
      {"soft mask in a graphics state",
       gs_page("<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G 6 0 R >> >>"), {"", k_transparent, ""},
       nullptr, "/Luminosity"},
      {"soft mask that masks nothing",
       image_page(k_gray_image + " /SMask 6 0 R", "\x10\x20\x30\x40", {wt::stream(k_gray_image, "\xff\xff\xff\xff")}),
       {"", "", ""}, "/SMask", nullptr},
      {"soft mask that masks",
       image_page(k_gray_image + " /SMask 6 0 R", "\x10\x20\x30\x40", {wt::stream(k_gray_image, "\xff\x80\xff\xff")}),
       {"", k_transparent, ""}, nullptr, "/SMask"},
      {"opaque transparency group on a form",
       form_page("/BBox [0 0 50 50] /Group << /S /Transparency /CS /DeviceRGB >>", "0 0 10 10 re f"), {"", "", ""},
       nullptr, nullptr},
      {"LZW form content",
       form_page("/BBox [0 0 50 50] /Filter /LZWDecode", wt::lzw_plain("0 0 10 10 re f")), {"", "", ""}, "/LZW", nullptr},
      {"LZW image",
       image_page(k_gray_image + " /Filter /LZWDecode", wt::lzw_plain("\x10\x20\x30\x40"), {}), {"", "", ""}, "/LZW",
       "/FlateDecode"},
      {"undecodable form content",
       form_page("/BBox [0 0 50 50] /Filter /FlateDecode", "not deflate data"),
       {"", "page 1: form XObject 5: cannot read content stream (FlateDecode: corrupt data)",
        "page 1: form XObject 5: cannot read content stream (FlateDecode: corrupt data)"},
       nullptr, nullptr},
      {"JPEG 2000 image",
       image_page("/Type /XObject /Subtype /Image /Width 16 /Height 16 /Filter /JPXDecode", jp2(3, 8, {{1, 0}}), {}),
       {"", "page 1: JPEG 2000 image cannot be kept in PDF/A-1 (use part 2)", ""}, nullptr, "/JPXDecode"},
      {"JPEG 2000 image with two channels",
       image_page("/Type /XObject /Subtype /Image /Width 16 /Height 16 /Filter /JPXDecode", jp2(2, 8, {{1, 0}}), {}),
       {"", "page 1: JPEG 2000 image cannot be kept in PDF/A-1 (use part 2)",
        "page 1: JPEG 2000 image 5 cannot be kept in PDF/A-2: it has a number of colour channels other than 1, 3 or 4"},
       nullptr, nullptr},
      {"JPEG 2000 image with two approximate colour specifications",
       image_page("/Type /XObject /Subtype /Image /Width 16 /Height 16 /Filter /JPXDecode",
                  jp2(3, 8, {{1, 0}, {2, 0}}), {}),
       {"", "page 1: JPEG 2000 image cannot be kept in PDF/A-1 (use part 2)",
        "page 1: JPEG 2000 image 5 cannot be kept in PDF/A-2: it has several colour specifications and not exactly "
        "one exact one"},
       nullptr, nullptr},
      {"font naming a missing object",
       page_with("<< /Font << /F1 99 0 R >> >>", "BT /F1 12 Tf 10 10 Td (A) Tj ET", {}),
       {"", "page 1: font /F1 names object 99, which does not exist",
        "page 1: font /F1 names object 99, which does not exist"},
       nullptr, nullptr},
      {"device CMYK image",
       image_page("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceCMYK /BitsPerComponent 8",
                  std::string("\x00\xff\x00\x00", 4), {}),
       {"", "", ""}, "/DeviceCMYK", "/ICCBased"},
      {"device CMYK as a separation's alternate and in a shading",
       page_with("<< /ColorSpace << /Spot 5 0 R /Ix [/Indexed /DeviceCMYK 0 <00ff0000>] >> /Shading << /Sh 6 0 R >> >>",
                 "/Spot cs 1 sc 0 0 10 10 re f /Ix cs 0 sc 10 10 10 10 re f /Sh sh",
                 {"[/Separation/Gold/DeviceCMYK<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.2 1 0] /N 1 >>]",
                  "<< /ShadingType 2 /ColorSpace /DeviceCMYK /Coords [0 0 50 0] /Function << /FunctionType 2 "
                  "/Domain [0 1] /C0 [1 0 0 0] /C1 [0 0 1 0] /N 1 >> >>"}),
       {"", "", ""}, "/DeviceCMYK", "/Gold \\d+ 0 R"},
      {"page box of 1e308",
       zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                           "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1e308 100] /Contents 4 0 R >>",
                           wt::stream("", "0 0 10 10 re f")}),
       {"", "page 1: page box beyond the limits of PDF/A", "page 1: page box beyond the limits of PDF/A"}, nullptr,
       nullptr},
      {"form box beyond the real limit",
       form_page("/BBox [-32768.5 -32768.5 32768.5 32768.5]", "0 0 10 10 re f"), {"", "", ""}, "32768", nullptr, 1},
      {"undefined operators in page content, inside BX/EX too",
       page_with("<< >>", "0 0 10 10 re xxx f 1 2 yyy 0.5 g BX 3 zzz EX 0 0 5 5 re f", {}), {"", "", ""}, nullptr,
       nullptr, 3, "xxx|yyy|zzz|\\b[12] +0\\.5 g", "0\\.5 g\\s+BX\\s+EX"},
      {"undefined operator in a form", form_page("/BBox [0 0 50 50]", "0 0 10 10 re xxx f"), {"", "", ""}, nullptr,
       nullptr, 3, "xxx", "re\\s+f"},
      {"undefined operator in a tiling pattern", pattern_page("/Resources << >>", "0 0 5 5 re yyy f"), {"", "", ""},
       nullptr, nullptr, 3, "yyy", nullptr},
      {"undefined operator in an annotation appearance", appearance_page("0 0 20 20 re wvq f"), {"", "", ""}, nullptr,
       nullptr, 3, "wvq", nullptr},
      {"a million nested q that change nothing",
       page_with("<< >>", repeat("q ", 1000000) + "0 0 10 10 re f " + repeat("Q ", 1000000), {}), {"", "", ""},
       nullptr, nullptr, 3, "q\\s+q", "re f"},
      {"a million q never closed",
       page_with("<< >>", repeat("q 0.5 g ", 1000000) + "0 0 10 10 re f", {}), {"", "", ""}, nullptr, nullptr, 3,
       "q\\s+0\\.5 g", "re f"},
      {"nesting past the limit that changes the state at every level",
       page_with("<< >>", repeat("q 1 0 0 1 1 1 cm ", 29) + "0 0 1 1 re f" + repeat(" Q", 29), {}),
       {"", "page 1: " + k_too_deep, "page 1: " + k_too_deep}, nullptr, nullptr},
      {"nesting past the limit with redundant levels between",
       page_with("<< >>", repeat("q 1 0 0 1 1 1 cm q ", 20) + "0 0 1 1 re f" + repeat(" Q Q", 20), {}), {"", "", ""},
       nullptr, nullptr, 3, nullptr, "(q 1 0 0 1 1 1 cm\\s+){20}0 0 1 1 re f(\\s+Q){20}"},
      {"nesting at the limit kept as it is (the page's content is painted inside one q)",
       page_with("<< >>", repeat("q ", 27) + "0 0 1 1 re f" + repeat(" Q", 27), {}), {"", "", ""}, nullptr, nullptr, 3,
       nullptr, "(q ){27}0 0 1 1 re f( Q){27}"},
      {"nesting past the limit through a form the page paints deep down", deep_form_page(20),
       {"", "page 1: " + k_too_deep, "page 1: " + k_too_deep}, nullptr, nullptr},
      {"nesting within the limit through a form", deep_form_page(15), {"", "", ""}, nullptr, nullptr},
      {"nesting past the limit in a form",
       form_page("/BBox [0 0 50 50]", repeat("q 0.5 g ", 29) + "0 0 1 1 re f" + repeat(" Q", 29)),
       {"", "page 1: form XObject 5: " + k_too_deep, "page 1: form XObject 5: " + k_too_deep}, nullptr, nullptr},
      {"LZW inline image",
       page_with("<< >>", inline_image("/W 2 /H 2 /CS /G /BPC 8 /F /LZW", wt::lzw_plain("\x10\x20\x30\x40")), {}),
       {"", "", ""}, nullptr, nullptr, 3, "/LZW", "/F \\[/AHx /Fl\\] ID\\n[0-9A-F]+>\\nEI"},
      {"LZW inline image behind another filter",
       page_with("<< >>", inline_image("/W 2 /H 2 /CS /G /BPC 8 /Filter [/AHx /LZWDecode]",
                                       "80040403020404>"),
                 {}),
       {"", "", ""}, nullptr, nullptr, 3, "/LZW", "/F \\[/AHx /Fl\\]"},
      {"undecodable LZW inline image",
       page_with("<< >>", inline_image("/W 2 /H 2 /CS /G /BPC 8 /F /LZW", "\xff\xff\xff\xff"), {}),
       {"", "page 1: cannot decode the LZW data of an inline image",
        "page 1: cannot decode the LZW data of an inline image"},
       nullptr, nullptr},
      {"device CMYK inline image",
       page_with("<< >>", inline_image("/W 1 /H 1 /CS /CMYK /BPC 8", std::string("\x00\xff\x00\x00", 4)), {}),
       {"", "page 1: inline image in DeviceCMYK cannot be kept in PDF/A",
        "page 1: inline image in DeviceCMYK cannot be kept in PDF/A"},
       nullptr, nullptr},
      {"form that paints itself",
       form_page("/BBox [0 0 50 50] /Resources << /XObject << /Fm1 5 0 R >> >>", "0 0 1 1 re f /Fm1 Do"),
       {"", "page 1: form XObject 5 paints itself", "page 1: form XObject 5 paints itself"}, nullptr, nullptr},
      {"forms that paint each other",
       form_page("/BBox [0 0 50 50] /Resources << /XObject << /A 6 0 R >> >>", "/A Do",
                 {wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 50 50] /Resources 7 0 R", "/B Do"),
                  "<< /XObject << /B 5 0 R >> >>"}),
       {"", "page 1: form XObject 5 paints itself", "page 1: form XObject 5 paints itself"}, nullptr, nullptr},
      {"form that lists itself in its resources but paints something else",
       form_page("/BBox [0 0 50 50] /Resources << /XObject << /Fm1 5 0 R /Fm2 6 0 R >> >>", "/Fm2 Do",
                 {wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 50 50]", "0 0 1 1 re f")}),
       {"", "page 1: form XObject 5 names itself in its own resources",
        "page 1: form XObject 5 names itself in its own resources"},
       nullptr, nullptr},
      {"pattern that paints itself",
       pattern_page("/Resources << /Pattern << /P1 5 0 R >> >>", "/Pattern cs /P1 scn 0 0 5 5 re f"),
       {"", "page 1: tiling pattern 5 paints itself", "page 1: tiling pattern 5 paints itself"}, nullptr, nullptr},
      {"interpolated inline image", page_with("<< >>", inline_image("/W 1 /H 1 /CS /G /BPC 8 /I true", "\x80"), {}),
       {"", "", ""}, nullptr, nullptr, 3, "/I true", "/I false"},
      {"coordinates beyond part 1's reals", page_with("<< >>", "40000.5 -1000 m -99999.25 0 l S", {}),
       {"", "", ""}, nullptr, nullptr, 3, "40000|99999", "32767 -1000 m -32767 0 l", 1},
      {"operator left short of operands by undefined ones",
       page_with("<< >>", "xxx 7 8 yyy 3 4 cm 0 0 1 1 re f 5 m", {}), {"", "", ""}, nullptr, nullptr, 3,
       "xxx|yyy|3 4 cm|5 m", "0 0 1 1 re f"},
      {"a string whose glyph ids would pass the string limit",
       page_with("<< /Font << /F1 5 0 R >> >>", "BT /F1 1 Tf (" + repeat("ab ", 7000) + ") Tj ET",
                 {"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}),
       // Written at all (the output check refuses a string over the limit).
       {"", "", ""}, nullptr, nullptr},
      {"coordinates beyond 32-bit integers", page_with("<< >>", "4294967296 0 m 0 -4294967296 l S", {}),
       {"", "", ""}, nullptr, nullptr, 3, "4294967296", "2147483647 0 m 0 -2147483648 l"},
      {"an inline image whose dictionary holds a number beyond the limits",
       page_with("<< >>", "BI /W 1 /H 11111111111 /CS /G /BPC 8 ID \x80 EI 0 0 1 1 re f", {}), {"", "", ""},
       nullptr, nullptr, 3, "11111111111|2147483647|BI", "0 0 1 1 re f"},
      {"an undefined operator dropped after a comment's line",
       page_with("<< >>", "q % note\nxxx 0 0 1 1 re f Q", {}), {"", "", ""}, nullptr, nullptr, 3, "xxx|note ?0",
       "note\n\\s*0 0 1 1 re f"},
      {"operands in front of an inline image that is left out",
       page_with("<< >>", "99999999999999999999 -2147483649 BI 0 2 3 Zcm 40000 0 m 1 1 l S", {}), {"", "", ""},
       nullptr, nullptr, 3, "9999|2147483649|BI|Zcm", "40000 0 m 1 1 l S"},
      {"operands in front of an inline image that is kept",
       page_with("<< >>", "q 7 8 BI /W 1 /H 1 /CS /G /BPC 8 ID \x80 EI Q", {}), {"", "", ""}, nullptr, nullptr, 3,
       "7 8|qBI", "q\\s+BI /W 1 /H 1 /CS /G /BPC 8 ID"},
      {"a \" spacing beyond 32-bit integers",
       page_with("<< /Font << /F1 5 0 R >> >>", "BT /F1 10 Tf 4294967296 0.5 (a) \" ET",
                 {"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}),
       {"", "", ""}, nullptr, nullptr, 3, "4294967296", "2147483647 Tw 0.5 Tc T\\*"},
      {"a \" whose spacings are no numbers draws nothing",
       page_with("<< /Font << /F1 5 0 R >> >>", "BT /F1 10 Tf (x) (y) (a) \" ET",
                 {"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}),
       {"", "", ""}, nullptr, nullptr, 3, "\\(x\\)|\\(y\\)| Tc T\\*", "Tf\\s+ET"},
      {"a TJ gap beyond part 1's reals",
       page_with("<< /Font << /F1 5 0 R >> >>", "BT /F1 1 Tf 0.01 Tz [(a) -90000 (b)] TJ ET",
                 {"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}),
       {"", "", ""}, nullptr, nullptr, 3, "-9[0-9]{4}", "-32767 -32767 -"},
      {"Type 3 glyph whose d0 disagrees with /Widths, painting in CMYK",
       page_with("<< /Font << /T3 5 0 R >> >>", "BT /T3 10 Tf (a) Tj ET",
                 {"<< /Type /Font /Subtype /Type3 /FontBBox [0 0 750 750] /FontMatrix [0.001 0 0 0.001 0 0] "
                  "/CharProcs << /a 6 0 R >> /Encoding << /Type /Encoding /Differences [97 /a] >> /FirstChar 97 "
                  "/LastChar 97 /Widths 7 0 R >>",
                  wt::stream("", "1000 0 d0 1 0 0 0 k 0 0 750 750 re f"), "[500]"}),
       {"", "", ""}, nullptr, nullptr, 3, "1000 0 d0| k", "500 0 d0 0 1 1 rg"},
      {"device CMYK blending space of a transparency group",
       form_page("/BBox [0 0 50 50] /Group << /S /Transparency /CS /DeviceCMYK >>", "0 0 1 1 re f"),
       {"", "", ""}, "/CS /DeviceCMYK", "/CS \\d+ 0 R", 2, nullptr, nullptr, 3, 2},
  };
}

std::string quoted(const std::vector<std::string> &files) {
  std::string s;
  for (const std::string &f : files) s += " \"" + f + "\"";
  return s;
}

}  // namespace

TEST(Conform, EachCauseConvertsToAConformingFileOrRefusesWithItsMessage) {
  std::vector<std::string> written[3];
  for (const Case &c : cases()) {
    for (int part : {1, 2}) {
      SCOPED_TRACE(std::string(c.what) + ", part " + std::to_string(part));
      wt::Converted out = wt::convert_text(c.pdf, part);
      const std::string &want = c.refused[part];
      if (!want.empty()) {
        EXPECT_EQ(out.rc, 0);
        EXPECT_EQ(out.err, want);
        EXPECT_FALSE(std::filesystem::exists(out.out_path));
        continue;
      }
      ASSERT_EQ(out.rc, 1) << out.err;
      written[part].push_back(out.out_path);
      // The source objects start at the output's first copied number.
      std::string copied = out.bytes.substr(out.bytes.find("/Subtype /Form"));
      if (c.absent && (c.absent_in & part)) {
        EXPECT_FALSE(std::regex_search(copied, std::regex(c.absent))) << c.absent;
      }
      if (c.present && (c.present_in & part)) {
        EXPECT_TRUE(std::regex_search(copied, std::regex(c.present))) << c.present;
      }
      if ((c.content_absent || c.content_present) && (c.content_in & part)) {
        wt::Output o = wt::read_output(out.bytes);
        std::string data;
        for (const auto &[num, at] : o.offsets) data += o.data(num) + "\n";
        if (c.content_absent) {
          EXPECT_FALSE(std::regex_search(data, std::regex(c.content_absent))) << c.content_absent;
        }
        if (c.content_present) {
          EXPECT_TRUE(std::regex_search(data, std::regex(c.content_present))) << c.content_present;
        }
      }
    }
  }
  // The transparency group goes in part 1 only: part 2 keeps it as it is.
  {
    std::string pdf;
    for (const Case &c : cases())
      if (std::string(c.what) == "opaque transparency group on a form") pdf = c.pdf;
    ASSERT_FALSE(pdf.empty());
    wt::Converted p1 = wt::convert_text(pdf, 1), p2 = wt::convert_text(pdf, 2);
    EXPECT_EQ(p1.bytes.find("/Transparency"), std::string::npos);
    EXPECT_NE(p2.bytes.find("/Transparency"), std::string::npos);
  }
  for (int part : {1, 2}) {
    if (wt::lint_command(part).empty() || written[part].empty()) continue;
    std::string out;
    zyk_test::run_command(wt::lint_command(part) + quoted(written[part]) + " 2>&1", &out);
    std::size_t passes = 0;
    for (std::size_t p = 0; (p = out.find("PASS ", p)) != std::string::npos; p++) passes++;
    EXPECT_EQ(passes, written[part].size()) << "part " << part << ":\n" << out;
  }
  const std::string validate = std::string(ZYK_SHARED_DIR) + "/tools/pdfa-validate";
  if (std::filesystem::exists(validate) && !written[1].empty()) {
    std::string out;
    zyk_test::run_command("\"" + validate + "\"" + quoted(written[1]) + " 2>&1", &out);
    std::size_t passes = 0;
    for (std::size_t p = 0; (p = out.find("PASS ", p)) != std::string::npos; p++) passes++;
    EXPECT_EQ(passes, written[1].size()) << out;
  }
}

// The numbers of the references in text, in order.
std::vector<int> refs_in(const std::string &text) {
  std::vector<int> out;
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  for (std::size_t i = 0; i + 2 < words.size(); i++)
    if (words[i + 2] == "R" && words[i + 1] == "0") out.push_back(std::stoi(words[i]));
  return out;
}

// The text between "/Kids [" and the next "]", and the /Count value.
std::string kids_of(const std::string &obj, int *count) {
  std::size_t c = obj.find("/Count ");
  *count = c == std::string::npos ? -1 : std::stoi(obj.substr(c + 7));
  std::size_t k = obj.find("/Kids [");
  if (k == std::string::npos) return "";
  return obj.substr(k + 7, obj.find(']', k) - k - 7);
}

// More pages than one array may hold: the root lists intermediate nodes, each
// listing at most 8191 pages, and every page names the node that lists it.
TEST(Conform, ManyPagesGetABalancedPageTree) {
  const int n = 8200;
  std::vector<std::string> b = {"<< /Type /Catalog /Pages 2 0 R >>", "", wt::stream("", "0 0 10 10 re f")};
  std::string kids;
  for (int i = 0; i < n; i++) {
    kids += std::to_string(4 + i) + " 0 R ";
    b.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 50 50] /Contents 3 0 R >>");
  }
  b[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>";
  wt::Converted c = wt::convert_text(zyk_test::make_pdf(b), 1);
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output o = wt::read_output(c.bytes);
  int count = 0;
  std::vector<int> nodes = refs_in(kids_of(o.obj(2), &count));
  EXPECT_EQ(count, n);
  EXPECT_EQ(nodes.size(), 2u);
  int total = 0;
  for (int node : nodes) {
    std::string text = o.obj(node);
    EXPECT_NE(text.find("/Type /Pages /Parent 2 0 R"), std::string::npos) << text.substr(0, 200);
    std::vector<int> pages = refs_in(kids_of(text, &count));
    EXPECT_LE(count, 8191);
    EXPECT_EQ(static_cast<int>(pages.size()), count);
    for (int page : pages)
      EXPECT_NE(o.obj(page).find("/Parent " + std::to_string(node) + " 0 R"), std::string::npos) << page;
    total += count;
  }
  EXPECT_EQ(total, n);
}

// In part 1 (which has no optional content to switch it on with) optional
// content off by default is not painted; what it changes besides painting
// stays, and everything else is painted as before. Part 2 keeps the layers
// and paints everything, as their readers choose what to show.
TEST(Conform, OptionalContentOffByDefaultIsNotPainted) {
  const std::string content =
      "/OC /L1 BDC 1 0 0 rg 0 0 10 10 re f BT /F1 12 Tf (hid) Tj ET /X Do EMC "
      "BT /F1 12 Tf /OC /L1 BDC (in) Tj EMC (out) Tj ET "
      "/OC /L2 BDC 0 1 0 rg 20 0 10 10 re f EMC /OC /M BDC 0 0 1 rg 40 0 10 10 re f EMC /X Do";
  struct Case {
    const char *what;
    const char *config;
    bool l1_hidden;
  } cases[] = {
      {"group listed in /OFF", "<< /OFF [5 0 R] >>", true},
      {"base state off, other group on", "<< /BaseState /OFF /ON [6 0 R] >>", true},
      {"every group on", "<< /Order [5 0 R 6 0 R] >>", false},
  };
  for (const Case &c : cases) {
    const std::string pdf = zyk_test::make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [5 0 R 6 0 R] /D " + std::string(c.config) +
             " >> >>",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R /Resources << /Properties << /L1 5 "
         "0 R /L2 6 0 R /M 7 0 R >> /XObject << /X 8 0 R >> /Font << /F1 9 0 R >> >> >>",
         wt::stream("", content), "<< /Type /OCG /Name (one) >>", "<< /Type /OCG /Name (two) >>",
         "<< /Type /OCMD /OCGs [5 0 R 6 0 R] /P /AllOn >>",
         wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /OC 5 0 R", "60 0 10 10 re f"),
         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
    for (int part : {1, 2}) {
      SCOPED_TRACE(std::string(c.what) + ", part " + std::to_string(part));
      wt::Converted out = wt::convert_text(pdf, part);
      ASSERT_EQ(out.rc, 1) << out.err;
      const std::string page = wt::read_output(out.bytes).data(4);
      EXPECT_NE(page.find("20 0 10 10 re f"), std::string::npos) << page;
      const bool hidden = c.l1_hidden && part == 1;
      EXPECT_EQ(out.bytes.find("/OCProperties") != std::string::npos, part == 2);
      EXPECT_EQ(page.find("0 0 10 10 re n") != std::string::npos, hidden) << page;
      EXPECT_EQ(page.find("40 0 10 10 re n") != std::string::npos, hidden) << page;
      // The hidden text object is left out; hidden text inside a visible
      // one is drawn invisible, keeping the text after it in place.
      EXPECT_EQ(page.find("3 Tr") != std::string::npos, hidden) << page;
      std::size_t shows = 0;
      for (std::size_t p = 0; (p = page.find(" T", p)) != std::string::npos; p++)
        shows += page.compare(p, 4, " Tj ") == 0 || page.compare(p, 4, " TJ ") == 0 || page.compare(p, 4, " Tj\n") == 0 ||
                 page.compare(p, 4, " TJ\n") == 0;
      EXPECT_EQ(shows, hidden ? 2u : 3u) << page;
      EXPECT_EQ(page.find("/X Do") == std::string::npos, hidden) << page;
      // Colour and text state still change as in the source.
      EXPECT_NE(page.find("1 0 0 rg"), std::string::npos) << page;
    }
  }
}

// Part 2 keeps the layers: the groups (also one no page uses), the default
// configuration with its state, and the other configurations, each named
// uniquely, without /AS (automatic state changes archived files may not
// carry), and with every group in /Order. A viewer shows the output as it
// showed the source. Annotations in a group off by default are not painted.
TEST(Conform, OptionalContentIsKeptInPart2) {
  const std::string ocp =
      "<< /OCGs [5 0 R 6 0 R 10 0 R] /D << /OFF [6 0 R] /Order [5 0 R [(sub) 6 0 R]] "
      "/AS [<< /Event /View /OCGs [5 0 R] /Category [/View] >>] >> /Configs [<< /Name (Alt) /BaseState /OFF >> 11 0 "
      "R] >>";
  const std::string content =
      "/OC /L1 BDC 0 0 0 rg 0 0 40 40 re f EMC /OC /L2 BDC 0.5 g 50 0 40 40 re f EMC";
  auto source = [&](const std::string &props) {
    return zyk_test::make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R /OCProperties " + props + " >>",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R /Annots [7 0 R] /Resources << "
         "/Properties << /L1 5 0 R /L2 6 0 R >> >> >>",
         wt::stream("", content), "<< /Type /OCG /Name (one) >>", "<< /Type /OCG /Name (two) >>",
         "<< /Type /Annot /Subtype /Square /Rect [0 50 40 90] /F 4 /OC 6 0 R /AP << /N 8 0 R >> >>",
         wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 40 40]", "0 0 40 40 re f"),
         "<< >>", "<< /Type /OCG /Name (unused) >>", "<< /Name (Alt) /ON [5 0 R] /AS [] >>"});
  };
  const std::string pdf = source(ocp);
  wt::Converted out = wt::convert_text(pdf, 2);
  ASSERT_EQ(out.rc, 1) << out.err;
  wt::Output o = wt::read_output(out.bytes);
  const std::string catalog = o.obj(1);
  ASSERT_NE(catalog.find("/OCProperties"), std::string::npos) << catalog;
  EXPECT_EQ(catalog.find("/AS"), std::string::npos) << catalog;
  for (const char *name : {"/Name (Default)", "/Name (Alt)", "/Name (Configuration)", "/BaseState /OFF"})
    EXPECT_NE(catalog.find(name), std::string::npos) << name << "\n" << catalog;
  // The groups are the objects the page's /Properties name, and the one no
  // page uses is copied and listed in the default /Order.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(catalog, m, std::regex("/OCGs \\[(\\d+) 0 R (\\d+) 0 R (\\d+) 0 R\\]"))) << catalog;
  const std::string g1 = m[1], g2 = m[2], g3 = m[3];
  EXPECT_NE(o.obj(std::stoi(g3)).find("(unused)"), std::string::npos);
  EXPECT_NE(catalog.find("/OFF [" + g2 + " 0 R]"), std::string::npos) << catalog;
  EXPECT_NE(catalog.find("/Order [" + g1 + " 0 R [(sub) " + g2 + " 0 R] " + g3 + " 0 R]"), std::string::npos)
      << catalog;
  EXPECT_NE(out.bytes.find("/L1 " + g1 + " 0 R /L2 " + g2 + " 0 R"), std::string::npos);
  const std::string page = o.data(4);
  EXPECT_NE(page.find("50 0 40 40 re f"), std::string::npos) << page;
  EXPECT_EQ(page.find(" Do"), std::string::npos) << page;  // the annotation in the hidden group
  // The viewer hides the same content in source and output.
  if (wt::have_tool("pdftoppm")) {
    const std::string in = zyk_test::write_temp(wt::fresh_name("oc.pdf"), pdf);
    wt::Image a = wt::render(in), b = wt::render(out.out_path);
    ASSERT_FALSE(a.px.empty());
    EXPECT_LT(wt::mean_diff(a, b), 0.5);
    // The middles of the two squares, at 20 and 70 pt from the left and 20 pt
    // from the bottom.
    auto at = [&](double x, double y) {
      return b.px[static_cast<std::size_t>((1 - y / 100) * b.h) * static_cast<std::size_t>(b.w) +
                  static_cast<std::size_t>(x / 100 * b.w)];
    };
    EXPECT_LT(at(20, 20), 64) << "the group on by default is not painted";
    EXPECT_GT(at(70, 20), 240) << "the group off by default is painted";
  }
  if (!wt::lint_command(2).empty()) {
    std::string lint;
    zyk_test::run_command(wt::lint_command(2) + " \"" + out.out_path + "\" 2>&1", &lint);
    EXPECT_NE(lint.find("PASS "), std::string::npos) << lint;
  }
  // Layers without a default configuration cannot be kept: the page then
  // shows everything, as readers of the source do.
  wt::Converted bare = wt::convert_text(source("<< /OCGs [5 0 R 6 0 R] >>"), 2);
  ASSERT_EQ(bare.rc, 1) << bare.err;
  EXPECT_EQ(bare.bytes.find("/OCProperties"), std::string::npos);
  EXPECT_NE(wt::read_output(bare.bytes).data(4).find("50 0 40 40 re f"), std::string::npos);
}
