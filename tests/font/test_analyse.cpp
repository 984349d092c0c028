// Font resources of a page and the classification of font dictionaries, on
// small PDF texts built here.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "font/font.h"
#include "pdf/pdf.h"
#include "test_support.h"

using namespace zyk;

namespace {

using Entries = std::vector<std::pair<std::string, int>>;

// A loaded document: catalog, page tree, one page, then the given bodies
// from object 4 on.
struct Fixture {
  DocGuard g;
  explicit Fixture(const std::vector<std::string> &extra, const std::string &name) {
    std::vector<std::string> bodies = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font 4 0 R >> >>",
    };
    bodies.insert(bodies.end(), extra.begin(), extra.end());
    std::string path = zyk_test::write_temp(name, zyk_test::make_pdf(bodies));
    rc = doc_load(path.c_str(), &g.d);
  }
  int rc = -1;
  const ObjEntry *obj(int num) const {
    int k = obj_find(&g.d.objs, num);
    return k < 0 ? nullptr : &g.d.objs.elems[k];
  }
};

Entries collect(const std::string &res, const Doc *d) {
  PageFontList l{};
  page_fonts_collect(reinterpret_cast<const unsigned char *>(res.data()), static_cast<int>(res.size()), &l, d);
  Entries out;
  for (int i = 0; i < l.count; i++) out.emplace_back(l.items[i].name, l.items[i].obj_num);
  page_font_list_free(&l);
  return out;
}

}  // namespace

TEST(PageFontsCollect, ResourceTexts) {
  Fixture fx({"<< /F1 5 0 R /F2 6 0 R >>", "<< /Type /Font /Subtype /Type1 >>", "<< /Type /Font /Subtype /Type1 >>",
              "42"},
             "collect.pdf");
  ASSERT_EQ(fx.rc, 0) << error_text();
  const std::string n63(63, 'a'), n64(64, 'b');
  std::string many = "<< /Font <<";
  Entries many_want;
  for (int i = 1; i <= 40; i++) {
    many += " /F" + std::to_string(i) + " " + std::to_string(100 + i) + " 0 R";
    many_want.emplace_back("F" + std::to_string(i), 100 + i);
  }
  many += " >> >>";
  struct Case {
    const char *what;
    std::string res;
    Entries want;
  } cases[] = {
      {"inline dictionary", "<< /Font << /F1 5 0 R /F2 6 0 R >> /ProcSet [/PDF /Text] >>", {{"F1", 5}, {"F2", 6}}},
      {"no white space", "<</Font<</F1 5 0 R/F2 6 0 R>>/ProcSet[/PDF/Text]>>", {{"F1", 5}, {"F2", 6}}},
      {"line ends and tabs", "<< /Font\r\n<<\n/F1\n5\r\n0\tR >> >>", {{"F1", 5}}},
      {"indirect /Font dictionary", "<< /Font 4 0 R /XObject << /Im1 9 0 R >> >>", {{"F1", 5}, {"F2", 6}}},
      {"indirect without generation", "<< /Font 4 R >>", {{"F1", 5}, {"F2", 6}}},
      {"indirect to a missing object", "<< /Font 99 0 R >>", {}},
      {"indirect to an object without dictionary", "<< /Font 7 0 R >>", {}},
      {"indirect to object 0", "<< /Font 0 0 R >>", {}},
      {"name characters _ + - but not .",
       "<< /Font << /F1.0 5 0 R /F_1 5 0 R /F-1 6 0 R /F+1 7 0 R >> >>", {{"F_1", 5}, {"F-1", 6}, {"F+1", 7}}},
      {"63 characters kept, 64 dropped", "<< /Font << /" + n63 + " 5 0 R /" + n64 + " 6 0 R >> >>", {{n63, 5}}},
      {"object number 0 and negative numbers", "<< /Font << /F1 0 0 R /F2 -3 0 R /F3 8 0 R >> >>", {{"F3", 8}}},
      {"R must end the reference", "<< /Font << /F1 5 0 Rx /F2 6 0 R/F3 7 0 R>> >>", {{"F2", 6}, {"F3", 7}}},
      {"a string holding >> does not close the dictionary",
       "<< /Font << /F1 5 0 R /Note (a >> b \\) c) /F2 6 0 R >> /X << /Y 9 0 R >> >>", {{"F1", 5}, {"F2", 6}}},
      {"nesting inside /Font is not followed, its end is",
       "<< /Font << /F1 5 0 R /Sub << /F2 6 0 R >> /F3 7 0 R >> /Other 8 0 R >>",
       {{"F1", 5}, {"F2", 6}, {"F3", 7}}},
      {"array and name values are ignored", "<< /Font [5 0 R] /Font /Helv /X << /F9 9 0 R >> >>", {}},
      {"unterminated inline dictionary runs to the end", "<< /Font << /F1 5 0 R /F2 6 0 R", {{"F1", 5}, {"F2", 6}}},
      {"text ends after /Font", "<< /Font", {}},
      {"text ends after white space", "<< /Font  \n", {}},
      {"slash as the last byte", "<< /F1 5 0 R /", {}},
      {"only the key Font counts", "<< /FontX << /F1 5 0 R >> /Fonts << /F2 6 0 R >> >>", {}},
      {"two /Font keys contribute in order", "<< /Font << /F1 5 0 R >> /Font 4 0 R >>",
       {{"F1", 5}, {"F1", 5}, {"F2", 6}}},
      {"duplicate names are kept", "<< /Font << /F1 5 0 R /F1 6 0 R >> >>", {{"F1", 5}, {"F1", 6}}},
      {"forty entries", many, many_want},
  };
  for (const Case &c : cases) EXPECT_EQ(collect(c.res, &fx.g.d), c.want) << c.what;
}

TEST(PageFontsCollect, AppendsToAnExistingList) {
  PageFontList l{};
  std::string a = "<< /Font << /A 5 0 R >> >>", b = "<< /Font << /B 6 0 R >> >>";
  page_fonts_collect(reinterpret_cast<const unsigned char *>(a.data()), static_cast<int>(a.size()), &l, nullptr);
  page_fonts_collect(reinterpret_cast<const unsigned char *>(b.data()), static_cast<int>(b.size()), &l, nullptr);
  ASSERT_EQ(l.count, 2);
  EXPECT_STREQ(l.items[0].name, "A");
  EXPECT_STREQ(l.items[1].name, "B");
  EXPECT_EQ(l.cap, 16);
  page_font_list_free(&l);
  EXPECT_EQ(l.items, nullptr);
  EXPECT_EQ(l.count, 0);
}

TEST(AnalyseFont, FontDictionaries) {
  struct Case {
    const char *what;
    std::string body;
    int rc, kind, enc;
  } cases[] = {
      {"TrueType WinAnsi", "<< /Type /Font /Subtype /TrueType /BaseFont /Arial /Encoding /WinAnsiEncoding >>", 1,
       FONT_SIMPLE, ENC_WINANSI},
      {"Type1 MacRoman", "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /MacRomanEncoding >>", 1,
       FONT_SIMPLE, ENC_MACROMAN},
      {"Type1 MacRoman without spaces", "<</Type/Font/Subtype/Type1/Encoding/MacRomanEncoding>>", 1, FONT_SIMPLE,
       ENC_MACROMAN},
      {"MMType1", "<< /Type /Font /Subtype /MMType1 /BaseFont /X >>", 1, FONT_SIMPLE, ENC_WINANSI},
      {"Type0", "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H /DescendantFonts [9 0 R] >>", 1,
       FONT_TYPE0, ENC_NONE},
      {"Type3", "<< /Type /Font /Subtype /Type3 /FontMatrix [0.001 0 0 0.001 0 0] /Encoding /MacRomanEncoding >>",
       1, FONT_TYPE3, ENC_NONE},
      {"CIDFontType2 descendant", "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /X /FontDescriptor 7 0 R >>", 1,
       FONT_SIMPLE, ENC_WINANSI},
      {"unknown subtype with a FontFile2", "<< /Type /Font /Subtype /Unknown /FontFile2 8 0 R >>", 1, FONT_SIMPLE,
       ENC_WINANSI},
      {"no subtype, no descriptor", "<< /Type /Font /BaseFont /Helvetica >>", 1, FONT_OTHER, ENC_WINANSI},
      {"CIDFontType0 without descriptor", "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /X >>", 1, FONT_OTHER,
       ENC_WINANSI},
      {"no /Type but a font subtype", "<< /Subtype /TrueType /BaseFont /Arial >>", 1, FONT_SIMPLE, ENC_WINANSI},
      {"encoding by reference", "<< /Type /Font /Subtype /Type1 /Encoding 20 0 R >>", 1, FONT_SIMPLE, ENC_WINANSI},
      {"inline encoding dictionary", "<< /Type /Font /Subtype /Type1 /Encoding << /BaseEncoding /MacRomanEncoding "
       "/Differences [128 /Adieresis] >> >>", 1, FONT_SIMPLE, ENC_WINANSI},
      {"MacExpert is no MacRoman", "<< /Type /Font /Subtype /Type1 /Encoding /MacExpertEncoding >>", 1, FONT_SIMPLE,
       ENC_WINANSI},
      // A composite or Type3 font is judged by its own keys, not by those of
      // an inline descendant or inline resources written before them.
      {"Type0 with an inline descendant first",
       "<< /Type /Font /DescendantFonts [<< /Type /Font /Subtype /CIDFontType2 /FontDescriptor 7 0 R >>] "
       "/Subtype /Type0 /Encoding /Identity-H >>", 1, FONT_TYPE0, ENC_NONE},
      {"Type3 with inline resources first",
       "<< /Type /Font /Resources << /Font << /F0 << /Type /Font /Subtype /Type1 /Encoding /MacRomanEncoding >> >> "
       ">> /Subtype /Type3 >>", 1, FONT_TYPE3, ENC_NONE},
      {"TrueType with an inline descriptor holding /Encoding",
       "<< /Type /Font /FontDescriptor << /Type /FontDescriptor /Encoding /MacRomanEncoding >> /Subtype /TrueType >>",
       1, FONT_SIMPLE, ENC_WINANSI},
      // Objects that are no font dictionaries, even though /Font appears.
      {"font descriptor", "<< /Type /FontDescriptor /FontName /X /FontFile2 9 0 R >>", 0, FONT_OTHER, ENC_NONE},
      {"resources dictionary holding /Font", "<< /Font << /F1 5 0 R >> /ProcSet [/PDF /Text] >>", 0, FONT_OTHER,
       ENC_NONE},
      {"graphics state with a /Font entry", "<< /Type /ExtGState /Font [5 0 R 12] >>", 0, FONT_OTHER, ENC_NONE},
      {"form XObject with font resources",
       "<< /Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources << /Font << /F1 5 0 R >> >> /Length 4 >>\n"
       "stream\nq Q\n\nendstream", 0, FONT_OTHER, ENC_NONE},
      {"Type1C font program stream", "<< /Subtype /Type1C /Length 3 >>\nstream\nabc\nendstream", 0, FONT_OTHER,
       ENC_NONE},
      {"/Type /Font only inside a string", "<< /Type /Annot /Subtype /FreeText /Contents (/Type /Font) >>", 0,
       FONT_OTHER, ENC_NONE},
      {"/Type /Fonts", "<< /Type /Fonts /Subtype /Type1 >>", 0, FONT_OTHER, ENC_NONE},
      {"a number", "42", 0, FONT_OTHER, ENC_NONE},
      {"an array", "[/Font 1 2]", 0, FONT_OTHER, ENC_NONE},
  };
  std::vector<std::string> bodies;
  for (const Case &c : cases) bodies.push_back(c.body);
  Fixture fx(bodies, "analyse.pdf");
  ASSERT_EQ(fx.rc, 0) << error_text();
  int num = 4;
  for (const Case &c : cases) {
    const ObjEntry *e = fx.obj(num);
    ASSERT_NE(e, nullptr) << c.what;
    FontInfo fi{-5, 99, 99};
    EXPECT_EQ(analyse_font(&fx.g.d, *e, &fi), c.rc) << c.what;
    EXPECT_EQ(fi.obj_num, num) << c.what;
    EXPECT_EQ(fi.kind, c.kind) << c.what;
    EXPECT_EQ(fi.encoding, c.enc) << c.what;
    num++;
  }
}

// An object from an object stream is analysed on its own text.
TEST(AnalyseFont, ObjectStreamText) {
  Fixture fx({"<< /F1 5 0 R >>"}, "objstm-text.pdf");
  ASSERT_EQ(fx.rc, 0) << error_text();
  struct {
    std::string text;
    int rc, kind, enc;
  } cases[] = {
      {"<< /Type /Font /Subtype /Type1 /Encoding /MacRomanEncoding >>", 1, FONT_SIMPLE, ENC_MACROMAN},
      {"<</Type/Font/Subtype/Type0>>", 1, FONT_TYPE0, ENC_NONE},
      {"<< /Font << /F1 5 0 R >> >>", 0, FONT_OTHER, ENC_NONE},
      {"17", 0, FONT_OTHER, ENC_NONE},
  };
  for (auto &c : cases) {
    std::vector<unsigned char> text(c.text.begin(), c.text.end());  // exactly sized
    ObjEntry e{};
    e.num = 31;
    e.hdr_off = e.dict_off = e.stream_off = e.data_off = e.data_end = e.endobj_off = -1;
    e.in_objstm = 1;
    e.os_text = text.data();
    e.os_len = static_cast<int>(text.size());
    FontInfo fi{};
    EXPECT_EQ(analyse_font(&fx.g.d, e, &fi), c.rc) << c.text;
    EXPECT_EQ(fi.obj_num, 31);
    EXPECT_EQ(fi.kind, c.kind) << c.text;
    EXPECT_EQ(fi.encoding, c.enc) << c.text;
  }
}
