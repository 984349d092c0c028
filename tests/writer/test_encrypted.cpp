// Protected inputs: a file that opens with an empty password converts like
// its clear source (poppler reads the same text from the output), the output
// is never encrypted, and inspection (pdfa_check, pdfa_report) refuses the
// protected file exactly as before. Over the shared corpus, every protected
// file that qpdf opens without a password converts, and its text is the
// text of the conversion of qpdf's deciphered copy.
#include <fstream>
#include <sstream>

#include "writer_fixture.h"

namespace {

std::string pdftotext(const std::string &path) { return zyk_test::pdftotext_words(path); }

std::string quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// qpdf's exit status: 0 success, 3 success with warnings.
bool qpdf(const std::string &args) {
  int rc = zyk_test::run_command("qpdf " + args + " >/dev/null 2>&1", nullptr);
  return rc == 0 || rc == 3;
}

bool is_encrypted(const std::string &path) {
  return zyk_test::run_command("qpdf --is-encrypted " + quote(path) + " >/dev/null 2>&1", nullptr) == 0;
}

std::string text_source() {
  return zyk_test::make_pdf(wt::one_page(
      "", "BT /F1 12 Tf 10 60 Td (Sealed \\(but open\\) text) Tj 0 -20 Td <4865782073747269> Tj ET",
      "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >> >> >>"));
}

// The corpus files whose manifest features say "enc" (or "enc:<cipher>").
std::vector<std::string> encrypted_corpus_files() {
  std::vector<std::string> files;
  std::ifstream manifest(zyk_test::corpus_dir() + "/MANIFEST.tsv");
  for (std::string line; std::getline(manifest, line);) {
    std::vector<std::string> cols;
    std::istringstream row(line);
    for (std::string c; std::getline(row, c, '\t');) cols.push_back(c);
    if (cols.size() < 6) continue;
    std::istringstream feats(cols[5]);
    for (std::string f; std::getline(feats, f, ';');)
      if (f == "enc" || f.rfind("enc:", 0) == 0) {
        files.push_back(cols[0]);
        break;
      }
  }
  return files;
}

}  // namespace

TEST(Encrypted, EmptyPasswordFilesConvertWithTheirText) {
  if (!wt::have_tool("qpdf") || !wt::have_tool("pdftotext")) GTEST_SKIP() << "qpdf or pdftotext not installed";
  std::string src = zyk_test::write_temp(wt::fresh_name("clear.pdf"), text_source());
  std::string expected = pdftotext(src);
  ASSERT_NE(expected.find("Sealed (but open) text Hex stri"), std::string::npos) << expected;
  struct Case {
    const char *name;
    std::string args;
  } cases[] = {
      {"rc4-40", "'' owner 40"},
      {"rc4-128", "'' owner 128 --use-aes=n"},
      {"aes-128", "'' owner 128 --use-aes=y"},
      {"aes-256-r5", "'' owner 256 --force-R5"},
      {"aes-256-r6", "'' owner 256"},
  };
  for (const Case &c : cases) {
    std::string enc = wt::fresh_path(std::string(c.name) + ".pdf");
    ASSERT_TRUE(qpdf("--allow-weak-crypto --object-streams=generate --encrypt " + c.args + " -- " + quote(src) + " " +
                     quote(enc)))
        << c.name;
    ASSERT_TRUE(is_encrypted(enc)) << c.name;
    for (int part : {1, 2}) {
      wt::Converted out = wt::convert_file(enc, part);
      ASSERT_EQ(out.rc, 1) << c.name << " part " << part << ": " << out.err;
      EXPECT_EQ(pdftotext(out.out_path), expected) << c.name << " part " << part;
      EXPECT_FALSE(is_encrypted(out.out_path)) << c.name << " part " << part;
      EXPECT_EQ(out.bytes.find("/Encrypt"), std::string::npos) << c.name << " part " << part;
    }
  }
}

TEST(Encrypted, InspectionStillRefusesProtectedFiles) {
  if (!wt::have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
  std::string src = zyk_test::write_temp(wt::fresh_name("clear.pdf"), text_source());
  for (const char *args : {"'' owner 128 --use-aes=y", "user owner 256"}) {
    std::string enc = wt::fresh_path("inspect.pdf");
    ASSERT_TRUE(qpdf("--encrypt " + std::string(args) + " -- " + quote(src) + " " + quote(enc))) << args;
    const std::string msg = "encrypted PDFs are not supported: " + enc;
    pdfa_cleanup();
    EXPECT_EQ(pdfa_check(enc.c_str()), 0) << args;
    EXPECT_EQ(std::string(pdfa_last_error()), msg) << args;
    std::string report = pdfa_report(enc.c_str());
    EXPECT_NE(report.find("\"loaded\": false"), std::string::npos) << report;
    EXPECT_NE(report.find("\"encrypted\": true"), std::string::npos) << report;
    EXPECT_NE(report.find("\"page_count\": 0"), std::string::npos) << report;
    EXPECT_NE(report.find("\"is_pdfa\": false"), std::string::npos) << report;
    EXPECT_NE(report.find("\"" + msg + "\""), std::string::npos) << report;
  }
}

TEST(Encrypted, PasswordFilesAreRefusedWithoutOutput) {
  if (!wt::have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
  std::string src = zyk_test::write_temp(wt::fresh_name("clear.pdf"), text_source());
  std::string enc = wt::fresh_path("locked.pdf");
  ASSERT_TRUE(qpdf("--encrypt user owner 256 -- " + quote(src) + " " + quote(enc)));
  for (int part : {1, 2}) {
    wt::Converted out = wt::convert_file(enc, part);
    EXPECT_EQ(out.rc, 0);
    EXPECT_EQ(out.err, "encrypted PDFs are not supported: " + enc);
    EXPECT_FALSE(std::filesystem::exists(out.out_path));
  }
}

TEST(Encrypted, CorpusFilesThatOpenWithoutAPasswordConvert) {
  if (zyk_test::corpus_files().empty()) GTEST_SKIP() << "no corpus at " << ZYK_SHARED_DIR;
  if (!wt::have_tool("qpdf") || !wt::have_tool("pdftotext")) GTEST_SKIP() << "qpdf or pdftotext not installed";
  int open = 0;
  const std::vector<std::string> files = encrypted_corpus_files();
  if (files.empty()) GTEST_SKIP() << "no manifest listing protected files";
  for (const std::string &rel : files) {
    std::string in = zyk_test::corpus_dir() + "/" + rel;
    ASSERT_TRUE(is_encrypted(in)) << rel;
    // qpdf --requires-password: 0 a password is needed, 3 none is.
    bool needs = zyk_test::run_command("qpdf --requires-password " + quote(in) + " >/dev/null 2>&1", nullptr) != 3;
    wt::Converted out = wt::convert_file(in, 2, "enc.pdf");
    if (needs) {
      // qpdf cannot always tell (a damaged file it cannot reconstruct);
      // when we open one such file it must be a sound conversion too.
      if (out.rc == 0) {
        EXPECT_EQ(out.err, "encrypted PDFs are not supported: " + in) << rel;
        continue;
      }
    } else {
      ASSERT_EQ(out.rc, 1) << rel << ": " << out.err;
      open++;
    }
    EXPECT_FALSE(is_encrypted(out.out_path)) << rel;
    // The oracle: the same converter over qpdf's deciphered copy, or
    // poppler over that copy when the converter cannot read it.
    std::string clear = wt::fresh_path("clear.pdf");
    if (!qpdf("--decrypt " + quote(in) + " " + quote(clear))) continue;
    wt::Converted ref = wt::convert_file(clear, 2, "ref.pdf");
    std::string want = pdftotext(ref.rc == 1 ? ref.out_path : clear);
    EXPECT_EQ(pdftotext(out.out_path), want) << rel;
  }
  EXPECT_GT(open, 0);
  std::printf("%d protected corpus files open with an empty password and convert\n", open);
}
