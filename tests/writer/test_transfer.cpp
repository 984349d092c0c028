// Object transfer: which source objects are copied, how references in them
// are renumbered, and what the copied stream dictionaries look like.
#include <regex>
#include <set>

#include "writer/writer.h"
#include "writer_fixture.h"

namespace {

// The number of the output object whose text carries /ZykTag (tag), or 0;
// fails the test when several do.
int tagged(const wt::Output &o, const std::string &tag) {
  int found = 0;
  for (auto [num, off] : o.offsets) {
    if (o.dict(num).find("/ZykTag (" + tag + ")") == std::string::npos) continue;
    EXPECT_EQ(found, 0) << tag << " copied twice";
    found = num;
  }
  return found;
}

std::string ref(int num) { return std::to_string(num) + " 0 R"; }

// Every "N 0 R" in every dictionary and value of the output names an object
// of the table.
void expect_no_dangling(const wt::Output &o) {
  std::regex r("(\\d+) (\\d+) R\\b");
  for (auto [num, off] : o.offsets) {
    std::string d = o.dict(num);
    for (auto it = std::sregex_iterator(d.begin(), d.end(), r); it != std::sregex_iterator(); ++it)
      EXPECT_TRUE(o.offsets.count(std::stoi((*it)[1]))) << "object " << num << " names " << (*it)[0];
  }
}

std::string transfer_pdf() {
  std::vector<std::string> b = {
      /*1*/ "<< /Type /Catalog /Pages 2 0 R >>",
      /*2*/ "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
      /*3*/
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 7 0 R /Resources << /XObject << /X1 5 0 R >> "
      "/Font << /F1 6 0 R /T3 14 0 R >> /ExtGState << /G1 10 0 R >> >> >>",
      /*4*/
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 7 0 R /Resources << /XObject << /X1 5 0 R "
      "/Im 8 0 R >> /Properties << /P 11 0 R >> >> >>",
      /*5*/
      wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources << /XObject << /Im 8 0 R >> >> "
                 "/ZykTag (form5)",
                 "/Im Do"),
      /*6*/ "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FontDescriptor 13 0 R >>",
      /*7*/ wt::stream("", "q 50 0 0 50 0 0 cm /X1 Do Q"),
      /*8*/
      "<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 "
      "/SMask 9 0 R /Length 12 0 R /Interpolate true /Alternates [15 0 R] /OPI << /2.0 16 0 R >> "
      "/ZykTag (image8) >>\nstream\n\x80\nendstream",
      /*9*/
      wt::stream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                 "/ZykTag (smask9)",
                 "\x80"),
      /*10*/
      "<< /Type /ExtGState /ZykMissing 99 0 R /ZykPage 3 0 R /ZykTag (gs10) /ZykText (5 0 R) % 5 0 R\n"
      " /ZykSpaced 9\n0\tR /ZykName /F12 /ZykArray [/F12 0] >>",
      /*11*/ "<< /Type /OCG /Name (layer) /ZykTag (ocg11) /ZykCatalog 1 0 R /ZykPages 2 0 R >>",
      /*12*/ "1",
      /*13*/ "<< /Type /FontDescriptor /ZykTag (fd13) >>",
      /*14*/
      "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [1 0 0 1 0 0] /CharProcs << /a 17 0 R >> "
      "/Encoding << /Type /Encoding /Differences [97 /a] >> /FirstChar 97 /LastChar 97 /Widths [1] "
      "/Resources << /Font << /F 6 0 R >> >> /ZykTag (t3) >>",
      /*15*/ wt::stream("/Type /XObject /Subtype /Image /ZykTag (alt15)", "x"),
      /*16*/ "<< /ZykTag (opi16) >>",
      /*17*/ wt::stream("/ZykTag (proc17)", "1 0 0 0 1 1 d1 0 0 1 1 re f"),
  };
  return zyk_test::make_pdf(b);
}

}  // namespace

TEST(Transfer, FollowsReferencesTransitivelyAndCopiesEachObjectOnce) {
  // Part 2, which keeps the image's (real) soft mask.
  wt::Converted c = wt::convert_text(transfer_pdf(), 2);
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output o = wt::read_output(c.bytes);
  const int B = 9;  // two pages

  // Reached from both pages, through a form, an ExtGState, a Type3 font and
  // an image's soft mask: each copied once.
  int form = tagged(o, "form5"), image = tagged(o, "image8"), smask = tagged(o, "smask9"), gs = tagged(o, "gs10"),
      ocg = tagged(o, "ocg11"), t3 = tagged(o, "t3"), proc = tagged(o, "proc17");
  for (int n : {form, image, smask, gs, ocg, t3, proc}) EXPECT_GE(n, B + 11);
  // Not reached: the replaced font's descriptor, an image's alternates and
  // OPI dictionary, the indirect length.
  for (const char *t : {"fd13", "alt15", "opi16"}) EXPECT_EQ(tagged(o, t), 0) << t;
  EXPECT_EQ(c.bytes.find("/BaseFont /Helvetica"), std::string::npos);
  // Seven objects copied, numbered densely after the fixed block.
  EXPECT_EQ(o.size, B + 11 + 7);

  // Page forms: renumbered resources; the simple font is the substitute font.
  std::string form_a = o.dict(4), form_b = o.dict(7);
  EXPECT_NE(form_a.find("/X1 " + ref(form)), std::string::npos) << form_a;
  EXPECT_NE(form_a.find("/F1 " + ref(B)), std::string::npos);
  EXPECT_NE(form_a.find("/T3 " + ref(t3)), std::string::npos);
  EXPECT_NE(form_b.find("/X1 " + ref(form)), std::string::npos) << form_b;
  EXPECT_NE(form_b.find("/Im " + ref(image)), std::string::npos);
  EXPECT_NE(o.dict(form).find("/Im " + ref(image)), std::string::npos);
  EXPECT_NE(o.dict(t3).find("/F " + ref(B)), std::string::npos);
  EXPECT_NE(o.dict(t3).find("/a " + ref(proc)), std::string::npos);

  // Missing objects, pages, page-tree nodes and the catalog become null;
  // strings, comments and names keep their digits; any white space
  // separates the parts of a reference.
  std::string g = o.dict(gs);
  for (const char *s :
       {"/ZykMissing null", "/ZykPage null", "/ZykText (5 0 R)", "% 5 0 R\n", "/ZykName /F12 /ZykArray [/F12 0]"})
    EXPECT_NE(g.find(s), std::string::npos) << s << " in " << g;
  EXPECT_NE(g.find("/ZykSpaced " + ref(smask)), std::string::npos) << g;
  EXPECT_NE(o.dict(ocg).find("/ZykCatalog null /ZykPages null"), std::string::npos);

  // The image: exact direct length, no forbidden keys, renumbered mask.
  std::string im = o.dict(image);
  EXPECT_NE(im.find("<< /Length 1 "), std::string::npos) << im;
  EXPECT_EQ(im.find("/Length 12"), std::string::npos);
  EXPECT_NE(im.find("/Interpolate false"), std::string::npos);
  EXPECT_EQ(im.find("/Alternates"), std::string::npos);
  EXPECT_EQ(im.find("/OPI"), std::string::npos);
  EXPECT_NE(im.find("/SMask " + ref(smask)), std::string::npos);
  EXPECT_EQ(o.data(image), "\x80");

  expect_no_dangling(o);
}

TEST(Transfer, PostScriptXObjectsAreNotPainted) {
  std::string pdf = zyk_test::make_pdf(
      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R /Resources << /XObject << /A 5 0 R /B 6 "
       "0 R /C 7 0 R >> >> >>",
       wt::stream("", "/A Do /B Do /C Do"), wt::stream("/Type /XObject /Subtype /PS /ZykTag (ps5)", "showpage"),
       wt::stream("/Type /XObject /Subtype /Form /Subtype2 /PS /BBox [0 0 1 1] /ZykTag (ps6)", "showpage"),
       wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 1 1] /ZykTag (ok7)", "0 0 1 1 re f")});
  wt::Converted c = wt::convert_text(pdf);
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output o = wt::read_output(c.bytes);
  EXPECT_EQ(tagged(o, "ps5"), 0);
  EXPECT_EQ(tagged(o, "ps6"), 0);
  int ok = tagged(o, "ok7");
  EXPECT_NE(o.dict(4).find("/A null /B null /C " + ref(ok)), std::string::npos) << o.dict(4);
}

TEST(Transfer, DirectFontDictionariesAreReplacedToo) {
  auto pages = wt::one_page("", "BT /F1 12 Tf (a) Tj /F2 12 Tf (b) Tj ET",
                            "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Times-Italic >>/F2<</Subtype"
                            "/TrueType/BaseFont/Arial>> >> >>");
  wt::Converted c = wt::convert_text(zyk_test::make_pdf(pages));
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output o = wt::read_output(c.bytes);
  std::string form = o.dict(4);
  EXPECT_NE(form.find("/F1 6 0 R"), std::string::npos) << form;
  EXPECT_NE(form.find("/F2 6 0 R"), std::string::npos) << form;
  EXPECT_EQ(form.find("Times-Italic"), std::string::npos);
  EXPECT_EQ(form.find("Arial"), std::string::npos);
}

// An earlier transfer stopped at 512 objects; nothing may be dropped.
TEST(Transfer, CopiesEveryReachedObjectWithoutACountLimit) {
  const int n = 600;
  std::string props = "<< /Properties <<";
  std::vector<std::string> b = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", "",
                                wt::stream("", "0 0 1 1 re f")};
  for (int i = 0; i < n; i++) {
    props += " /M" + std::to_string(i) + " " + std::to_string(5 + i) + " 0 R";
    b.push_back("<< /Type /OCG /Name (m" + std::to_string(i) + ") >>");
  }
  props += " >> >>";
  b[2] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] /Contents 4 0 R /Resources " + props + " >>";
  wt::Converted c = wt::convert_text(zyk_test::make_pdf(b));
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output o = wt::read_output(c.bytes);
  EXPECT_EQ(o.size, 6 + 11 + n);
  EXPECT_NE(o.obj(6 + 11 + n - 1).find("(m599)"), std::string::npos);
  expect_no_dangling(o);
}

// The renumbering walk on its own, with a hand-made map.
TEST(Transfer, RemapRecognisesReferencesOnlyAsTokens) {
  zyk::Transfer x;
  zyk::objmap_push(&x.map, 5, 50);
  zyk::objmap_push(&x.map, 6, 0);  // an object that must become null
  struct Case {
    const char *in;
    const char *out;
  };
  const Case cases[] = {
      {"5 0 R", "50 0 R"},
      {"[5 0 R 5 0 R]", "[50 0 R 50 0 R]"},
      {"5\r\n0\tR", "50 0 R"},
      {"5 12 R", "50 0 R"},
      {"<</A 5 0 R/B 6 0 R/C 7 0 R>>", "<</A 50 0 R/B null/C null>>"},
      {"12 5 0 R", "12 50 0 R"},
      {"(5 0 R) <5 0 R> % 5 0 R\n5 0 R", "(5 0 R) <5 0 R> % 5 0 R\n50 0 R"},
      {"(a\\) 5 0 R) 5 0 R", "(a\\) 5 0 R) 50 0 R"},
      {"/F5 0 R /5 0 R", "/F5 0 R /5 0 R"},
      {"5 0 RG 5 0 R/X", "5 0 RG 50 0 R/X"},
      {"5 0.0 R 5.0 0 R 5 0R", "5 0.0 R 5.0 0 R 5 0R"},
      {"99999999999 0 R", "null"},
      {"5 0 R", "50 0 R"},
  };
  for (const Case &c : cases) {
    std::string out;
    zyk::remap_refs(x, reinterpret_cast<const zyk::byte *>(c.in), static_cast<int>(std::strlen(c.in)), &out);
    EXPECT_EQ(out, c.out) << "in: " << c.in;
  }
}

// Text inside a copied form is re-encoded too; the glyphs it uses must be
// among the widths of the substitute font, which is written before the
// copied objects.
TEST(Transfer, GlyphsUsedOnlyInCopiedFormsAreListedInTheWidths) {
  std::string pdf = zyk_test::make_pdf(
      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R /Resources << /XObject << /X 5 0 R >> "
       ">> >>",
       wt::stream("", "/X Do"),
       wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Resources << /Font << /F1 6 0 R >> >>",
                  "BT /F1 12 Tf 10 10 Td (A) Tj ET"),
       "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"});
  wt::Converted c = wt::convert_text(pdf);
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output o = wt::read_output(c.bytes);
  EXPECT_NE(o.dict(7).find("/W ["), std::string::npos) << o.dict(7);  // B + 1 with B = 6
}

// The page's resource dictionary is read by tokens: a ">>" inside a
// comment or a string neither ends it early nor lends it entries, so the
// image named after it is copied and the page still paints it.
TEST(Transfer, ResourcesWithCommentsAndStringsKeepTheirImage) {
  struct Case {
    const char *what;
    std::string resources;
  } cases[] = {
      {"comment holding >>", "<< % old >> entry\n /XObject << /Im1 5 0 R >> >>"},
      {"string holding >> and /XObject", "<< /ZykNote (a >> /XObject << /Im1 6 0 R >>) /XObject << /Im1 5 0 R >> >>"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> b = wt::one_page("", "q 100 0 0 50 0 0 cm /Im1 Do Q", c.resources);
    b.push_back(wt::stream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                           "/BitsPerComponent 8 /ZykTag (image5)",
                           std::string(1, '\0')));
    b.push_back(wt::stream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                           "/BitsPerComponent 8 /ZykTag (decoy6)",
                           std::string(1, '\xff')));
    wt::Converted conv = wt::convert_text(zyk_test::make_pdf(b), 2);
    ASSERT_EQ(conv.rc, 1) << c.what << ": " << conv.err;
    wt::Output o = wt::read_output(conv.bytes);
    const int image = tagged(o, "image5");
    ASSERT_GT(image, 0) << c.what;
    EXPECT_EQ(tagged(o, "decoy6"), 0) << c.what << ": only the resources' own entry is followed";
    // Page 0's form (object 4) names the image as /Im1 and paints it.
    EXPECT_NE(o.dict(4).find("/XObject << /Im1 " + ref(image) + " >>"), std::string::npos) << c.what << o.dict(4);
    EXPECT_NE(o.data(4).find("/Im1 Do"), std::string::npos) << c.what;
    if (wt::have_tool("pdftoppm")) {
      wt::Image img = wt::render(conv.out_path);
      ASSERT_FALSE(img.px.empty()) << c.what;
      // The image's black covers the page's lower left quarter only.
      EXPECT_EQ(img.px[static_cast<std::size_t>(img.h - 1) * static_cast<std::size_t>(img.w)], 0) << c.what;
      EXPECT_EQ(img.px[static_cast<std::size_t>(img.w - 1)], 255) << c.what;
    }
  }
}
