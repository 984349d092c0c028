// The zyk-pdfa program as a user runs it: every command, its exit status,
// its output and error text, batches and interruption.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli_support.h"
#include "zyk_version.h"

using namespace cli_test;

namespace {

bool valid_json(const std::string &text) { return valid_json_lines(text); }

}  // namespace

TEST_F(Cli, HelpVersionAndUsageErrors) {
  struct Case {
    std::string args;
    int status;
    std::string where;  // "out" or "err"
    std::string text;
  } cases[] = {
      {"--version", 0, "out", "zyk-pdfa " ZYK_VERSION},
      {"--help", 0, "out", "usage: zyk-pdfa COMMAND"},
      {"convert --help", 0, "out", "usage: zyk-pdfa convert"},
      {"check --help", 0, "out", "usage: zyk-pdfa check"},
      {"report --help", 0, "out", "usage: zyk-pdfa report"},
      {"batch --help", 0, "out", "usage: zyk-pdfa batch"},
      {"", 2, "err", "missing command"},
      {"frobnicate", 2, "err", "unknown command frobnicate"},
      {"convert only-one.pdf", 2, "err", "convert takes INPUT and OUTPUT"},
      {"convert --part 3 a.pdf b.pdf", 2, "err", "--part takes 1 or 2"},
      {"convert --bogus a.pdf b.pdf", 2, "err", "unknown option --bogus"},
      {"check", 2, "err", "check takes at least one FILE"},
      {"report", 2, "err", "report takes at least one FILE"},
      {"batch --jobs 0 a b", 2, "err", "--jobs takes a number from 1 to 256"},
      {"batch onlyone", 2, "err", "batch takes INPUT_DIR and OUTPUT_DIR"},
  };
  for (const Case &c : cases) {
    CmdResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    const std::string &got = c.where == "out" ? r.out : r.err;
    EXPECT_NE(got.find(c.text), std::string::npos) << c.args << ": " << got;
  }
}

TEST_F(Cli, ConvertThenCheckBothParts) {
  for (int part : {1, 2}) {
    std::string out = zyk_test::temp_dir() + "/hello-" + std::to_string(part) + ".pdf";
    CmdResult c = run("convert --part " + std::to_string(part) + " " + q(sample()) + " " + q(out));
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.err, "");
    CmdResult k = run("check " + q(out));
    EXPECT_EQ(k.status, 0);
    EXPECT_EQ(k.out, out + ": declares PDF/A-" + std::to_string(part) + "\n");
  }
  // The default part is 2.
  std::string out = zyk_test::temp_dir() + "/hello-default.pdf";
  ASSERT_EQ(run("convert " + q(sample()) + " " + q(out)).status, 0);
  EXPECT_EQ(run("check " + q(out)).out, out + ": declares PDF/A-2\n");
}

TEST_F(Cli, ConvertFailureReportsTheLibraryMessageAndWritesNothing) {
  std::string missing = zyk_test::temp_dir() + "/missing.pdf";
  std::string out = zyk_test::temp_dir() + "/never-written.pdf";
  CmdResult r = run("convert " + q(missing) + " " + q(out));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zyk-pdfa: cannot open " + missing + ": No such file or directory\n");
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(Cli, CheckTellsPartNotPdfaAndUnreadable) {
  std::string pdfa = zyk_test::temp_dir() + "/for-check.pdf";
  ASSERT_EQ(run("convert --part 1 " + q(sample()) + " " + q(pdfa)).status, 0);
  std::string missing = zyk_test::temp_dir() + "/nope.pdf";
  CmdResult r = run("check " + q(pdfa) + " " + q(sample()) + " " + q(missing));
  EXPECT_EQ(r.status, 1);  // one file could not be read
  auto l = lines(r.out);
  ASSERT_EQ(l.size(), 3u) << r.out;
  EXPECT_EQ(l[0], pdfa + ": declares PDF/A-1");
  EXPECT_EQ(l[1], sample() + ": not declared");
  EXPECT_EQ(l[2], missing + ": error: cannot open " + missing + ": No such file or directory");
}

TEST_F(Cli, ReportPrintsOneJsonDocumentPerLine) {
  std::string missing = zyk_test::temp_dir() + "/gone \"quoted\".pdf";
  CmdResult ok = run("report " + q(sample()) + " " + q(sample()));
  EXPECT_EQ(ok.status, 0);
  CmdResult bad = run("report " + q(sample()) + " " + q(missing));
  EXPECT_EQ(bad.status, 1);
  for (const CmdResult *r : {&ok, &bad}) {
    auto l = lines(r->out);
    ASSERT_EQ(l.size(), 2u) << r->out;
    for (const std::string &doc : l) EXPECT_TRUE(valid_json(doc)) << doc;
  }
  EXPECT_NE(ok.out.find("\"page_count\": 2"), std::string::npos) << ok.out;
  EXPECT_NE(lines(bad.out)[1].find("\"loaded\": false"), std::string::npos);
}

TEST_F(Cli, BatchMirrorsTreeAndLogsEveryFile) {
  fs::path in = zyk_test::temp_dir() + "/batch-in", out = zyk_test::temp_dir() + "/batch-out";
  fs::create_directories(in / "a" / "b");
  fs::copy_file(sample(), in / "one.pdf");
  fs::copy_file(sample(), in / "a" / "two.PDF");
  fs::copy_file(sample(), in / "a" / "b" / "three.pdf");
  std::ofstream(in / "a" / "broken.pdf") << "not a pdf at all";
  std::ofstream(in / "notes.txt") << "ignored";
  CmdResult r = run("batch --jobs 2 --part 1 " + q(in.string()) + " " + q(out.string()));
  EXPECT_EQ(r.status, 3) << r.err;  // the broken file is refused: not a PDF
  EXPECT_NE(r.err.find("3 converted, 0 failed, 1 refused, 0 skipped, 1 ignored"), std::string::npos) << r.err;
  for (const char *rel : {"one.pdf", "a/two.PDF", "a/b/three.pdf"}) {
    ASSERT_TRUE(fs::exists(out / rel)) << rel;
    EXPECT_EQ(run("check " + q((out / rel).string())).out, (out / rel).string() + ": declares PDF/A-1\n");
  }
  EXPECT_FALSE(fs::exists(out / "a" / "broken.pdf"));
  std::string log_text = zyk_test::read_all((out / "zyk-pdfa-batch.jsonl").string());
  EXPECT_TRUE(valid_json(log_text)) << log_text;
  auto log = file_records(log_text);
  ASSERT_EQ(log.size(), 5u) << log_text;
  int ok = 0, refused = 0;
  for (const std::string &l : log) {
    ok += l.find("\"status\": \"ok\"") != std::string::npos;
    if (l.find("\"status\": \"refused\"") != std::string::npos) {
      refused++;
      EXPECT_NE(l.find("no PDF objects found"), std::string::npos) << l;
    }
  }
  EXPECT_EQ(ok, 3);
  EXPECT_EQ(refused, 1);
  EXPECT_TRUE(has(record_for(log_text, "/notes.txt"), "\"status\": \"ignored\", \"error\": \"not a PDF by name\""));
  // Only outputs and the log: no temporary files left behind.
  int files = 0;
  for (auto &e : fs::recursive_directory_iterator(out))
    if (e.is_regular_file()) files++;
  EXPECT_EQ(files, 4);
}

TEST_F(Cli, BatchOverCorpusAccountsForEveryFile) {
  auto corpus = zyk_test::corpus_files();
  if (corpus.empty()) GTEST_SKIP() << "shared corpus not present";
  if (std::getenv("ZYK_SANITIZED")) GTEST_SKIP() << "the normal build runs the corpus batch";
  fs::path out = zyk_test::temp_dir() + "/corpus-out";
  std::string log = zyk_test::temp_dir() + "/corpus.jsonl";
  CmdResult r = run("batch --jobs 2 --log " + q(log) + " " + q(zyk_test::corpus_dir()) + " " + q(out.string()));
  EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 3) << r.err;
  int pdf_records = 0;
  for (const std::string &rec : file_records(zyk_test::read_all(log)))
    pdf_records += rec.find("\"output\": \"\"") == std::string::npos;
  EXPECT_EQ(static_cast<std::size_t>(pdf_records), corpus.size());
  std::printf("%s", r.err.c_str());
}

TEST_F(Cli, InterruptStopsCleanly) {
  auto corpus = zyk_test::corpus_files();
  if (corpus.empty()) GTEST_SKIP() << "shared corpus not present";
  fs::path out = zyk_test::temp_dir() + "/interrupt-out";
  std::string log = zyk_test::temp_dir() + "/interrupt.jsonl";
  std::string errf = zyk_test::temp_dir() + "/interrupt.err";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::freopen(errf.c_str(), "w", stderr);
    std::string c = cli();
    execl(c.c_str(), c.c_str(), "batch", "--jobs", "2", "--log", log.c_str(), zyk_test::corpus_dir().c_str(),
          out.string().c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  // Interrupt once the program runs (its log has the run's header), not
  // after a fixed delay that a slow start could outlast.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (zyk_test::read_all(log).empty() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGINT);
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  std::string err = zyk_test::read_all(errf);
  // Either it finished before the signal, or it stopped with a summary.
  if (WEXITSTATUS(st) == 130) {
    EXPECT_NE(err.find("interrupted: "), std::string::npos) << err;
    EXPECT_NE(err.find("not started"), std::string::npos) << err;
  }
  // Every file is accounted for, and every output that exists is complete.
  int pdf_records = 0;
  for (const std::string &rec : file_records(zyk_test::read_all(log)))
    pdf_records += rec.find("\"output\": \"\"") == std::string::npos;
  EXPECT_EQ(static_cast<std::size_t>(pdf_records), corpus.size());
  for (auto &e : fs::recursive_directory_iterator(out)) {
    if (!e.is_regular_file() || e.path().extension() != ".pdf") continue;
    std::string body = zyk_test::read_all(e.path().string());
    EXPECT_EQ(body.rfind("%PDF-", 0), 0u) << e.path();
    EXPECT_GE(body.size(), 6u);
    EXPECT_EQ(body.substr(body.size() - 6), "%%EOF\n") << e.path();
  }
}

TEST_F(Cli, InstallCarriesManPageAndCompletion) {
  if (std::getenv("ZYK_CLI_UNDER_TEST")) GTEST_SKIP() << "installs this build tree only";
  fs::path prefix = fresh_dir("prefix");
  std::string log;
  ASSERT_EQ(zyk_test::run_command("cmake --install " + q(ZYK_BUILD_DIR) + " --prefix " + q(prefix.string()) + " 2>&1", &log), 0)
      << log;
  fs::path man = prefix / "share" / "man" / "man1" / "zyk-pdfa.1";
  fs::path completion = prefix / "share" / "bash-completion" / "completions" / "zyk-pdfa";
  ASSERT_TRUE(fs::exists(man)) << log;
  ASSERT_TRUE(fs::exists(completion)) << log;
  EXPECT_TRUE(has(zyk_test::read_all(man.string()), ".SH EXIT STATUS"));
  std::string words;
  EXPECT_EQ(zyk_test::run_command("bash -c 'source " + completion.string() +
                                      "; COMP_WORDS=(zyk-pdfa batch --sk); COMP_CWORD=2; _zyk_pdfa; echo ${COMPREPLY[*]}'",
                                  &words),
            0);
  EXPECT_EQ(words, "--skip-existing\n");
}
