// The output check: files as a conversion could have written them, each
// breaking one PDF/A rule, must be caught with the rule named; a conforming
// file must pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "writer/writer.h"
#include "writer_fixture.h"

namespace {

// A one-page file: the page paints form 8 and shows text in font 5 (an
// embedded TrueType font) after selecting graphics state 9. Each case
// changes one part.
struct Parts {
  std::string catalog_extra;
  std::string page_extra;
  std::string res = "<< /Font << /F1 5 0 R >> /XObject << /X 8 0 R >> /ExtGState << /G 9 0 R >> >>";
  std::string content = "q /G gs BT /F1 12 Tf (a) Tj ET /X Do Q";
  std::string font = "<< /Type /Font /Subtype /TrueType /BaseFont /F /FontDescriptor 6 0 R >>";
  std::string descriptor = "<< /Type /FontDescriptor /FontName /F /FontFile2 7 0 R >>";
  std::string form_dict = "/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources << >>";
  std::string form = "0 0 1 1 re f";
  std::string gs = "/LW 1";
  std::vector<std::string> extra;  // objects 10, 11, ...

  std::string pdf() const {
    std::vector<std::string> b = {
        "<< /Type /Catalog /Pages 2 0 R " + catalog_extra + " >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources " + res + " /Contents 4 0 R " + page_extra +
            " >>",
        wt::stream("", content),
        font,
        descriptor,
        wt::stream("", "glyphs"),
        wt::stream(form_dict, form),
        "<< /Type /ExtGState " + gs + " >>"};
    b.insert(b.end(), extra.begin(), extra.end());
    return zyk_test::make_pdf(b);
  }
};

std::string check(const Parts &p, int part) {
  const std::string bytes = p.pdf();
  std::string why;
  if (zyk::output_check(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), part, &why)) return "";
  EXPECT_FALSE(why.empty());
  return why.empty() ? "(no reason)" : why;
}

std::string repeat(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

TEST(OutputCheck, EachBrokenRuleIsNamedAndAConformingFilePasses) {
  struct Case {
    const char *what;
    void (*change)(Parts &);
    const char *want[3];  // by part: "" passes, else a part of the reason
  } cases[] = {
      {"conforming file", [](Parts &) {}, {"", "", ""}},
      {"undefined operator in a painted form", [](Parts &p) { p.form = "0 0 1 1 re f foo"; },
       {"", "undefined operator \"foo\"", "undefined operator \"foo\""}},
      {"nesting counted through the form painted",
       [](Parts &p) {
         p.content = repeat("q ", 20) + "/X Do" + repeat(" Q", 20);
         p.form = repeat("q ", 10) + repeat(" Q", 10);
       },
       {"", "graphics states nested 30 deep", "graphics states nested 30 deep"}},
      {"identity transfer function", [](Parts &p) { p.gs = "/TR /Identity"; },
       {"", "transfer function", "transfer function"}},
      {"constant alpha", [](Parts &p) { p.gs = "/CA 0.5"; }, {"", "constant alpha", ""}},
      {"blend mode", [](Parts &p) { p.gs = "/BM [/Multiply /Normal]"; }, {"", "blend mode", ""}},
      {"form painting itself",
       [](Parts &p) {
         p.form_dict = "/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources << /XObject << /X 8 0 R >> >>";
         p.form = "/X Do";
       },
       {"", "paints itself", "paints itself"}},
      {"font without its program", [](Parts &p) { p.descriptor = "<< /Type /FontDescriptor /FontName /F >>"; },
       {"", "font /F is not embedded", "font /F is not embedded"}},
      {"text in a font the resources do not hold", [](Parts &p) { p.content = "BT /F9 12 Tf (a) Tj ET"; },
       {"", "names the Font /F9", "names the Font /F9"}},
      {"CMYK painting operator", [](Parts &p) { p.content = "1 0 0 0 k 0 0 1 1 re f"; },
       {"", "device CMYK (k)", "device CMYK (k)"}},
      {"CMYK alternate of a separation",
       [](Parts &p) {
         p.res = "<< /ColorSpace << /S0 [/Separation /Spot /DeviceCMYK 10 0 R] >> >>";
         p.content = "/S0 cs 1 sc 0 0 1 1 re f";
         p.extra = {"<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [1 0 0 0] /N 1 >>"};
       },
       {"", "device CMYK named as a colour space", "device CMYK named as a colour space"}},
      {"CMYK inline image", [](Parts &p) { p.content = "BI /W 1 /H 1 /CS /CMYK /BPC 8 ID \x01\x02\x03\x04 EI"; },
       {"", "inline image in device CMYK", "inline image in device CMYK"}},
      {"LZW stream", [](Parts &p) { p.form_dict += " /Filter /LZWDecode"; }, {"", "LZW", "LZW"}},
      {"real beyond part 1's limit", [](Parts &p) { p.content = "40000.5 0 m 0 0 l S"; },
       {"", "the number 40000.5, beyond PDF/A-1", ""}},
      {"integer beyond 32 bits", [](Parts &p) { p.content = "4294967296 0 m 0 0 l S"; },
       {"", "beyond PDF/A-1", "beyond PDF/A-2"}},
      {"integer beyond 32 bits in a TJ array after a comment holding a bracket",
       [](Parts &p) { p.content = "BT [(a) %( \n 4294967296 (b)] TJ ET"; }, {"", "beyond PDF/A-1", "beyond PDF/A-2"}},
      {"reference to a missing object",
       [](Parts &p) { p.res = "<< /XObject << /Y 99 0 R >> >>"; p.content = ""; },
       {"", "object 99, which the file does not hold", "object 99, which the file does not hold"}},
      {"hidden link annotation",
       [](Parts &p) {
         p.page_extra = "/Annots [10 0 R]";
         p.extra = {"<< /Type /Annot /Subtype /Link /Rect [0 0 1 1] /F 2 >>"};
       },
       {"", "not printed or not visible", "not printed or not visible"}},
      {"JavaScript opening action", [](Parts &p) { p.catalog_extra = "/OpenAction << /S /JavaScript /JS (x) >>"; },
       {"", "action of type JavaScript", "action of type JavaScript"}},
      {"soft-masked image",
       [](Parts &p) {
         p.res = "<< /XObject << /I 10 0 R >> >>";
         p.content = "/I Do";
         p.extra = {wt::stream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                               "/BitsPerComponent 8 /SMask 11 0 R",
                               "\x80"),
                    wt::stream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                               "/BitsPerComponent 8",
                               "\x10")};
       },
       {"", "soft-masked image", ""}},
      {"operator short of operands", [](Parts &p) { p.content = "10 m 0 0 l S"; },
       {"", "operator m 1 operands (it takes 2)", "operator m 1 operands (it takes 2)"}},
      {"name over 127 bytes", [](Parts &p) { p.content = "/" + std::string(130, 'n') + " gs"; },
       {"", "name over 127 bytes", "name over 127 bytes"}},
      {"optional content kept as part 2 allows",
       [](Parts &p) {
         p.catalog_extra = "/OCProperties << /OCGs [10 0 R 11 0 R] /D << /Name (D) /Order [10 0 R [11 0 R]] >> "
                           "/Configs [12 0 R] >>";
         p.extra = {"<< /Type /OCG /Name (a) >>", "<< /Type /OCG /Name (b) >>", "<< /Name <45> >>"};
       },
       {"", "optional content (PDF/A-1 has none)", ""}},
      {"optional content configuration with /AS",
       [](Parts &p) {
         p.catalog_extra = "/OCProperties << /OCGs [10 0 R] /D << /Name (D) /AS [] >> >>";
         p.extra = {"<< /Type /OCG /Name (a) >>"};
       },
       {"", "optional content", "configuration with /AS"}},
      {"optional content configuration without a name",
       [](Parts &p) {
         p.catalog_extra = "/OCProperties << /OCGs [10 0 R] /D << /Name (D) >> /Configs [<< /OFF [10 0 R] >>] >>";
         p.extra = {"<< /Type /OCG /Name (a) >>"};
       },
       {"", "optional content", "configuration without /Name"}},
      {"two optional content configurations with one name",
       [](Parts &p) {
         // Written differently, the same text.
         p.catalog_extra = "/OCProperties << /OCGs [10 0 R] /D << /Name (E) >> /Configs [11 0 R] >>";
         p.extra = {"<< /Type /OCG /Name (a) >>", "<< /Name <45> >>"};
       },
       {"", "optional content", "with one /Name"}},
      {"optional content order without a group",
       [](Parts &p) {
         p.catalog_extra = "/OCProperties << /OCGs [10 0 R 11 0 R] /D << /Name (D) /Order [10 0 R] >> >>";
         p.extra = {"<< /Type /OCG /Name (a) >>", "<< /Type /OCG /Name (b) >>"};
       },
       {"", "optional content", "/Order without group 11"}},
      {"undefined operator in a Type 3 glyph",
       [](Parts &p) {
         p.font = "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [1 0 0 1 0 0] /CharProcs << /a 10 "
                  "0 R >> /Encoding << /Differences [97 /a] >> /FirstChar 97 /LastChar 97 /Widths [1] >>";
         p.extra = {wt::stream("", "1 0 d0 zz")};
       },
       {"", "undefined operator \"zz\"", "undefined operator \"zz\""}},
  };
  for (const Case &c : cases) {
    Parts p;
    c.change(p);
    for (int part : {1, 2}) {
      SCOPED_TRACE(std::string(c.what) + ", part " + std::to_string(part));
      const std::string why = check(p, part);
      if (*c.want[part] == '\0')
        EXPECT_EQ(why, "");
      else
        EXPECT_NE(why.find(c.want[part]), std::string::npos) << why;
    }
  }
}

TEST(OutputCheck, NamesThePageThatReachesTheFault) {
  Parts p;
  p.gs = "/TR /Identity";
  EXPECT_EQ(check(p, 2), "page 1: output check: a graphics state with a transfer function (/TR)");
  // Objects no page reaches are checked too, without a page.
  Parts q;
  q.extra = {"<< /Type /ExtGState /HTP 1 >>"};
  EXPECT_EQ(check(q, 2), "output check: a graphics state with /HTP");
}

// Every conversion goes through the check: its outputs are exactly what it
// accepts, so converting a plain file still succeeds.
TEST(OutputCheck, ConversionsPassTheirOwnCheck) {
  Parts p;
  for (int part : {1, 2}) {
    wt::Converted out = wt::convert_text(p.pdf(), part);
    ASSERT_EQ(out.rc, 1) << out.err;
    std::string why;
    EXPECT_TRUE(zyk::output_check(reinterpret_cast<const unsigned char *>(out.bytes.data()), out.bytes.size(), part,
                                  &why))
        << why;
  }
}

}  // namespace
