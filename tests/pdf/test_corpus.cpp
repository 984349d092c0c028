// The reader against real-world files: page counts agree with poppler's
// pdfinfo, encrypted files are refused with the right message, and no file
// or truncated copy of one crashes the loader (the sanitizer build runs the
// same test).
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "load_fixture.h"

using namespace zyk;

namespace {

struct PdfInfo {
  bool read = false;
  bool encrypted = false;
  int pages = -1;
};

std::string shell_quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

PdfInfo pdfinfo(const std::string &path) {
  PdfInfo info;
  std::string out;
  if (zyk_test::run_command("pdfinfo " + shell_quote(path) + " 2>/dev/null", &out) != 0) return info;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Pages:", 0) == 0) info.pages = std::atoi(line.c_str() + 6);
    if (line.rfind("Encrypted:", 0) == 0) info.encrypted = line.find("yes") != std::string::npos;
  }
  info.read = info.pages >= 0;
  return info;
}

bool have_pdfinfo() { return zyk_test::run_command("command -v pdfinfo >/dev/null 2>&1", nullptr) == 0; }

}  // namespace

TEST(Corpus, PageCountsAgreeWithPdfinfo) {
  auto files = zyk_test::corpus_files();
  if (files.empty()) GTEST_SKIP() << "shared corpus not present";
  if (!have_pdfinfo()) GTEST_SKIP() << "pdfinfo (poppler-utils) not installed";
  int compared = 0, agreed = 0;
  for (const std::string &rel : files) {
    std::string path = zyk_test::corpus_dir() + "/" + rel;
    PdfInfo info = pdfinfo(path);
    DocGuard g;
    ErrorText load_err;
    int rc = doc_load(path.c_str(), &g.d, &load_err) ? 0 : -1;
    std::string err = load_err.text;
    if (info.encrypted) {
      EXPECT_EQ(rc, -1) << rel;
      EXPECT_EQ(err, "encrypted PDFs are not supported: " + path) << rel;
      continue;
    }
    if (!info.read) continue;
    compared++;
    int ours = rc == 0 ? g.d.pages.nelems : -1;
    if (ours == info.pages) {
      agreed++;
      continue;
    }
    ADD_FAILURE() << rel << ": pdfinfo " << info.pages << " pages, loader " << ours << " (" << err << ")";
  }
  std::printf("page counts: %d of %d files agree with pdfinfo (%.1f%%)\n", agreed, compared,
              compared ? 100.0 * agreed / compared : 0.0);
}

TEST(Corpus, TruncatedCopiesDoNotCrash) {
  auto files = zyk_test::corpus_files();
  if (files.empty()) GTEST_SKIP() << "shared corpus not present";
  for (const std::string &rel : files) {
    std::string whole = zyk_test::read_all(zyk_test::corpus_dir() + "/" + rel);
    std::size_t n = whole.size();
    for (std::size_t cut : {n, n / 3, n / 2, n > 7 ? n - 7 : n, n > 100 ? std::size_t(100) : n}) {
      Loaded l;
      load_text(l, whole.substr(0, cut), "cut.pdf");
      if (l.rc == 0) {
        // A successful load keeps its promises.
        EXPECT_GT(l.d().pages.nelems, 0) << rel;
        for (int i = 0; i < l.d().objs.nelems; i++) {
          const ObjEntry &e = l.d().objs.elems[i];
          if (e.in_objstm) continue;
          EXPECT_GE(e.endobj_off, 0) << rel;
          if (e.is_stream) {
            EXPECT_LE(e.data_off, e.data_end) << rel;
            EXPECT_LE(e.data_end, l.d().pdf_len) << rel;
          }
        }
      } else {
        EXPECT_FALSE(l.err.empty()) << rel << " cut at " << cut;
      }
    }
  }
}
