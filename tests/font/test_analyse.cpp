// The classification of font dictionaries, on small PDF texts built here.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "font/font.h"
#include "pdf/pdf.h"
#include "test_support.h"

using namespace zyk;

namespace {

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
    ErrorText err;
    rc = doc_load(path.c_str(), &g.d, &err) ? 0 : -1;
  }
  int rc = -1;
  const ObjEntry *obj(int num) const {
    int k = obj_find(&g.d.objs, num);
    return k < 0 ? nullptr : &g.d.objs.elems[k];
  }
};

}  // namespace

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
      // Keys are read as tokens: a /Subtype or /Encoding inside a comment or
      // a string is no key of the font, and a dictionary that does not parse
      // is no font dictionary.
      {"subtype in a comment", "<< /Type /Font % /Subtype /Type3\n /Subtype /TrueType >>", 1, FONT_SIMPLE,
       ENC_WINANSI},
      {"subtype and encoding in a string",
       "<< /Type /Font /BaseFont /X /Note (/Subtype /Type0 /Encoding /MacRomanEncoding) /FirstChar 32 >>", 1,
       FONT_OTHER, ENC_WINANSI},
      {"descriptor named only in a string", "<< /Type /Font /Subtype /CIDFontType0 /Note (/FontDescriptor 7 0 R) >>",
       1, FONT_OTHER, ENC_WINANSI},
      {"a comment holding >>", "<< /Type /Font % >>\n /Subtype /Type3 >>", 1, FONT_TYPE3, ENC_NONE},
      {"N R in the dictionary", "<< /Type /Font /Subtype /TrueType /FontDescriptor 7 R >>", 0, FONT_OTHER, ENC_NONE},
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
