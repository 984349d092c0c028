// Document loading: trailers, version, the object scan, stream measuring,
// nested and duplicate objects, catalog choice and every failure message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load_fixture.h"

using namespace zyk;
using zyk_test::make_pdf;

namespace {

const std::string kCatalog = "<< /Type /Catalog /Pages 2 0 R >>";
const std::string kPages = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
const std::string kPage = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>";

std::string stream_obj(const std::string &dict_extra, const std::string &data) {
  return "<< " + dict_extra + " >>\nstream\n" + data + "\nendstream";
}

std::string minimal() { return make_pdf({kCatalog, kPages, kPage}); }

}  // namespace

TEST(Load, MinimalFileLoadsWithOnePage) {
  Loaded l;
  load_text(l, minimal());
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_STREQ(l.d().pdf_version, "1.4");
  EXPECT_EQ(l.d().objs.nelems, 3);
  EXPECT_EQ(l.d().catalog_num, 1);
  EXPECT_EQ(l.d().max_num, 3);
  ASSERT_EQ(l.d().pages.nelems, 1);
  EXPECT_EQ(l.d().pages.elems[0].num, 3);
  EXPECT_EQ(l.d().pages.elems[0].parent, 2);
}

TEST(Load, VersionHeader) {
  struct Case {
    std::string prefix, header, want;
  } cases[] = {
      {std::string(500, 'x') + "\n", "%PDF-1.4", "1.4"},   // late header still seen
      {std::string(1100, ' '), "%PDF-1.4", ""},            // too late: no version, still loads
      {"", "%PDF-1.10", "1.10"},
      {"", "%PDF-10.1", "10"},
      {"", "%PDF-.5", ".5"},
      {"", "%PDF-x", ""},
      {"x", "%PDF-1.7", ""},                               // glued to a word
  };
  for (const Case &c : cases) {
    std::string body = make_pdf({kCatalog, kPages, kPage});
    body = c.prefix + c.header + body.substr(body.find('\n'));
    Loaded l;
    load_text(l, body);
    ASSERT_EQ(l.rc, 0) << c.header << ": " << l.err;
    EXPECT_STREQ(l.d().pdf_version, c.want.c_str()) << c.prefix.size() << c.header;
  }
}

TEST(Load, FindsCatalogWithoutAnyCrossReferenceData) {
  // Objects: 1 is the page, 2 the node, 3 the catalog; there is no trailer.
  std::string text = "%PDF-1.4\n1 0 obj\n<< /Type /Page /Parent 2 0 R >>\nendobj\n"
                     "2 0 obj\n<< /Type /Pages /Kids [1 0 R] >>\nendobj\n"
                     "3 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  Loaded m;
  load_text(m, text);
  ASSERT_EQ(m.rc, 0) << m.err;
  EXPECT_EQ(m.d().catalog_num, 3);
  EXPECT_EQ(m.d().pages.nelems, 1);
}

TEST(Load, TrailerRootChoices) {
  // /Root naming a missing object falls back to the /Catalog search.
  std::string t = make_pdf({kCatalog, kPages, kPage});
  std::string missing = t;
  missing.replace(missing.find("/Root 1 0 R"), 11, "/Root 9 0 R");
  Loaded a;
  load_text(a, missing);
  ASSERT_EQ(a.rc, 0) << a.err;
  EXPECT_EQ(a.d().catalog_num, 1);
  // /Root naming the page-tree node itself is accepted as the root.
  Loaded b;
  load_text(b, make_pdf({kCatalog, kPages, kPage}, 2));
  ASSERT_EQ(b.rc, 0) << b.err;
  EXPECT_EQ(b.d().catalog_num, 2);
  EXPECT_EQ(b.d().pages.nelems, 1);
  // No trailer root and no /Catalog anywhere: object 1 is taken.
  std::string nocat = "%PDF-1.4\n1 0 obj\n<< /Pages 2 0 R >>\nendobj\n2 0 obj\n" + kPages +
                      "\nendobj\n3 0 obj\n" + kPage + "\nendobj\n";
  Loaded c;
  load_text(c, nocat);
  ASSERT_EQ(c.rc, 0) << c.err;
  EXPECT_EQ(c.d().catalog_num, 1);
}

TEST(Load, CrossReferenceStreamChainGivesRootAndEncryption) {
  // A cross-reference stream at startxref whose /Prev leads to an older one;
  // the newest /Root wins.
  auto build = [](const std::string &old_entries) {
    std::string head = "%PDF-1.5\n1 0 obj\n" + kCatalog + "\nendobj\n2 0 obj\n" + kPages + "\nendobj\n3 0 obj\n" +
                       kPage + "\nendobj\n4 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    std::size_t old_xref = head.size();
    head += "8 0 obj\n<< /Type /XRef " + old_entries + " /Length 0 >>\nstream\n\nendstream\nendobj\n";
    std::size_t new_xref = head.size();
    return head + "9 0 obj\n<< /Type /XRef /Root 4 0 R /Prev " + std::to_string(old_xref) +
           " /Length 0 >>\nstream\n\nendstream\nendobj\nstartxref\n" + std::to_string(new_xref) + "\n%%EOF\n";
  };
  Loaded l;
  load_text(l, build("/Root 1 0 R"));
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_EQ(l.d().catalog_num, 4);
  // /Encrypt in the older one marks the file.
  Loaded e;
  load_text(e, build("/Root 1 0 R /Encrypt 5 0 R"));
  EXPECT_EQ(e.rc, -1);
  EXPECT_EQ(e.err.rfind("encrypted PDFs are not supported: ", 0), 0u) << e.err;
}

TEST(Load, IncrementalUpdateKeepsTheLastCopy) {
  std::string t = make_pdf({kCatalog, kPages, kPage});
  t += "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 200] >>\nendobj\n";
  t += "trailer\n<< /Root 1 0 R >>\nstartxref\n0\n%%EOF\n";
  Loaded l;
  load_text(l, t);
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_EQ(l.d().objs.nelems, 3);
  ASSERT_EQ(l.d().pages.nelems, 1);
  EXPECT_EQ(l.d().pages.elems[0].box[2], 100);
}

TEST(Load, StreamMeasuring) {
  struct Case {
    const char *what;
    std::string obj4;
    std::vector<std::string> extra;  // objects 5...
    std::string want;                // "<none>" = dropped
  } cases[] = {
      {"exact length", stream_obj("/Length 5", "hello"), {}, "hello"},
      {"length too small: end found at endstream", stream_obj("/Length 2", "hello"), {}, "hello"},
      {"CR LF before endstream", "<< /Length 1 >>\nstream\r\nabc\r\nendstream", {}, "abc"},
      {"length too large", stream_obj("/Length 500", "hello"), {}, "hello"},
      {"indirect length", stream_obj("/Length 5 0 R", "0123456789"), {"10"}, "0123456789"},
      // A length the loader cannot read before expanding object streams
      // (or at all) ends the data at "endstream": the stream stays.
      {"indirect length to a missing object", stream_obj("/Length 9 0 R", "abc"), {}, "abc"},
      {"indirect length inside an object stream", stream_obj("/Length 6 0 R", "abcdef"),
       {stream_obj("/Type /ObjStm /N 1 /First 4", "6 0 6")}, "abcdef"},
      {"no length", stream_obj("/Filter /X", "abc"), {}, "abc"},
      {"endobj inside data is not the end", stream_obj("/Length 12", "x endobj y z"), {}, "x endobj y z"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> bodies = {kCatalog, kPages, kPage, c.obj4};
    bodies.insert(bodies.end(), c.extra.begin(), c.extra.end());
    Loaded l;
    load_text(l, make_pdf(bodies));
    ASSERT_EQ(l.rc, 0) << c.what << ": " << l.err;
    EXPECT_EQ(l.stream_data(4), c.want) << c.what;
  }
}

TEST(Load, ObjectsInsideStreamDataAreIgnored) {
  std::string data = "12 0 obj\n<< /Type /Page >>\nendobj\n";
  Loaded l;
  load_text(l, make_pdf({kCatalog, kPages, kPage, stream_obj("/Length " + std::to_string(data.size()), data)}));
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_EQ(l.obj(12), nullptr);
  EXPECT_EQ(l.d().objs.nelems, 4);
}

TEST(Load, ObjectNumbersOutOfRangeNeverEnterTheTable) {
  std::string t = make_pdf({kCatalog, kPages, kPage});
  t += "0 0 obj\n<< /A 1 >>\nendobj\n8388608 0 obj\n<< /A 1 >>\nendobj\n8388607 0 obj\n<< /A 2 >>\nendobj\n";
  Loaded l;
  load_text(l, t);
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_EQ(l.obj(0), nullptr);
  EXPECT_EQ(l.obj(8388608), nullptr);
  EXPECT_NE(l.obj(8388607), nullptr);
  EXPECT_EQ(l.d().max_num, 8388607);
}

TEST(Load, CommentBetweenHeaderAndBody) {
  std::string t = "%PDF-1.4\n1 0 obj % the catalog\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
                  "2 0 obj\n% page tree\n" + kPages + "\nendobj\n3 0 obj\n" + kPage + "\nendobj\n";
  Loaded l;
  load_text(l, t);
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_EQ(l.d().pages.nelems, 1);
}

TEST(Load, FailureMessages) {
  std::string dir = zyk_test::temp_dir();
  struct Case {
    const char *what;
    std::string text;  // written to a file unless `path` is set
    std::string want;  // message prefix
  } cases[] = {
      {"empty file", "", "empty input file: "},
      {"not a PDF", "just some text without objects", "no PDF objects found \xE2\x80\x94 not a PDF: "},
      {"catalog without /Pages", make_pdf({"<< /Type /Catalog >>"}), "catalog (obj 1) has no /Pages reference"},
      {"catalog without a dictionary", make_pdf({"42"}), "catalog (obj 1) has no /Pages reference"},
      {"missing catalog", make_pdf({kPages, kPage}, 7).replace(0, 0, ""),
       "could not resolve the page tree (obj 1 is not a /Pages or /Page object, or tree is broken)"},
      {"inline page dictionary", make_pdf({kCatalog, "<< /Type /Pages /Kids [<< /Type /Page >>] >>"}),
       "page tree uses inline page dictionaries in /Kids \xE2\x80\x94 pages must be indirect objects"},
      {"no kids", make_pdf({kCatalog, "<< /Type /Pages /Kids [] >>"}), "document has no pages"},
      {"kids by reference", make_pdf({kCatalog, "<< /Type /Pages /Kids 3 0 R >>", "[4 0 R]"}),
       "document has no pages"},
      {"kid is no page", make_pdf({kCatalog, "<< /Type /Pages /Kids [3 0 R] >>", "<< /Type /Font >>"}),
       "could not resolve the page tree (obj 2 is not a /Pages or /Page object, or tree is broken)"},
      {"encrypted", make_pdf({kCatalog, kPages, kPage}).replace(0, 0, "") + "trailer\n<< /Encrypt 9 0 R >>\n",
       "encrypted PDFs are not supported: "},
  };
  for (const Case &c : cases) {
    Loaded l;
    load_text(l, c.text, "case.pdf");
    EXPECT_EQ(l.rc, -1) << c.what;
    EXPECT_EQ(l.err.rfind(c.want, 0), 0u) << c.what << ": got \"" << l.err << "\"";
  }
  // Path problems.
  DocGuard g;
  ErrorText err;
  EXPECT_FALSE(doc_load(nullptr, &g.d, &err));
  EXPECT_EQ(err.text, "NULL path argument");
  std::string missing = dir + "/no-such-file.pdf";
  EXPECT_FALSE(doc_load(missing.c_str(), &g.d, &err));
  EXPECT_EQ(err.text, "cannot open " + missing);
}

TEST(Load, EncryptionIsReportedOnlyAfterTheScan) {
  // A file with /Encrypt but no objects at all is "not a PDF", not encrypted.
  Loaded l;
  load_text(l, "%PDF-1.4\nxref\n0 0\ntrailer\n<< /Encrypt 3 0 R >>\nstartxref\n9\n%%EOF\n");
  EXPECT_EQ(l.rc, -1);
  EXPECT_EQ(l.err.rfind("no PDF objects found", 0), 0u) << l.err;
  EXPECT_EQ(l.d().encrypted, 1);
}
