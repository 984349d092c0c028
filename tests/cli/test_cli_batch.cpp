// What zyk-pdfa says: every entry of a batch accounted for, errors with
// their reasons, names that are not UTF-8, interruption, resuming, honest
// words for a declaration, and the option conventions of every command.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli_support.h"
#include "zyk_version.h"

using namespace cli_test;

namespace {

// Starts "zyk-pdfa ARGS..." with standard error going to `err_file`.
pid_t start(const std::vector<std::string> &args, const std::string &err_file) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int fd = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, 2);
  std::string c = cli();
  std::vector<char *> argv{c.data()};
  std::vector<std::string> copy = args;
  for (std::string &a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(c.c_str(), argv.data());
  _exit(127);
}

// A folder of `n` copies of the sample.
fs::path many_inputs(const std::string &name, int n) {
  fs::path in = fresh_dir(name);
  for (int i = 0; i < n; i++) fs::copy_file(sample(), in / ("f" + std::to_string(1000 + i) + ".pdf"));
  return in;
}

}  // namespace

// Unreadable folders, links to folders, broken links and loops appear in
// the log with a reason, and the summary counts them.
TEST_F(Cli, BatchAccountsForEveryEntry) {
  fs::path base = fresh_dir("account");
  fs::path in = base / "in", out = base / "out";
  fs::create_directories(in / "sub");
  fs::create_directories(base / "linked");
  fs::copy_file(sample(), in / "a.pdf");
  fs::copy_file(sample(), base / "linked" / "l.pdf");
  std::ofstream(in / "readme.txt") << "text";
  fs::create_symlink("../linked", in / "linked");
  fs::create_symlink("missing.pdf", in / "broken.pdf");
  fs::create_symlink("..", in / "sub" / "loop");
  fs::create_symlink("self", in / "self");
  bool root = geteuid() == 0;  // root reads any folder
  if (!root) {
    fs::create_directories(in / "locked");
    fs::copy_file(sample(), in / "locked" / "hidden.pdf");
    fs::permissions(in / "locked", fs::perms::none);
  }
  CmdResult r = run("batch " + q(in.string()) + " " + q(out.string()));
  if (!root) fs::permissions(in / "locked", fs::perms::owner_all);
  EXPECT_EQ(r.status, 1) << r.err;
  std::string log = zyk_test::read_all((out / "zyk-pdfa-batch.jsonl").string());
  EXPECT_TRUE(valid_json_lines(log)) << log;
  struct Expect {
    std::string input, status, words;
  } expects[] = {
      {"/a.pdf", "ok", ""},
      {"/linked/l.pdf", "ok", ""},
      {"/readme.txt", "ignored", "not a PDF by name"},
      {"/broken.pdf", "failed", "broken symbolic link to missing.pdf"},
      {"/sub/loop", "skipped", "symlink loop"},
      {"/self", "skipped", "symlink loop"},
  };
  for (const Expect &e : expects) {
    std::string rec = record_for(log, e.input);
    EXPECT_TRUE(has(rec, "\"status\": \"" + e.status + "\"")) << e.input << "\n" << log;
    EXPECT_TRUE(has(rec, e.words)) << rec;
  }
  if (!root) {
    EXPECT_TRUE(has(record_for(log, "/locked"), "cannot read folder: Permission denied")) << log;
  }
  EXPECT_EQ(file_records(log).size(), root ? 6u : 7u) << log;
  EXPECT_TRUE(has(r.err, "2 converted, " + std::string(root ? "1" : "2") + " failed, 0 refused, 2 skipped, 1 ignored"))
      << r.err;
  // The failures are listed at the end, before the summary.
  EXPECT_TRUE(has(r.err, "not converted:\n  broken.pdf: broken symbolic link")) << r.err;
}

// Failures name the operating system's reason after the library's message.
TEST_F(Cli, ErrorsSayWhy) {
  fs::path d = fresh_dir("reasons");
  fs::path fifo = d / "in.fifo", big = d / "big.pdf", folder = d / "folder";
  fs::create_directories(folder);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  {
    std::ofstream f(big);
  }
  fs::resize_file(big, (1ull << 31) + 10);  // sparse: takes no room
  std::string s = q(sample());
  std::string long_name = (d / (std::string(300, 'n') + ".pdf")).string();
  struct Case {
    std::string args, words;
  } cases[] = {
      {s + " " + q((d / "no-such-folder" / "x.pdf").string()), "folder " + (d / "no-such-folder").string() + " does not exist"},
      {s + " " + q(folder.string()), "cannot write " + folder.string() + ": it is a folder"},
      {s + " " + q(long_name), "File name too long"},
      {q(folder.string()) + " " + q((d / "x.pdf").string()), "cannot open " + folder.string() + ": it is a folder"},
      {q(big.string()) + " " + q((d / "x.pdf").string()), "files of 2 GiB or more are not supported"},
      {q((d / "absent.pdf").string()) + " " + q((d / "x.pdf").string()), "No such file or directory"},
  };
  for (const Case &c : cases) {
    CmdResult r = run("convert " + c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_TRUE(has(r.err, c.words)) << c.args << "\n" << r.err;
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
  }
  if (geteuid() != 0) {
    fs::path ro = d / "read-only";
    fs::create_directories(ro);
    fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
    CmdResult r = run("convert " + s + " " + q((ro / "x.pdf").string()));
    EXPECT_TRUE(has(r.err, "Permission denied")) << r.err;
    fs::permissions(ro, fs::perms::owner_all);
  }
  // A pipe as input is read, not taken for an empty file.
  std::string out = (d / "from-fifo.pdf").string();
  CmdResult r = run("convert " + q(fifo.string()) + " " + q(out), "(cat " + s + " > " + q(fifo.string()) + " &);");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(complete_pdf(out));
  EXPECT_TRUE(leftovers(d).empty());
}

// Names that are not UTF-8 are escaped so that every log line is valid
// UTF-8 JSON, and the escape gives the name back (surrogate escapes).
TEST_F(Cli, LogEscapesNamesThatAreNotUtf8) {
  fs::path base = fresh_dir("names");
  fs::path in = base / "in", out = base / "out";
  fs::create_directories(in);
  std::string raw = "caf\xe9 \xff\"quoted\"\t.pdf";
  fs::copy_file(sample(), in / raw);
  fs::copy_file(sample(), in / "gr\xc3\xbc\xc3\x9f.pdf");  // valid UTF-8 stays as it is
  CmdResult r = run("batch " + q(in.string()) + " " + q(out.string()));
  EXPECT_EQ(r.status, 0) << r.err;
  std::string log_path = (out / "zyk-pdfa-batch.jsonl").string();
  std::string log = zyk_test::read_all(log_path);
  EXPECT_TRUE(valid_json_lines(log)) << log;
  EXPECT_TRUE(has(log, "gr\xc3\xbc\xc3\x9f.pdf"));
  EXPECT_TRUE(fs::exists(out / raw));
  std::string check =
      "python3 -c 'import json,os,sys\n"
      "recs=[json.loads(l) for l in open(sys.argv[1], encoding=\"utf-8\")]\n"
      "names=[os.fsencode(r[\"input\"]) for r in recs if \"status\" in r]\n"
      "sys.exit(0 if os.fsencode(sys.argv[2]) in names else 1)' " +
      q(log_path) + " " + q((in / raw).string());
  EXPECT_EQ(zyk_test::run_command(check, nullptr), 0) << log;
}

// The first Ctrl-C says what happens and lets running conversions finish;
// the second stops them at once. Both end with status 130.
TEST_F(Cli, InterruptOnceThenTwice) {
  fs::path in = fresh_dir("ctrl-c-in");
  // Big enough that two conversions are still running when the second
  // interrupt comes, on a fast machine too.
  std::string big = many_pages_pdf(20000);
  for (int i = 0; i < 6; i++) std::ofstream(in / ("big" + std::to_string(i) + ".pdf"), std::ios::binary) << big;
  for (int presses : {1, 2}) {
    fs::path out = fresh_dir("ctrl-c-out");
    std::string errf = out.string() + ".err";
    pid_t pid = start({"batch", "--jobs", "2", in.string(), out.string()}, errf);
    // Interrupt once both workers run, the second time once the first
    // interrupt has been answered.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (children_of(pid).size() < 2 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(pid, SIGINT);
    while (!has(zyk_test::read_all(errf), "interrupt:") && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (presses == 2) kill(pid, SIGINT);
    int st = 0;
    waitpid(pid, &st, 0);
    std::string err = zyk_test::read_all(errf);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 130) << err;
    EXPECT_TRUE(has(err, "interrupt: starting no more conversions; waiting for the 2 running to finish")) << err;
    EXPECT_TRUE(has(err, "Ctrl-C again stops them at once")) << err;
    EXPECT_TRUE(has(err, "interrupted: ")) << err;
    std::string log = zyk_test::read_all((out / "zyk-pdfa-batch.jsonl").string());
    EXPECT_EQ(file_records(log).size(), 6u);
    EXPECT_TRUE(has(log, "\"interrupted\": true, \"exit_status\": 130")) << log;
    EXPECT_TRUE(has(err, "4 not started")) << err;
    if (presses == 1) {
      EXPECT_TRUE(has(err, "interrupted: 2 converted")) << err;
    } else {
      EXPECT_TRUE(has(err, "stopped 2 running conversions; their temporary files are removed")) << err;
      EXPECT_TRUE(has(log, "interrupted while converting: stopped, nothing written")) << log;
    }
    EXPECT_TRUE(leftovers(out).empty());
    for (auto &e : fs::directory_iterator(out)) {
      if (e.path().extension() == ".pdf") {
        EXPECT_TRUE(complete_pdf(e.path().string())) << e.path();
      }
    }
  }
}

// --skip-existing resumes: only missing or stale outputs are converted,
// and the log keeps every run, each starting with its header.
TEST_F(Cli, SkipExistingResumesAndAppendsTheLog) {
  fs::path in = many_inputs("resume-in", 3);
  fs::path out = fresh_dir("resume-out");
  ASSERT_EQ(run("batch -q " + q(in.string()) + " " + q(out.string())).status, 0);
  fs::remove(out / "f1000.pdf");
  // f1001's input changes after its conversion.
  fs::last_write_time(in / "f1001.pdf", fs::last_write_time(out / "f1001.pdf") + std::chrono::seconds(5));
  CmdResult r = run("batch --skip-existing " + q(in.string()) + " " + q(out.string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, "2 converted, 0 failed, 0 refused, 1 skipped")) << r.err;
  std::string log = zyk_test::read_all((out / "zyk-pdfa-batch.jsonl").string());
  auto l = lines(log);
  ASSERT_EQ(l.size(), 10u) << log;  // two runs: header, 3 records, end
  EXPECT_EQ(l[0].rfind("{\"run\": \"start\", \"time\": \"", 0), 0u) << l[0];
  EXPECT_TRUE(has(l[5], "\"version\": \"" ZYK_VERSION "\", \"arguments\": [")) << l[5];
  EXPECT_TRUE(has(l[5], "\"--skip-existing\"")) << l[5];
  EXPECT_TRUE(has(l[7], "f1001.pdf\", \"status\": \"ok\"") || has(l[6], "f1001.pdf\", \"status\": \"ok\"") ||
              has(l[8], "f1001.pdf\", \"status\": \"ok\""))
      << log;
  EXPECT_TRUE(has(log, "f1002.pdf\", \"status\": \"skipped\", \"error\": \"output is newer than the input")) << log;
  EXPECT_TRUE(valid_json_lines(log));
}

// check says what a file declares, never that it conforms; report keeps the
// library's JSON and adds a note where its verdict could be misread.
TEST_F(Cli, CheckAndReportUseHonestWords) {
  fs::path d = fresh_dir("words");
  std::string pdfa = (d / "a.pdf").string();
  ASSERT_EQ(run("convert " + q(sample()) + " " + q(pdfa)).status, 0);
  std::string missing = (d / "missing.pdf").string();
  CmdResult t = run("check " + q(pdfa) + " " + q(sample()));
  EXPECT_EQ(t.out, pdfa + ": declares PDF/A-2\n" + sample() + ": not declared\n");
  CmdResult j = run("check --json " + q(pdfa) + " " + q(sample()) + " " + q(missing));
  EXPECT_EQ(j.status, 1);
  auto l = lines(j.out);
  ASSERT_EQ(l.size(), 3u);
  EXPECT_TRUE(valid_json_lines(j.out)) << j.out;
  EXPECT_EQ(l[0], "{\"file\": \"" + pdfa + "\", \"status\": \"declared\", \"part\": 2, \"error\": \"\"}");
  EXPECT_EQ(l[1], "{\"file\": \"" + sample() + "\", \"status\": \"not declared\", \"part\": 0, \"error\": \"\"}");
  EXPECT_TRUE(has(l[2], "\"status\": \"error\", \"part\": 0, \"error\": \"cannot open " + missing)) << l[2];

  CmdResult r = run("report " + q(pdfa));
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "\"verdict\": \"compliant\"}")) << r.out;  // the library's text, unchanged
  EXPECT_TRUE(has(r.err, "declares a PDF/A part; it was not validated")) << r.err;
  EXPECT_EQ(run("report -q " + q(pdfa)).err, "");
  EXPECT_EQ(run("report " + q(sample())).err, "");  // nothing declared, nothing to misread
}

// Options are parsed in every command, "--" ends them, short and long forms
// agree, and a usage error is one line pointing to --help.
TEST_F(Cli, OptionConventions) {
  fs::path d = fresh_dir("options");
  std::string dash = (d / "-dash.pdf").string();
  fs::copy_file(sample(), dash);
  std::string cd = "cd " + q(d.string()) + " &&";
  struct Case {
    std::string args;
    int status;
    std::string out_has, err_has;
  } cases[] = {
      {"check -- -dash.pdf", 0, "-dash.pdf: not declared", ""},
      {"check -dash.pdf", 2, "", "unknown option -d (see 'zyk-pdfa check --help')"},
      {"report --frob x.pdf", 2, "", "unknown option --frob (see 'zyk-pdfa report --help')"},
      {"report -- -dash.pdf", 0, "\"page_count\": 2", ""},
      {"check --json -- -dash.pdf", 0, "\"status\": \"not declared\"", ""},
      {"convert -o out1.pdf -- -dash.pdf", 0, "", ""},
      {"convert --output=out2.pdf --part=1 -- -dash.pdf", 0, "", ""},
      {"convert -qv -- -dash.pdf out3.pdf", 0, "", "wrote out3.pdf: 2 pages, declares PDF/A-2b"},
      {"convert -o a.pdf b.pdf c.pdf", 2, "", "convert takes INPUT and OUTPUT"},
      {"batch -j0 in out", 2, "", "--jobs takes a number from 1 to 256"},
      {"batch --jobs=x in out", 2, "", "--jobs takes a number from 1 to 256"},
      {"batch --part", 2, "", "--part needs a value"},
      {"check", 2, "", "check takes at least one FILE (see 'zyk-pdfa check --help')"},
  };
  for (const Case &c : cases) {
    CmdResult r = run(c.args, cd);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_TRUE(has(r.out, c.out_has)) << c.args << "\n" << r.out;
    EXPECT_TRUE(has(r.err, c.err_has)) << c.args << "\n" << r.err;
    if (c.status == 2) {
      EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    }
  }
  EXPECT_EQ(run("check out2.pdf", cd).out, "out2.pdf: declares PDF/A-1\n");
  // Every help names the exit statuses.
  for (const char *cmd : {"", "convert ", "check ", "report ", "batch "}) {
    CmdResult h = run(std::string(cmd) + "--help");
    EXPECT_EQ(h.status, 0);
    EXPECT_TRUE(has(h.out, "130")) << cmd;
    EXPECT_TRUE(has(h.out, "3 ")) << cmd;
  }
  // -j as --jobs, -q without progress or summary.
  fs::path in = many_inputs("opt-in", 2);
  CmdResult b = run("batch -qj2 " + q(in.string()) + " " + q((d / "out").string()));
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(b.err, "");
  EXPECT_TRUE(has(zyk_test::read_all((d / "out" / "zyk-pdfa-batch.jsonl").string()), "\"jobs\": 2"));
}

// Progress names the percentage on every line when standard error is not a
// terminal, and failures come again at the end.
TEST_F(Cli, ProgressShowsPercentAndListsFailures) {
  fs::path in = many_inputs("progress-in", 3);
  std::ofstream(in / "zz-broken.pdf") << "broken";
  CmdResult r = run("batch -j1 " + q(in.string()) + " " + q((in.string() + "-out")));
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(has(r.err, "[ 25% 1/4] ok      f1000.pdf")) << r.err;
  EXPECT_TRUE(has(r.err, "[100% 4/4] REFUSED zz-broken.pdf: no PDF objects found")) << r.err;
  EXPECT_TRUE(has(r.err, "1 file not converted:\n  zz-broken.pdf: no PDF objects found")) << r.err;
}
