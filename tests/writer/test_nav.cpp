// Outlines, page labels and link annotations carried into the output:
// rebuilt trees, destinations on the new pages, moved like the content.
#include <gtest/gtest.h>

#include <regex>
#include <algorithm>
#include <set>
#include <sstream>

#include "writer_fixture.h"

namespace {

// The value of /key in a dictionary text (the first such key), read as
// the writer prints values; "" when absent. No std::regex: titles run to
// 128 KiB, beyond what its recursion handles.
std::string value_of(const std::string &dict, const std::string &key) {
  std::size_t k = 0;
  for (;;) {
    k = dict.find("/" + key + " ", k);
    if (k == std::string::npos) return "";
    if (k == 0 || dict[k - 1] != '/') break;
    k++;
  }
  std::size_t i = k + key.size() + 2, e = i;
  if (i >= dict.size()) return "";
  if (dict.compare(i, 2, "<<") == 0) {
    for (int depth = 0; e < dict.size(); e++) {
      if (dict.compare(e, 2, "<<") == 0) depth++, e++;
      else if (dict.compare(e, 2, ">>") == 0 && --depth == 0) break;
      else if (dict.compare(e, 2, ">>") == 0) e++;
    }
    return dict.substr(i, e + 2 - i);
  }
  const char c = dict[i];
  if (c == '[') return dict.substr(i, dict.find(']', i) + 1 - i);
  if (c == '<') return dict.substr(i, dict.find('>', i) + 1 - i);
  if (c == '(') {
    for (e = i + 1; e < dict.size() && dict[e] != ')'; e++)
      if (dict[e] == '\\') e++;
    return dict.substr(i, e + 1 - i);
  }
  e = dict.find_first_of(" \n/>[", i + 1);
  std::string tok = dict.substr(i, e - i);
  if (dict.compare(e, 4, " 0 R") == 0) tok += " 0 R";
  return tok;
}

int ref_num(const std::string &ref) { return ref.empty() ? 0 : std::stoi(ref); }

// One outline item as the output has it, read by following /First and /Next.
struct OutItem {
  int depth;
  std::string title, count, dest, action, parent;
};

void walk(const wt::Output &o, int first, int parent, int depth, std::set<int> *seen, std::vector<OutItem> *items) {
  for (int num = first; num && seen->insert(num).second;) {
    std::string d = o.obj(num);
    EXPECT_FALSE(d.empty()) << "outline item " << num << " missing";
    items->push_back({depth, value_of(d, "Title"), value_of(d, "Count"), value_of(d, "Dest"), value_of(d, "A"),
                      value_of(d, "Parent")});
    EXPECT_EQ(ref_num(items->back().parent), parent) << d;
    walk(o, ref_num(value_of(d, "First")), num, depth + 1, seen, items);
    int next = ref_num(value_of(d, "Next"));
    if (next) {
      EXPECT_EQ(ref_num(value_of(o.obj(next), "Prev")), num) << "broken /Prev at " << next;
    }
    num = next;
  }
}

std::vector<OutItem> outline_of(const wt::Output &o, std::string *root_count = nullptr) {
  std::vector<OutItem> items;
  int root = ref_num(value_of(o.obj(1), "Outlines"));
  if (!root) return items;
  std::string r = o.obj(root);
  if (root_count) *root_count = value_of(r, "Count");
  std::set<int> seen;
  walk(o, ref_num(value_of(r, "First")), root, 0, &seen, &items);
  return items;
}

// Two pages (3 and 5; contents 4 and 6) and the given catalog entries; the
// further bodies are objects 7, 8, ...
std::string two_pages(const std::string &catalog_extra, const std::vector<std::string> &more,
                      const std::string &page2_extra = "") {
  std::vector<std::string> b = {
      "<< /Type /Catalog /Pages 2 0 R " + catalog_extra + " >>",
      "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources << >> /Contents 4 0 R >>",
      wt::stream("", "0 0 m 10 10 l S"),
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources << >> /Contents 6 0 R " + page2_extra + " >>",
      wt::stream("", "0 0 m 10 10 l S")};
  b.insert(b.end(), more.begin(), more.end());
  return zyk_test::make_pdf(b);
}

std::string quote(const std::string &s) { return "'" + s + "'"; }

// Every output passes the PDF/A-1 validator and the linter of its part.
void expect_valid(const std::vector<std::string> &part1, const std::vector<std::string> &part2) {
  std::string validate = std::string(ZYK_SHARED_DIR) + "/tools/pdfa-validate";
  if (!std::filesystem::exists(validate) || wt::lint_command(1).empty()) return;
  auto all_pass = [](const std::string &cmd, const std::vector<std::string> &files) {
    std::string line = cmd;
    for (const std::string &f : files) line += " " + quote(f);
    std::string out;
    zyk_test::run_command(line + " 2>&1", &out);
    std::istringstream lines(out);
    int pass = 0;
    for (std::string l; std::getline(lines, l);) {
      EXPECT_EQ(l.rfind("PASS", 0), 0u) << l;
      pass += l.rfind("PASS", 0) == 0;
    }
    EXPECT_EQ(pass, static_cast<int>(files.size())) << out;
  };
  all_pass(quote(validate), part1);
  all_pass(wt::lint_command(1), part1);
  all_pass(wt::lint_command(2), part2);
}

// Items 7..: a root, nested and closed items, destinations of every form,
// allowed and forbidden actions.
std::string outline_fixture() {
  return two_pages(
      "/Outlines 7 0 R /Dests 30 0 R /Names << /Dests 31 0 R >>",
      {
          /* 7 */ "<< /Type /Outlines /First 8 0 R /Last 14 0 R /Count 99 >>",
          /* 8 */ "<< /Title (Chapter \\(one\\)) /Parent 7 0 R /Next 11 0 R /First 9 0 R /Last 10 0 R /Count 2 "
                  "/Dest [3 0 R /XYZ 10 90 0] >>",
          /* 9 */ "<< /Title (By name) /Parent 8 0 R /Next 10 0 R /Dest (sec.b) >>",
          /* 10 */ "<< /Title <FEFF00C400D8> /Parent 8 0 R /Prev 9 0 R /A << /S /GoTo /D /Old >> >>",
          /* 11 */ "<< /Title (Closed) /Parent 7 0 R /Prev 8 0 R /Next 13 0 R /First 12 0 R /Last 12 0 R "
                   "/Count -1 /C [1 0 0] /F 2 >>",
          /* 12 */ "<< /Title (Web) /Parent 11 0 R /A << /S /URI /URI (http://example.org/a b) >> >>",
          /* 13 */ "<< /Title (Script) /Parent 7 0 R /Prev 11 0 R /Next 14 0 R "
                   "/A << /S /JavaScript /JS (app.alert\\(1\\)) >> >>",
          /* 14 */ "<< /Title (Next page) /Parent 7 0 R /Prev 13 0 R /Next 15 0 R /A << /S /Named /N /NextPage >> >>",
          /* 15 */ "<< /Title (Print) /Parent 7 0 R /Prev 14 0 R /Next 16 0 R /A << /S /Named /N /Print >> >>",
          /* 16 */ "<< /Title (Nowhere) /Parent 7 0 R /Prev 15 0 R /Next 17 0 R /Dest [2 0 R /Fit] >>",
          /* 17 */ "<< /Title (Launch) /Parent 7 0 R /Prev 16 0 R /A << /S /Launch /F (x.exe) >> >>",
          /* 18..29 */ "null", "null", "null", "null", "null", "null", "null", "null", "null", "null", "null", "null",
          /* 30 */ "<< /Old [5 0 R /FitH 80] >>",
          /* 31 */ "<< /Kids [32 0 R 33 0 R] >>",
          /* 32 */ "<< /Limits [(a) (m)] /Names [(a) [3 0 R /Fit]] >>",
          /* 33 */ "<< /Limits [(n) (z)] /Kids [34 0 R] >>",
          /* 34 */ "<< /Limits [(s) (s.z)] /Names [(sec.b) << /D [5 0 R /XYZ null 50 null] >>] >>",
      });
}

TEST(Navigation, OutlineTreeIsRebuiltWithDestinationsOnTheNewPages) {
  const std::string pdf = outline_fixture();
  std::vector<std::string> outs[3];
  for (int part : {1, 2}) {
    wt::Converted c = wt::convert_text(pdf, part);
    ASSERT_EQ(c.rc, 1) << c.err;
    outs[part].push_back(c.out_path);
    wt::Output o = wt::read_output(c.bytes);
    std::string root_count;
    std::vector<OutItem> items = outline_of(o, &root_count);
    struct Want {
      int depth;
      const char *title, *count, *dest, *action;
    };
    // Visible items: Chapter, its two children, Closed, Script, Next page,
    // Print, Nowhere, Launch (Web is inside the closed item).
    const Want want[] = {
        {0, "(Chapter \\(one\\))", "2", "[3 0 R /XYZ 10 90 0]", ""},
        {1, "(By name)", "", "[6 0 R /XYZ null 50 null]", ""},
        {1, "<FEFF00C400D8>", "", "[6 0 R /FitH 80]", ""},
        {0, "(Closed)", "-1", "", ""},
        {1, "(Web)", "", "", "<< /S /URI /URI (http://example.org/a b) >>"},
        {0, "(Script)", "", "", ""},
        {0, "(Next page)", "", "", "<< /S /Named /N /NextPage >>"},
        {0, "(Print)", "", "", ""},
        {0, "(Nowhere)", "", "", ""},
        {0, "(Launch)", "", "", ""},
    };
    ASSERT_EQ(items.size(), std::size(want));
    for (std::size_t i = 0; i < items.size(); i++) {
      SCOPED_TRACE(want[i].title);
      EXPECT_EQ(items[i].depth, want[i].depth);
      EXPECT_EQ(items[i].title, want[i].title);
      EXPECT_EQ(items[i].count, want[i].count);
      EXPECT_EQ(items[i].dest, want[i].dest);
      EXPECT_EQ(items[i].action, want[i].action);
    }
    EXPECT_EQ(root_count, "9");
    for (const char *gone : {"/JavaScript", "/Launch", "/Print", "x.exe"})
      EXPECT_EQ(c.bytes.find(gone), std::string::npos) << gone;
    EXPECT_NE(c.bytes.find("/C [1 0 0] /F 2"), std::string::npos);
    // The same input gives the same bytes.
    EXPECT_EQ(wt::convert_text(pdf, part).bytes, c.bytes);
  }
  expect_valid(outs[1], outs[2]);
}

TEST(Navigation, DamagedOutlineChainsAreCutNotFollowed) {
  struct Case {
    const char *what;
    std::vector<std::string> items;  // objects 8, 9, ...
    std::vector<std::string> titles;
  };
  const Case cases[] = {
      {"/Next loops back",
       {"<< /Title (a) /Parent 7 0 R /Next 9 0 R >>", "<< /Title (b) /Parent 7 0 R /Next 8 0 R >>"},
       {"(a)", "(b)"}},
      {"item is its own child",
       {"<< /Title (a) /Parent 7 0 R /First 8 0 R /Count 1 /Next 9 0 R >>", "<< /Title (b) /Parent 7 0 R >>"},
       {"(a)", "(b)"}},
      {"/Next names a missing object", {"<< /Title (a) /Parent 7 0 R /Next 99 0 R >>"}, {"(a)"}},
      {"/Next names no dictionary", {"<< /Title (a) /Parent 7 0 R /Next 9 0 R >>", "[1 2 3]"}, {"(a)"}},
      {"untitled item", {"<< /Parent 7 0 R >>"}, {"()"}},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    std::vector<std::string> more = {"<< /Type /Outlines /First 8 0 R /Last 8 0 R >>"};
    more.insert(more.end(), k.items.begin(), k.items.end());
    wt::Converted c = wt::convert_text(two_pages("/Outlines 7 0 R", more), 2);
    ASSERT_EQ(c.rc, 1) << c.err;
    std::vector<OutItem> items = outline_of(wt::read_output(c.bytes));
    std::vector<std::string> titles;
    for (const OutItem &it : items) titles.push_back(it.title);
    EXPECT_EQ(titles, k.titles);
  }
}

// A tree nested deeper than any reader needs is cut at 64 levels, and a
// flat list of many items keeps them all, each linked to its neighbours.
TEST(Navigation, HugeOutlinesAreBoundedButKept) {
  struct Case {
    bool nested;
    int items;
    std::size_t kept;
  };
  for (const Case &k : {Case{true, 100, 64}, Case{false, 20000, 20000}}) {
    SCOPED_TRACE(k.nested ? "nested" : "flat");
    std::vector<std::string> more = {"<< /Type /Outlines /First 8 0 R /Last 8 0 R >>"};
    for (int i = 0; i < k.items; i++) {
      const std::string other = std::to_string(9 + i);
      std::string link = i + 1 == k.items ? ""
                         : k.nested       ? " /First " + other + " 0 R /Count 1"
                                          : " /Next " + other + " 0 R";
      more.push_back("<< /Title (t" + std::to_string(i) + ") /Parent 7 0 R /Dest [3 0 R /Fit]" + link + " >>");
    }
    wt::Converted c = wt::convert_text(two_pages("/Outlines 7 0 R", more), 2);
    ASSERT_EQ(c.rc, 1) << c.err;
    std::vector<OutItem> items = outline_of(wt::read_output(c.bytes));
    ASSERT_EQ(items.size(), k.kept);
    EXPECT_EQ(items.back().depth, k.nested ? 63 : 0);
    EXPECT_EQ(items.back().title, "(t" + std::to_string(k.kept - 1) + ")");
  }
}

// PDF/A-2 allows no string over 32767 bytes (PDF/A-1 65535): a longer
// title is cut after its last whole character, and the validators accept
// the output.
TEST(Navigation, LongTitlesAreCutAtACharacterBoundary) {
  // UTF-16: 16381 units, then a surrogate pair across the 32767-byte limit.
  std::string utf16 = "FEFF";
  for (int i = 0; i < 16381; i++) utf16 += "0041";
  utf16 += "D83DDE00";
  for (int i = 0; i < 100; i++) utf16 += "0042";
  const std::string doc_enc(70000, 'x');
  const std::string pdf = two_pages(
      "/Outlines 7 0 R", {"<< /Type /Outlines /First 8 0 R /Last 9 0 R >>",
                          "<< /Title <" + utf16 + "> /Parent 7 0 R /Next 9 0 R /Dest [3 0 R /Fit] >>",
                          "<< /Title (" + doc_enc + ") /Parent 7 0 R /Prev 8 0 R /Dest [5 0 R /Fit] >>"});
  std::vector<std::string> outs[3];
  for (int part : {1, 2}) {
    wt::Converted c = wt::convert_text(pdf, part);
    ASSERT_EQ(c.rc, 1) << c.err;
    outs[part].push_back(c.out_path);
    std::vector<OutItem> items = outline_of(wt::read_output(c.bytes));
    ASSERT_EQ(items.size(), 2u);
    // The pair does not fit whole: the title keeps the BOM and the A's.
    std::string want16 = "<FEFF";
    for (int i = 0; i < 16381; i++) want16 += "0041";
    EXPECT_EQ(items[0].title, want16 + ">");
    EXPECT_EQ(items[1].title, "(" + std::string(32767, 'x') + ")");
  }
  expect_valid(outs[1], outs[2]);
}

TEST(Navigation, PageLabelsKeepTheirRangesWithinTheOutputPages) {
  // Two leaves; the label of page 0 is a reference, one beyond the last
  // page is dropped, and so is an invalid start.
  std::vector<std::string> outs[3];
  wt::Converted c = wt::convert_text(
      two_pages("/PageLabels 7 0 R", {"<< /Kids [8 0 R 9 0 R] >>",
                                      "<< /Limits [1 7] /Nums [1 << /S /r /St 3 /Type /PageLabel >> 7 << /S /A >>] >>",
                                      "<< /Limits [0 0] /Nums [0 10 0 R] >>",
                                      "<< /P (A-) /S /D /St 0 >>"}),
      1);
  ASSERT_EQ(c.rc, 1) << c.err;
  outs[1].push_back(c.out_path);
  std::string cat = wt::read_output(c.bytes).obj(1);
  EXPECT_NE(cat.find("/PageLabels << /Nums [0 << /S /D /P (A-) >> 1 << /S /r /St 3 >>] >>"), std::string::npos)
      << cat;
  // A tree without page 0 gets decimal labels from there.
  c = wt::convert_text(two_pages("/PageLabels << /Nums [1 << /S /R >>] >>", {}), 2);
  ASSERT_EQ(c.rc, 1) << c.err;
  outs[2].push_back(c.out_path);
  cat = wt::read_output(c.bytes).obj(1);
  EXPECT_NE(cat.find("/PageLabels << /Nums [0 << /S /D >> 1 << /S /R >>] >>"), std::string::npos) << cat;
  expect_valid(outs[1], outs[2]);
}

// The output page's link rectangle is where the page wrapping puts the
// source rectangle: box offset removed, then the rotation applied.
TEST(Navigation, LinksMoveWithThePageContent) {
  struct Case {
    int rotate;
    const char *rect;  // of the source rectangle [50 60 70 100]
    const char *dest;  // of [page /XYZ 50 300 2]
  };
  // Crop box 10 20 210 320 in a media box 0 0 300 400.
  const Case cases[] = {
      {0, "[40 40 60 80]", "/XYZ 40 280 2"},
      {90, "[40 140 80 160]", "/XYZ 280 160 2"},
      {180, "[140 220 160 260]", "/XYZ 160 20 2"},
      {270, "[220 40 260 60]", "/XYZ 20 40 2"},
  };
  std::vector<std::string> outs[3];
  for (const Case &k : cases) {
    SCOPED_TRACE(k.rotate);
    std::vector<std::string> b = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /CropBox [10 20 210 320] /Rotate " +
            std::to_string(k.rotate) + " /Resources << >> /Contents 4 0 R /Annots [5 0 R 6 0 R 7 0 R] >>",
        wt::stream("", "0 0 m 10 10 l S"),
        "<< /Type /Annot /Subtype /Link /Rect [70 100 50 60] /F 28 /Border [0 0 1] /H /O "
        "/QuadPoints [50 60 70 60 70 100 50 100] /Dest [3 0 R /XYZ 50 300 2] >>",
        "<< /Type /Annot /Subtype /Link /Rect [0 0 5 5] /A << /S /URI /URI (https://example.org) >> "
        "/BS << /W 2 /S /U /Type /Border >> /C [0 0 1] >>",
        // A link that does something PDF/A forbids keeps today's treatment:
        // its appearance is painted.
        "<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /A << /S /JavaScript /JS (x) >> /AP << /N 8 0 R >> >>",
        wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 9 9]", "0 0 9 9 re f"),
    };
    for (int part : {1, 2}) {
      wt::Converted c = wt::convert_text(zyk_test::make_pdf(b), part);
      ASSERT_EQ(c.rc, 1) << c.err;
      outs[part].push_back(c.out_path);
      wt::Output o = wt::read_output(c.bytes);
      std::string page = o.obj(3);
      std::smatch m;
      ASSERT_TRUE(std::regex_search(page, m, std::regex("/Annots \\[(\\d+) 0 R (\\d+) 0 R\\]"))) << page;
      std::string link = o.obj(std::stoi(m[1])), uri = o.obj(std::stoi(m[2]));
      EXPECT_EQ(value_of(link, "Rect"), k.rect) << link;
      EXPECT_EQ(value_of(link, "Dest"), std::string("[3 0 R ") + k.dest + "]") << link;
      EXPECT_EQ(value_of(link, "F"), "4") << link;
      EXPECT_EQ(value_of(link, "Border"), "[0 0 1]");
      EXPECT_EQ(value_of(link, "H"), "/O");
      // The quadrilateral's corners, moved point by point, span the rect.
      std::string quads = value_of(link, "QuadPoints");
      std::istringstream qs(quads.substr(1, quads.size() - 2));
      double v, lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};
      for (int i = 0; qs >> v; i++) lo[i % 2] = std::min(lo[i % 2], v), hi[i % 2] = std::max(hi[i % 2], v);
      std::ostringstream span;
      span << "[" << lo[0] << " " << lo[1] << " " << hi[0] << " " << hi[1] << "]";
      EXPECT_EQ(span.str(), k.rect) << quads;
      EXPECT_NE(uri.find("/A << /S /URI /URI (https://example.org) >>"), std::string::npos) << uri;
      EXPECT_NE(uri.find("/BS << /W 2 /S /U >> /C [0 0 1]"), std::string::npos) << uri;
      EXPECT_EQ(c.bytes.find("/JavaScript"), std::string::npos);
      // The JavaScript link's appearance is painted, the kept links are not.
      std::string form = o.data(4);
      EXPECT_NE(form.find("/ZykAnnot0 Do"), std::string::npos) << form;
      EXPECT_EQ(form.find("/ZykAnnot1"), std::string::npos) << form;
    }
  }
  expect_valid(outs[1], outs[2]);
}

TEST(Navigation, LinksByNameReachTheirPageOrStayOut) {
  const std::string pdf = two_pages(
      "/Names << /Dests 9 0 R >>", {"<< /Subtype /Link /Rect [1 1 20 20] /Dest (there) >>",
                                    "<< /Subtype /Link /Rect [1 30 20 50] /A << /S /GoTo /D (nowhere) >> >>",
                                    "<< /Names [(there) [3 0 R /FitR 0 0 100 50]] >>",
                                    "<< /Subtype /Link /Rect [1 60 20 80] /F 2 /Dest (there) >>"},
      "/Annots [7 0 R 8 0 R 10 0 R]");
  wt::Converted c = wt::convert_text(pdf, 2);
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output o = wt::read_output(c.bytes);
  EXPECT_EQ(o.obj(3).find("/Annots"), std::string::npos);
  std::smatch m;
  std::string page = o.obj(6);
  // Only the link whose name resolves is kept; a hidden link stays hidden.
  ASSERT_TRUE(std::regex_search(page, m, std::regex("/Annots \\[(\\d+) 0 R\\]"))) << page;
  EXPECT_EQ(value_of(o.obj(std::stoi(m[1])), "Dest"), "[3 0 R /FitR 0 0 100 50]");
  EXPECT_EQ(value_of(o.obj(std::stoi(m[1])), "Rect"), "[1 1 20 20]");
}

}  // namespace

// How the document opens is kept: the opening destination or allowed
// action on the new page, the page mode (the outline panel only with an
// outline to show), the layout and the window preferences; whatever else
// those entries hold is left out.
TEST(Navigation, TheDocumentOpensAsTheSourceDid) {
  struct Case {
    const char *what;
    std::string catalog;
    std::vector<std::string> want, absent;
  } cases[] = {
      {"destination, modes and preferences",
       "/OpenAction [5 0 R /Fit] /PageMode /FullScreen /PageLayout /TwoColumnLeft "
       "/ViewerPreferences << /HideToolbar true /FitWindow false /Direction /R2L /NonFullScreenPageMode /UseThumbs "
       "/PrintScaling /None /Duplex /Simplex >>",
       {"/OpenAction [", "/PageMode /FullScreen", "/PageLayout /TwoColumnLeft",
        "/ViewerPreferences << /HideToolbar true /FitWindow false /NonFullScreenPageMode /UseThumbs /Direction /R2L >>"},
       {"PrintScaling", "Duplex"}},
      {"GoTo action by name", "/OpenAction << /S /GoTo /D (there) >> /Names << /Dests << /Names [(there) [5 0 R /XYZ 0 50 0]] >> >>",
       {"/OpenAction ["}, {"/S /GoTo"}},
      {"allowed named action", "/OpenAction << /S /Named /N /LastPage >>", {"/OpenAction << /S /Named /N /LastPage >>"}, {}},
      {"script and outline panel without an outline",
       "/OpenAction << /S /JavaScript /JS (print\\(\\)) >> /PageMode /UseOutlines /PageLayout /Bogus",
       {}, {"/OpenAction", "/PageMode", "/PageLayout"}},
      {"attachments panel", "/PageMode /UseAttachments", {}, {"/PageMode"}},
  };
  std::vector<std::string> p1, p2;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string pdf = two_pages(c.catalog, {});
    for (int part : {1, 2}) {
      wt::Converted out = wt::convert_text(pdf, part);
      ASSERT_EQ(out.rc, 1) << out.err;
      (part == 1 ? p1 : p2).push_back(out.out_path);
      wt::Output o = wt::read_output(out.bytes);
      const std::string catalog = o.obj(1);
      for (const std::string &w : c.want) EXPECT_NE(catalog.find(w), std::string::npos) << w << "\n" << catalog;
      for (const std::string &a : c.absent) EXPECT_EQ(catalog.find(a), std::string::npos) << a << "\n" << catalog;
      // A destination names the output's second page.
      const std::string open = value_of(catalog, "OpenAction");
      if (!open.empty() && open[0] == '[') {
        std::smatch m;
        const std::string pages = o.obj(2);
        ASSERT_TRUE(std::regex_search(pages, m, std::regex("/Kids \\[(\\d+) 0 R (\\d+) 0 R\\]"))) << pages;
        EXPECT_EQ(open.rfind("[" + std::string(m[2]) + " 0 R", 0), 0u) << open;
      }
    }
  }
  expect_valid(p1, p2);
}
