// Page geometry: rotation and boxes whose lower-left corner is not the
// origin. The oracle is poppler: the output page must render exactly as the
// source page does.
#include <regex>

#include "writer/writer.h"
#include "writer_fixture.h"

namespace {

struct GeoCase {
  const char *what;
  double box[4];            // the visible box
  const char *page_boxes;   // the page's own box entries
  const char *page_rotate;  // the page's own /Rotate entry, or ""
  const char *tree_rotate;  // the page-tree node's /Rotate entry, or ""
  int width, height;        // expected media box of the output page
};

std::string num(double v) { return zyk::format_num(v); }

// Three marks that tell every rotation and mirror apart, and a bar that
// runs past the box on both sides (the box must clip it).
std::string marks(const double b[4]) {
  double x0 = b[0], y0 = b[1], w = b[2] - b[0], h = b[3] - b[1];
  return "0 g " + num(x0 + 0.1 * w) + " " + num(y0 + 0.1 * h) + " " + num(0.3 * w) + " " + num(0.2 * h) +
         " re f 0.5 g " + num(x0 + 0.6 * w) + " " + num(y0 + 0.6 * h) + " " + num(0.3 * w) + " " + num(0.3 * h) +
         " re f 0.25 g " + num(x0 - 40) + " " + num(y0 + 0.45 * h) + " " + num(w + 80) + " " + num(0.08 * h) +
         " re f 0.75 g " + num(x0 + 0.05 * w) + " " + num(y0 + 0.7 * h) + " " + num(0.1 * w) + " " + num(0.25 * h) +
         " re f";
}

std::string geo_pdf(const GeoCase &c) {
  return zyk_test::make_pdf(
      {"<< /Type /Catalog /Pages 2 0 R >>",
       std::string("<< /Type /Pages /Kids [3 0 R] /Count 1 ") + c.tree_rotate + " >>",
       std::string("<< /Type /Page /Parent 2 0 R ") + c.page_boxes + " " + c.page_rotate + " /Contents 4 0 R >>",
       wt::stream("", marks(c.box)), "[300 300 100 200]"});
}

const GeoCase k_cases[] = {
    {"origin, 0", {0, 0, 200, 100}, "/MediaBox [0 0 200 100]", "", "", 200, 100},
    {"origin, 90", {0, 0, 200, 100}, "/MediaBox [0 0 200 100]", "/Rotate 90", "", 100, 200},
    {"origin, 180", {0, 0, 200, 100}, "/MediaBox [0 0 200 100]", "/Rotate 180", "", 200, 100},
    {"origin, 270", {0, 0, 200, 100}, "/MediaBox [0 0 200 100]", "/Rotate 270", "", 100, 200},
    {"offset, 0", {100, 200, 300, 300}, "/MediaBox [100 200 300 300]", "", "", 200, 100},
    {"offset, 90", {100, 200, 300, 300}, "/MediaBox [100 200 300 300]", "/Rotate 90", "", 100, 200},
    {"offset, 180", {100, 200, 300, 300}, "/MediaBox [100 200 300 300]", "/Rotate 180", "", 200, 100},
    {"offset, 270", {100, 200, 300, 300}, "/MediaBox [100 200 300 300]", "/Rotate 270", "", 100, 200},
    {"negative corner, 90", {-100, -50, 100, 50}, "/MediaBox [-100 -50 100 50]", "/Rotate 90", "", 100, 200},
    {"crop box inside media box",
     {50, 60, 250, 300},
     "/MediaBox [0 0 300 400] /CropBox [50 60 250 300]",
     "",
     "",
     200,
     240},
    {"crop box, rotation inherited",
     {50, 60, 250, 300},
     "/MediaBox [0 0 300 400] /CropBox [50 60 250 300]",
     "",
     "/Rotate 90",
     240,
     200},
    {"own -90 is 270", {100, 200, 300, 300}, "/MediaBox [100 200 300 300]", "/Rotate -90", "/Rotate 90", 100, 200},
    {"own 450 is 90", {0, 0, 200, 100}, "/MediaBox [0 0 200 100]", "/Rotate 450", "", 100, 200},
    {"inherited -90 is 270", {0, 0, 200, 100}, "/MediaBox [0 0 200 100]", "", "/Rotate -90", 100, 200},
    // Object 5 is the array [300 300 100 200]: a box by reference, with its
    // corners in the other order.
    {"box by reference, 90", {100, 200, 300, 300}, "/MediaBox 5 0 R", "/Rotate 90", "", 100, 200},
    {"corners reversed", {100, 200, 300, 300}, "/MediaBox [300 300 100 200]", "", "", 200, 100},
    {"crop box beyond the media box",
     {0, 0, 150, 100},
     "/MediaBox [0 0 200 100] /CropBox [-50 -50 150 150]",
     "",
     "",
     150,
     100},
    {"crop box inherited, media box own",
     {100, 200, 300, 300},
     "/MediaBox [0 0 400 400]",
     "",
     "/CropBox 5 0 R",
     200,
     100},
};

}  // namespace

TEST(Geometry, MediaBoxStartsAtTheOriginWithTheVisibleSize) {
  for (const GeoCase &c : k_cases) {
    SCOPED_TRACE(c.what);
    wt::Converted out = wt::convert_text(geo_pdf(c));
    ASSERT_EQ(out.rc, 1) << out.err;
    wt::Output o = wt::read_output(out.bytes);
    EXPECT_NE(o.obj(3).find("/MediaBox [0 0 " + std::to_string(c.width) + " " + std::to_string(c.height) + "]"),
              std::string::npos)
        << o.obj(3);
    EXPECT_EQ(o.obj(3).find("/Rotate"), std::string::npos);
  }
}

TEST(Geometry, OutputRendersLikeTheSource) {
  if (!wt::have_tool("pdftoppm")) GTEST_SKIP() << "pdftoppm not available";
  for (const GeoCase &c : k_cases) {
    SCOPED_TRACE(c.what);
    std::string in = zyk_test::write_temp(wt::fresh_name("geo.pdf"), geo_pdf(c));
    wt::Converted out = wt::convert_file(in, 2);
    ASSERT_EQ(out.rc, 1) << out.err;
    wt::Image a = wt::render(in), b = wt::render(out.out_path);
    ASSERT_FALSE(a.px.empty());
    ASSERT_EQ(a.w, b.w);
    ASSERT_EQ(a.h, b.h);
    EXPECT_LT(wt::mean_diff(a, b), 1.0);
  }
}

TEST(Geometry, NumbersPrintAsIntegersOrWithFourDecimals) {
  struct Case {
    double v;
    const char *text;
  };
  const Case cases[] = {{595, "595"},         {-0.0, "0"},  {595.3, "595.3000"},
                        {841.89, "841.8900"}, {-12, "-12"}, {3e9, "3000000000.0000"}};
  for (const Case &c : cases) EXPECT_EQ(zyk::format_num(c.v), c.text);
}

namespace {

// Poppler draws a popup's appearance, which viewers show only when the
// popup is opened; the render comparison leaves the popup out.
std::string annotated_pdf(const char *rotate, bool popup) {
  return zyk_test::make_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      std::string("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] ") + rotate +
          " /Contents 4 0 R /Annots [5 0 R 6 0 R 7 0 R 8 0 R << /Subtype /Square /Rect [60 150 90 180] /AP << /N 9 "
          "0 R >> >>] >>",
      wt::stream("", "0.8 g 0 0 200 100 re f 0 g q 2 0 0 2 0 0 cm"),  // leaves its state changed
      "<< /Type /Annot /Subtype /Widget /Rect [20 20 40 60] /AP << /N 9 0 R >> >>",
      "<< /Type /Annot /Subtype /Widget /Rect [100 100 140 120] /AS /On /AP << /N << /On 10 0 R /Off 11 0 R >> >> >>",
      "<< /Type /Annot /Subtype /Square /F 2 /Rect [150 20 190 60] /AP << /N 9 0 R >> >>",
      popup ? "<< /Type /Annot /Subtype /Popup /Rect [150 150 190 190] /AP << /N 9 0 R >> >>"
            : "<< /Type /Annot /Subtype /Link /Border [0 0 0] /Rect [150 150 190 190] >>",
      wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10]", "0.3 g 0 0 10 10 re f 1 g 0 0 5 5 re f"),
      // An appearance stream without /Type and /Subtype, as producers write them.
      wt::stream("/BBox [0 0 20 10] /Matrix [0 1 -1 0 0 0]", "0 g 0 0 20 10 re f 1 g 0 0 4 4 re f"),
      wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 20 10]", "0.5 g 0 0 20 10 re f"),
  });
}

}  // namespace

// What annotations show is part of the page: visible appearances are
// painted into the output page exactly where a viewer draws them.
TEST(Geometry, VisibleAnnotationsArePaintedIntoThePage) {
  for (const char *rotate : {"", "/Rotate 90"}) {
    SCOPED_TRACE(rotate);
    for (bool popup : {true, false}) {
      wt::Converted out = wt::convert_text(annotated_pdf(rotate, popup));
      ASSERT_EQ(out.rc, 1) << out.err;
      wt::Output o = wt::read_output(out.bytes);
      std::string content = o.data(4);
      for (auto [num, off] : o.offsets) {
        if (o.dict(num).find("/Matrix [0 1 -1 0 0 0]") != std::string::npos) {
          EXPECT_NE(o.dict(num).find("/Subtype /Form"), std::string::npos) << o.dict(num);
        }
      }
      // The widget, the chosen state and the square; not the hidden
      // annotation, the popup or the link without appearance.
      std::size_t paints = 0;
      for (std::size_t p = 0; (p = content.find(" Do Q", p)) != std::string::npos; p++) paints++;
      EXPECT_EQ(paints, 3u) << content;
    }
    if (!wt::have_tool("pdftoppm")) continue;
    std::string in = zyk_test::write_temp(wt::fresh_name("annots.pdf"), annotated_pdf(rotate, false));
    wt::Converted out = wt::convert_file(in, 1);
    ASSERT_EQ(out.rc, 1) << out.err;
    wt::Image a = wt::render(in, 36), b = wt::render(out.out_path, 36);
    ASSERT_FALSE(a.px.empty());
    EXPECT_LT(wt::mean_diff(a, b), 1.0);
  }
}

// The page's /Contents is its own top-level key: the /Contents text of an
// inline annotation is no content stream of a page that has none, and
// such a page converts with its annotation painted.
TEST(Geometry, AnInlineAnnotationsContentsIsNotThePages) {
  wt::Converted out = wt::convert_text(zyk_test::make_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [<< /Subtype /Square /Rect [20 20 40 40] "
      "/Contents (a note) /AP << /N 4 0 R >> >>] >>",
      wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10]", "0 g 0 0 10 10 re f"),
  }));
  ASSERT_EQ(out.rc, 1) << out.err;
  wt::Output o = wt::read_output(out.bytes);
  EXPECT_NE(o.data(4).find(" Do Q"), std::string::npos) << o.data(4);
}

// Boxes and rotation inherited through a tree of nodes: the facts of the
// nodes kept over a conversion (read for one page, used for the next) give
// every page what a fresh walk up from it gives, in any order of pages.
TEST(Geometry, InheritedBoxesAndRotationAreTheSameThroughTheNodeCache) {
  zyk::DocGuard g;
  std::string path = zyk_test::write_temp(
      "geometry_node_cache.pdf",
      zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                          "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 4 /Rotate 90 /MediaBox [0 0 600 800] >>",
                          "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 6 0 R] /Count 2 /CropBox [10 10 500 700] "
                          "/Rotate -90 >>",
                          "<< /Type /Pages /Parent 2 0 R /Kids [7 0 R 8 0 R] /Count 2 /MediaBox [0 0 0 0] >>",
                          "<< /Type /Page /Parent 3 0 R >>",
                          "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 300 300] /Rotate 180 >>",
                          "<< /Type /Page /Parent 4 0 R >>",
                          "<< /Type /Page /Parent 4 0 R /CropBox [50 50 100 100] >>"}));
  zyk::ErrorText load_err;
  ASSERT_TRUE(zyk::doc_load(path.c_str(), &g.d, &load_err)) << load_err.text;
  ASSERT_EQ(g.d.pages.nelems, 4);
  struct Want {
    double box[4];
    int rotation;
  } want[] = {
      {{10, 10, 500, 700}, 270},  // crop box and rotation of the parent, media box of the root
      {{10, 10, 300, 300}, 180},  // own media box and rotation, the parent's crop box clipped to it
      {{0, 0, 600, 800}, 90},     // the parent's box is unusable: the root's
      {{50, 50, 100, 100}, 90},
  };
  for (bool reversed : {false, true}) {
    zyk::PageNodeCache nodes;
    for (int n = 0; n < 4; n++) {
      const int i = reversed ? 3 - n : n;
      const zyk::PageInfo &pi = g.d.pages.elems[i];
      double fresh[4], kept[4];
      zyk::page_box(g.d, pi, fresh);
      zyk::page_box(g.d, pi, kept, &nodes);
      for (int k = 0; k < 4; k++) {
        EXPECT_EQ(fresh[k], want[i].box[k]) << "page " << i + 1 << " corner " << k;
        EXPECT_EQ(kept[k], want[i].box[k]) << "page " << i + 1 << " corner " << k << " (cached)";
      }
      EXPECT_EQ(zyk::page_rotation(g.d, pi), want[i].rotation) << "page " << i + 1;
      EXPECT_EQ(zyk::page_rotation(g.d, pi, &nodes), want[i].rotation) << "page " << i + 1 << " (cached)";
    }
    EXPECT_EQ(nodes.by_num.count(5), 0u);  // pages' own facts are not kept
  }
}

// Pages naming the same content streams with the same resources, box and
// rotation are drawn by one form XObject: the content is rewritten and
// written once, every page still shows it, and a page that differs in box,
// rotation, resources or painted annotations keeps a form of its own.
TEST(Geometry, PagesSharingTheirContentShareOneForm) {
  const std::string res = "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>";
  const std::string other_res = "<< /Font << /F1 14 0 R >> >>";
  auto page = [&](const std::string &extra, const std::string &r = "11 0 R") {
    return "<< /Type /Page /Parent 2 0 R /Resources " + r + " /Contents [4 0 R 5 0 R] " + extra + " >>";
  };
  const std::string pdf = zyk_test::make_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 6 0 R 7 0 R 8 0 R 9 0 R 10 0 R 12 0 R] /Count 7 /MediaBox [0 0 200 100] >>",
      page(""),
      wt::stream("", "BT /F1 12 Tf 20 40 Td (Shared"),
      wt::stream("", " words) Tj ET 0 0 1 rg 150 10 30 30 re f"),
      page(""),                                     // 6: as page 1: drawn by page 1's form
      page("/MediaBox [0 0 300 100]"),              // 7: another box
      page("/Rotate 90"),                           // 8: another rotation
      page("", other_res),                          // 9: other resources
      page("/Annots [<< /Subtype /Square /Rect [0 0 10 10] /AP << /N 13 0 R >> >>]"),  // 10: paints an annotation
      res,
      page(""),                                     // 12: as page 1 again
      wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10]", "0 g 0 0 10 10 re f"),
      "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>",
  });
  const std::string in = zyk_test::write_temp(wt::fresh_name("shared.pdf"), pdf);
  for (int part : {1, 2}) {
    SCOPED_TRACE(part);
    wt::Converted out = wt::convert_file(in, part);
    ASSERT_EQ(out.rc, 1) << out.err;
    wt::Output o = wt::read_output(out.bytes);
    // Page i is object 3i+3, its form 3i+4.
    const int drawn_by[7] = {-1, 0, -1, -1, -1, -1, 0};
    for (int i = 0; i < 7; i++) {
      SCOPED_TRACE(i);
      const int form = drawn_by[i] < 0 ? 3 * i + 4 : 3 * drawn_by[i] + 4;
      EXPECT_NE(o.obj(3 * i + 3).find("/P" + std::to_string(i) + " " + std::to_string(form) + " 0 R"),
                std::string::npos)
          << o.obj(3 * i + 3);
      EXPECT_EQ(o.obj(3 * i + 4).find("null") != std::string::npos, drawn_by[i] >= 0) << o.obj(3 * i + 4);
      if (!wt::have_tool("pdftotext")) continue;
      std::string text;
      zyk_test::run_command("pdftotext -f " + std::to_string(i + 1) + " -l " + std::to_string(i + 1) + " '" +
                                out.out_path + "' - 2>/dev/null",
                            &text);
      EXPECT_NE(text.find("Shared words"), std::string::npos) << text;
    }
    if (wt::have_tool("pdftoppm")) {
      // Page 2 looks exactly like page 1.
      auto render_page = [&](int k) {
        std::string prefix = wt::fresh_path("page");
        zyk_test::run_command("pdftoppm -gray -r 24 -f " + std::to_string(k) + " -l " + std::to_string(k) +
                                  " -singlefile '" + out.out_path + "' '" + prefix + "' 2>/dev/null",
                              nullptr);
        return zyk_test::read_all(prefix + ".pgm");
      };
      const std::string first = render_page(1);
      EXPECT_FALSE(first.empty());
      EXPECT_EQ(first, render_page(2));
    }
    const std::string lint = wt::lint_command(part);
    if (!lint.empty()) {
      EXPECT_EQ(zyk_test::run_command(lint + " '" + out.out_path + "' >/dev/null 2>&1", nullptr), 0);
    }
  }
}
