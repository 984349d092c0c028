// The page tree: order, parents, inherited rotation and boxes, broken trees,
// and the resource dictionary that applies to a page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "load_fixture.h"

using namespace zyk;
using zyk_test::make_pdf;

namespace {

struct PageWant {
  int num, parent, rotate;
};

void expect_pages(Loaded &l, const std::vector<PageWant> &want, const char *what) {
  ASSERT_EQ(l.rc, 0) << what << ": " << l.err;
  ASSERT_EQ(l.d().pages.nelems, static_cast<int>(want.size())) << what;
  for (std::size_t i = 0; i < want.size(); i++) {
    const PageInfo &p = l.d().pages.elems[i];
    EXPECT_EQ(p.num, want[i].num) << what << " page " << i;
    EXPECT_EQ(p.parent, want[i].parent) << what << " page " << i;
    EXPECT_EQ(p.rotate, want[i].rotate) << what << " page " << i;
  }
}

}  // namespace

TEST(PageTree, OrderParentsAndInheritedRotation) {
  struct Case {
    const char *what;
    std::vector<std::string> objs;
    std::vector<PageWant> want;
  } cases[] = {
      {"catalog names a page directly",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Page >>"},
       {{2, -1, 0}}},
      {"node rotation reaches the pages; a page's own rotation is not included",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Rotate 90 /Kids [3 0 R 4 0 R] >>",
        "<< /Type /Page /Rotate 270 >>", "<< /Type /Page >>"},
       {{3, 2, 90}, {4, 2, 90}}},
      {"nested node overrides, deeper kids in document order",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Rotate 90 /Kids [3 0 R 5 0 R] >>",
        "<< /Type /Pages /Rotate 180 /Kids [4 0 R] >>", "<< /Type /Page >>", "<< /Type /Page >>"},
       {{4, 3, 180}, {5, 2, 90}}},
      {"rotation is reduced; a negative one counts as absent",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Rotate 450 /Kids [3 0 R] >>",
        "<< /Type /Pages /Rotate -90 /Kids [4 0 R] >>", "<< /Type /Page >>"},
       {{4, 3, 90}}},
      {"a page listed twice is listed twice",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] >>",
        "<< /Type /Page >>", "<< /Type /Pages /Kids [5 0 R 5 0 R] >>", "<< /Type /Page >>"},
       {{3, 2, 0}, {5, 4, 0}, {5, 4, 0}}},
  };
  for (const Case &c : cases) {
    Loaded l;
    load_text(l, make_pdf(c.objs));
    expect_pages(l, c.want, c.what);
  }
}

TEST(PageTree, BrokenTreesFail) {
  struct Case {
    const char *what;
    std::vector<std::string> objs;
  } cases[] = {
      {"node lists itself", {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [2 0 R] >>"}},
      {"two nodes list each other",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Pages /Kids [2 0 R] >>"}},
      {"inline page one level down",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Pages /Kids [<< /Type /Page >>] >>"}},
      {"missing kid", {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [9 0 R] >>"}},
  };
  for (const Case &c : cases) {
    Loaded l;
    load_text(l, make_pdf(c.objs));
    EXPECT_EQ(l.rc, -1) << c.what;
    EXPECT_EQ(l.err.rfind("could not resolve the page tree (obj 2 ", 0), 0u) << c.what << ": " << l.err;
  }
}

TEST(PageTree, DepthIsBounded) {
  // A chain of nested nodes: 256 levels below the root still resolve, one
  // more is a broken tree.
  for (int levels : {256, 257}) {
    std::vector<std::string> objs = {"<< /Type /Catalog /Pages 2 0 R >>"};
    for (int i = 0; i <= levels; i++)
      objs.push_back("<< /Type /Pages /Kids [" + std::to_string(i + 3) + " 0 R] >>");
    objs.push_back("<< /Type /Page >>");
    Loaded l;
    load_text(l, make_pdf(objs));
    if (levels == 256) {
      EXPECT_EQ(l.rc, 0) << l.err;
    } else {
      EXPECT_EQ(l.rc, -1);
    }
  }
}

TEST(PageTree, Boxes) {
  struct Case {
    const char *what;
    std::string node_extra, page_extra;
    double box[4];
  } cases[] = {
      {"crop box preferred", "", "/CropBox [10 20 300 400] /MediaBox [0 0 612 792]", {10, 20, 300, 400}},
      {"empty crop box falls back to media box", "", "/CropBox [0 0 0 0] /MediaBox [0 0 612 792]", {0, 0, 612, 792}},
      {"three numbers are no box", "", "/MediaBox [0 0 612]", {0, 0, 595, 842}},
      {"commas and fractions", "", "/MediaBox [0,0,595.276,841.89]", {0, 0, 595.276, 841.89}},
      {"negative origin kept as written", "", "/MediaBox [-10 -20 100 200]", {-10, -20, 100, 200}},
      {"inherited media box", "/MediaBox [0 0 612 792]", "", {0, 0, 612, 792}},
      {"inherited crop box beats inherited media box", "/MediaBox [0 0 612 792] /CropBox [5 5 600 780]", "",
       {5, 5, 600, 780}},
      {"own box beats inherited box", "/MediaBox [0 0 612 792]", "/MediaBox [0 0 200 300]", {0, 0, 200, 300}},
      {"no box anywhere", "", "", {0, 0, 595, 842}},
  };
  for (const Case &c : cases) {
    Loaded l;
    load_text(l, make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                           "<< /Type /Pages " + c.node_extra + " /Kids [3 0 R] >>",
                           "<< /Type /Page " + c.page_extra + " >>"}));
    ASSERT_EQ(l.rc, 0) << c.what << ": " << l.err;
    for (int k = 0; k < 4; k++) EXPECT_NEAR(l.d().pages.elems[0].box[k], c.box[k], 1e-9) << c.what << " [" << k << "]";
  }
}

TEST(PageTree, OwnRotation) {
  struct Case {
    std::string dict;
    int want;
  } cases[] = {
      {"<< /Type /Page /Rotate 270 >>", 270},
      {"<< /Type /Page /Rotate 450 >>", 450},   // unreduced
      {"<< /Type /Page /Rotate -90 >>", -1},
      {"<< /Type /Page >>", -1},
      {"<< /Type /Page /Rotate /X >>", -1},
  };
  for (const Case &c : cases) {
    Loaded l;
    load_text(l, make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", c.dict}));
    ASSERT_EQ(l.rc, 0) << l.err;
    EXPECT_EQ(obj_rotate_own(l.d().pdf, l.d().pdf_len, *l.obj(2)), c.want) << c.dict;
  }
}

namespace {

// The resource dictionary text for a page, as the writer asks for it, or
// what the search ended with.
std::string resources_of(Loaded &l, int page_num) {
  const byte *t = nullptr;
  int n = 0, bad = 0;
  switch (page_resources_text(l.d(), page_num, 32, &t, &n, &bad)) {
    case ResourcesFound::found:
      return std::string(reinterpret_cast<const char *>(t), static_cast<std::size_t>(n));
    case ResourcesFound::none:
      return "<null>";
    case ResourcesFound::unreadable:
      break;
  }
  return "<unreadable " + std::to_string(bad) + ">";
}

}  // namespace

TEST(PageResources, OwnIndirectAndInherited) {
  struct Case {
    const char *what;
    std::vector<std::string> objs;  // 1 catalog, 2 node, 3 page, ...
    std::string want;
  } cases[] = {
      {"inline on the page",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 4 0 R >> >> >>"},
       "<< /Font << /F1 4 0 R >> >>"},
      {"indirect object",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources 4 0 R >>", "<< /ProcSet [/PDF] >>"},
       "<< /ProcSet [/PDF] >>"},
      {"inherited from the parent",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Resources << /XObject << >> >> >>",
        "<< /Type /Page /Parent 2 0 R >>"},
       "<< /XObject << >> >>"},
      {"none anywhere",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>", "<< /Type /Page /Parent 2 0 R >>"},
       "<null>"},
      // The dictionary is measured by tokens: a ">>" in a comment or a
      // string neither ends it nor hides the entries after it, and a key
      // inside a string or a nested dictionary is no key of the page.
      {"comment holding >>",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources << % old >> entry\n /XObject << /Im1 5 0 R >> >> >>"},
       "<< % old >> entry\n /XObject << /Im1 5 0 R >> >>"},
      {"string holding >> and /XObject",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources << /Note (a >> /XObject << /Im9 9 0 R >>) /Font << /F1 4 0 R >> >> >>"},
       "<< /Note (a >> /XObject << /Im9 9 0 R >>) /Font << /F1 4 0 R >> >>"},
      {"/Resources of a nested dictionary is not the page's",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Resources << /R 1 >> >>",
        "<< /Type /Page /Parent 2 0 R /PieceInfo << /App << /Resources << /R 2 >> >> >> /Note (/Resources 4 0 R) >>",
        "<< /R 4 >>"},
       "<< /R 1 >>"},
      {"null /Resources is absent",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Resources << /R 1 >> >>",
        "<< /Type /Page /Parent 2 0 R /Resources null >>"},
       "<< /R 1 >>"},
      {"a reference to a missing object is null",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Resources << /R 1 >> >>",
        "<< /Type /Page /Parent 2 0 R /Resources 40 0 R >>"},
       "<< /R 1 >>"},
      {"indirect object from the parent, in its own text",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Resources 4 0 R >>",
        "<< /Type /Page /Parent 2 0 R >>", "<< /Font << /F1 5 0 R >> % note >>\n>>"},
       "<< /Font << /F1 5 0 R >> % note >>\n>>"},
      // One rule for references: "N G R" only. A bare number or "N R" where
      // the resources or the parent are named leaves them unknown.
      {"bare number as /Resources",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources 4 >>", "<< /R 1 >>"},
       "<unreadable 3>"},
      {"N R as /Resources",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources 4 R >>", "<< /R 1 >>"},
       "<unreadable 3>"},
      {"bare number as /Parent",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Resources << /R 1 >> >>",
        "<< /Type /Page /Parent 2 >>"},
       "<unreadable 3>"},
      {"reference to an object that is no dictionary",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources 4 0 R >>", "[/PDF /Text]"},
       "<unreadable 4>"},
      {"bare number naming a font",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 5 >> >> >>"},
       "<unreadable 3>"},
      {"N R in an array",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources << /ColorSpace << /C0 [/ICCBased 6 R] >> >> >>"},
       "<unreadable 3>"},
      {"N R in a category dictionary given by reference",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources << /XObject 4 0 R >> >>", "<< /Im1 5 R >>"},
       "<unreadable 3>"},
      {"a key that names no category may name a stream",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources << /ZykOwn 4 0 R /ProcSet [/PDF] >> >>",
        "<< /Length 0 >>\nstream\n\nendstream"},
       "<< /ZykOwn 4 0 R /ProcSet [/PDF] >>"},
      {"resource dictionary that does not parse",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 5 R >> >> >>"},
       "<unreadable 3>"},
  };
  for (const Case &c : cases) {
    Loaded l;
    load_text(l, make_pdf(c.objs));
    ASSERT_EQ(l.rc, 0) << c.what << ": " << l.err;
    EXPECT_EQ(resources_of(l, 3), c.want) << c.what;
  }
}

TEST(PageResources, ParentSearchStopsAfter32Steps) {
  // The page sits below `levels` resource-less nodes; the resources are on the
  // top node. 32 /Parent steps reach it; 33 do not.
  for (int levels : {32, 33}) {
    // Objects: 1 catalog, 2 top node (with resources), 3..levels+1 nodes, then the page.
    std::vector<std::string> objs = {"<< /Type /Catalog /Pages 2 0 R >>",
                                     "<< /Type /Pages /Kids [3 0 R] /Resources << /R 1 >> >>"};
    for (int i = 3; i <= levels + 1; i++)
      objs.push_back("<< /Type /Pages /Parent " + std::to_string(i - 1) + " 0 R /Kids [" + std::to_string(i + 1) +
                     " 0 R] >>");
    int page = levels + 2;
    objs.push_back("<< /Type /Page /Parent " + std::to_string(page - 1) + " 0 R >>");
    Loaded l;
    load_text(l, make_pdf(objs));
    ASSERT_EQ(l.rc, 0) << l.err;
    EXPECT_EQ(resources_of(l, page), levels == 32 ? "<< /R 1 >>" : "<null>") << levels;
  }
}
