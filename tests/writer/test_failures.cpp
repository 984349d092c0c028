// The failure table: every refusal returns 0 with its message, leaves no
// output file and no temporary file behind, and never touches a file that
// already stands at the output path.
#include <filesystem>
#include <fstream>
#include <set>

#include "pdf/pdf.h"
#include "writer/writer.h"
#include "writer_fixture.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> listing(const std::string &dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto &e : fs::directory_iterator(dir, ec)) names.insert(e.path().filename().string());
  return names;
}

std::string fresh_dir() {
  std::string d = wt::fresh_path("dir");
  fs::create_directory(d);
  return d;
}

std::string two_pages(const std::string &second_content_body) {
  return zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
                             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 5 0 R >>",
                             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 6 0 R >>",
                             wt::stream("", "0 0 10 10 re f"), second_content_body});
}

std::string with_object(std::vector<std::string> bodies, const std::string &extra) {
  bodies.push_back(extra);
  return zyk_test::make_pdf(bodies);
}

struct FailCase {
  const char *what;
  std::string input;    // PDF text; empty: the input file does not exist
  std::string message;  // expected text; "{in}" and "{out}" stand for the paths
  bool missing_dir;     // the output's directory does not exist
};

std::string fill(std::string msg, const std::string &in, const std::string &out) {
  for (auto [key, val] : {std::pair<std::string, std::string>{"{in}", in}, {"{out}", out}})
    for (std::size_t p; (p = msg.find(key)) != std::string::npos;) msg.replace(p, key.size(), val);
  return msg;
}

const std::vector<FailCase> &fail_cases() {
  static const std::vector<FailCase> cases = {
      {"missing input", "", "cannot open {in}", false},
      {"encrypted input",
       zyk_test::make_pdf(wt::one_page("", "0 0 1 1 re f")) +
           "trailer\n<< /Root 1 0 R /Encrypt << /Filter /Standard >> >>\n",
       "encrypted PDFs are not supported: {in}", false},
      {"content is a string",
       zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                           "<< /Type /Page /Parent 2 0 R /Contents (0 0 m) >>"}),
       "page 1: cannot read content stream", false},
      {"second page in an image codec", two_pages(wt::stream("/Filter /DCTDecode", "\xff\xd8\xff")),
       "page 2: cannot read content stream 6 (DCTDecode: not decodable here)", false},
      {"second page not inflatable", two_pages(wt::stream("/Filter /FlateDecode", "not zlib data")),
       "page 2: cannot read content stream 6 (FlateDecode: corrupt data)", false},
      {"page content ends inside a string", zyk_test::make_pdf(wt::one_page("", "BT (abc Tj ET")),
       "page 1: cannot parse content (it ends inside a token at byte 3)", false},
      // A form, a pattern or an appearance whose content cannot be read is
      // refused like page content: copied as stored, its text would stay in
      // a font that is no longer there.
      {"form XObject not inflatable",
       with_object(wt::one_page("", "/Fm1 Do", "<< /XObject << /Fm1 5 0 R >> >>"),
                   wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 9 9] /Filter /FlateDecode", "not zlib")),
       "page 1: form XObject 5: cannot read content stream (FlateDecode: corrupt data)", false},
      {"tiling pattern in an image codec",
       with_object(wt::one_page("", "/Pattern cs /P1 scn 0 0 9 9 re f", "<< /Pattern << /P1 5 0 R >> >>"),
                   wt::stream("/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 9 9] /XStep 9 /YStep 9 "
                              "/Filter /CCITTFaxDecode",
                              "xx")),
       "page 1: tiling pattern 5: cannot read content stream (CCITTFaxDecode: not decodable here)", false},
      {"form content ends inside an array",
       with_object(wt::one_page("", "/Fm1 Do", "<< /XObject << /Fm1 5 0 R >> >>"),
                   wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 9 9]", "BT [(a) 5 TJ ET")),
       "page 1: form XObject 5: cannot parse content (it ends inside a token at byte 3)", false},
      // Resources and the objects they reach are read by tokens, and a
      // reference is "N G R" only: what cannot be read that way (a bare
      // number or "N R" where a resource is named, a dictionary that is no
      // name/value pairs) refuses instead of losing the resource.
      {"resources named by a bare number",
       zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                           "<< /Type /Page /Parent 2 0 R /Resources 4 /Contents 5 0 R >>", "<< >>",
                           wt::stream("", "0 0 1 1 re f")}),
       "page 1: cannot read the resources (object 3)", false},
      {"image named by N R", zyk_test::make_pdf(wt::one_page("", "/Im1 Do", "<< /XObject << /Im1 5 R >> >>")),
       "page 1: cannot read the resources (object 3)", false},
      {"resources object holding N R",
       with_object(wt::one_page("", "/Fm1 Do", "5 0 R"), "<< /XObject << /Fm1 6 R >> >>"),
       "page 1: cannot read the resources (object 5)", false},
      {"content array with a bare number",
       zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                           "<< /Type /Page /Parent 2 0 R /Contents [4 0 R 5] >>", wt::stream("", "0 0 1 1 re f"),
                           wt::stream("", "0 0 2 2 re f")}),
       "page 1: cannot read content stream", false},
      {"content named by N R",
       zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                           "<< /Type /Page /Parent 2 0 R /Resources << >> /Contents [4 R] >>",
                           wt::stream("", "0 0 1 1 re f")}),
       "page 1: cannot read content stream", false},
      {"reached object that is no name/value pairs",
       with_object(wt::one_page("", "0 0 1 1 re f", "<< /ExtGState << /G1 5 0 R >> >>"),
                   "<< /Type /ExtGState /Name /F12 0 R >>"),
       "page 1: object 5 cannot be read", false},
      {"form XObject whose dictionary holds N R",
       with_object(wt::one_page("", "/Fm1 Do", "<< /XObject << /Fm1 5 0 R >> >>"),
                   wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 9 9] /Resources 6 R", "0 0 1 1 re f")),
       "page 1: object 5 cannot be read", false},
      // A box without area, and no other box to fall back on.
      {"empty page box",
       zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                           "<< /Type /Page /Parent 2 0 R /MediaBox [10 10 10 50] /Contents 4 0 R >>",
                           wt::stream("", "0 0 1 1 re f")}),
       "page 1: empty page box", false},
      {"output directory missing", zyk_test::make_pdf(wt::one_page("", "0 0 1 1 re f")), "cannot write {out}", true},
  };
  return cases;
}

}  // namespace

TEST(ConvertFailures, NullPathsReturnZeroAndTouchNothing) {
  std::string in = zyk_test::write_temp(wt::fresh_name("ok.pdf"), zyk_test::make_pdf(wt::one_page("", "0 0 1 1 re f")));
  std::string dir = fresh_dir();
  std::string out = dir + "/out.pdf";
  for (auto fn : {pdfa_convert_1b, pdfa_convert_2b}) {
    pdfa_cleanup();
    EXPECT_EQ(fn(nullptr, out.c_str()), 0);
    EXPECT_STREQ(pdfa_last_error(), "NULL path argument");
    pdfa_cleanup();
    EXPECT_EQ(fn(in.c_str(), nullptr), 0);
    EXPECT_STREQ(pdfa_last_error(), "NULL path argument");
    EXPECT_TRUE(listing(dir).empty());
  }
}

TEST(ConvertFailures, EveryMessageLeavesNoFileAndKeepsAnExistingOne) {
  for (const FailCase &c : fail_cases()) {
    for (int part : {1, 2}) {
      for (bool existing : {false, true}) {
        SCOPED_TRACE(std::string(c.what) + " part " + std::to_string(part) + (existing ? " over a file" : ""));
        if (c.missing_dir && existing) continue;
        std::string in =
            c.input.empty() ? wt::fresh_path("absent.pdf") : zyk_test::write_temp(wt::fresh_name("in.pdf"), c.input);
        std::string dir = c.missing_dir ? wt::fresh_path("no-such-dir") : fresh_dir();
        std::string out = dir + "/out.pdf";
        const std::string sentinel = "an older file that must survive\n";
        if (existing) std::ofstream(out, std::ios::binary) << sentinel;
        pdfa_cleanup();
        int rc = part == 1 ? pdfa_convert_1b(in.c_str(), out.c_str()) : pdfa_convert_2b(in.c_str(), out.c_str());
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(std::string(pdfa_last_error()), fill(c.message, in, out));
        if (c.missing_dir) {
          EXPECT_FALSE(fs::exists(dir));
        } else if (existing) {
          EXPECT_EQ(zyk_test::read_all(out), sentinel);
          EXPECT_EQ(listing(dir), std::set<std::string>{"out.pdf"});
        } else {
          EXPECT_TRUE(listing(dir).empty()) << "a file was left behind";
        }
      }
    }
  }
}

TEST(ConvertFailures, OutputPathNamingADirectoryIsRefusedAndKept) {
  std::string in = zyk_test::write_temp(wt::fresh_name("ok.pdf"), zyk_test::make_pdf(wt::one_page("", "0 0 1 1 re f")));
  std::string dir = fresh_dir();
  std::string target = dir + "/taken";
  fs::create_directory(target);
  std::ofstream(target + "/keep.txt") << "x";
  EXPECT_EQ(pdfa_convert_1b(in.c_str(), target.c_str()), 0);
  EXPECT_EQ(std::string(pdfa_last_error()), "cannot write " + target);
  EXPECT_EQ(listing(dir), std::set<std::string>{"taken"});
  EXPECT_EQ(listing(target), std::set<std::string>{"keep.txt"});
}

TEST(ConvertFailures, SuccessAfterFailureClearsTheErrorAndReplacesTheFile) {
  std::string in = zyk_test::write_temp(wt::fresh_name("ok.pdf"), zyk_test::make_pdf(wt::one_page("", "0 0 1 1 re f")));
  std::string dir = fresh_dir();
  std::string out = dir + "/out.pdf";
  std::ofstream(out) << "old";
  EXPECT_EQ(pdfa_convert_1b(wt::fresh_path("absent.pdf").c_str(), out.c_str()), 0);
  EXPECT_NE(std::string(pdfa_last_error()), "");
  EXPECT_EQ(pdfa_convert_1b(in.c_str(), out.c_str()), 1);
  EXPECT_STREQ(pdfa_last_error(), "");
  EXPECT_EQ(zyk_test::read_all(out).substr(0, 8), "%PDF-1.4");
  EXPECT_EQ(listing(dir), std::set<std::string>{"out.pdf"});
}

// The driver's own guards, on documents built in memory (the loader refuses
// such documents before the driver would see them).
TEST(ConvertCore, GuardsOnPathAndPageCount) {
  struct Case {
    int pages;
    const char *out;
    const char *message;
  };
  const Case cases[] = {
      {1, nullptr, "NULL output path"},
      {0, "x.pdf", "document has no pages"},
      {zyk::k_max_pages + 1, "x.pdf", "too many pages (100001)"},
      // The largest count passes the guard and fails at the first page,
      // whose object this document lacks.
      {zyk::k_max_pages, "x.pdf", "page object 7 missing"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    zyk::DocGuard g;
    for (int i = 0; i < c.pages; i++) zyk::pagevec_push(&g.d.pages, zyk::PageInfo{7, -1, 0, {0, 0, 10, 10}});
    ASSERT_EQ(g.d.pages.nelems, c.pages);
    std::string out = c.out ? wt::fresh_path(c.out) : "";
    zyk::Context ctx;
    EXPECT_FALSE(zyk::pdfa_convert_core(ctx, &g.d, c.out ? out.c_str() : nullptr, 1));
    EXPECT_EQ(ctx.err.text, c.message);
    if (c.out) {
      EXPECT_FALSE(fs::exists(out));
    }
  }
}
