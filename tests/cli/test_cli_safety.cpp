// zyk-pdfa never touches a file the user did not name as an output:
// symbolic links, FIFOs and folders at output paths, standard output,
// inputs given as outputs, overlapping folders, dead workers and file-size
// limits.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli_support.h"

using namespace cli_test;

namespace {

bool is_named_pipe(const fs::path &p) {
  struct stat st {};
  return lstat(p.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

}  // namespace

// A symbolic link under INPUT_DIR is read, and its conversion goes to the
// link's own mirrored path; a link inside OUTPUT_DIR is never written through.
TEST_F(Cli, BatchConvertsSymlinkedInputsToTheLinkPathAndNeverWritesThroughLinks) {
  fs::path base = fresh_dir("links");
  fs::path in = base / "in", out = base / "out", elsewhere = base / "elsewhere";
  fs::create_directories(in / "sub");
  fs::create_directories(elsewhere / "folder");
  fs::create_directories(elsewhere / "outside");
  fs::create_directories(out);
  fs::copy_file(sample(), elsewhere / "orig.pdf");
  fs::copy_file(sample(), elsewhere / "folder" / "deep.pdf");
  fs::copy_file(sample(), in / "sub" / "x.pdf");
  fs::create_symlink("../elsewhere/orig.pdf", in / "link.pdf");
  fs::create_symlink("../elsewhere/folder", in / "linkdir");
  // The output folder already holds a link where a mirrored folder goes,
  // and a link where a mirrored file goes.
  fs::create_symlink("../elsewhere/outside", out / "sub");
  fs::create_symlink("../elsewhere/orig.pdf", out / "link.pdf");
  std::string orig = zyk_test::read_all((elsewhere / "orig.pdf").string());

  CmdResult r = run("batch --jobs 2 " + q(in.string()) + " " + q(out.string()));
  EXPECT_EQ(r.status, 1) << r.err;
  std::string log = zyk_test::read_all((out / "zyk-pdfa-batch.jsonl").string());

  // Nothing outside the output folder changed.
  EXPECT_TRUE(zyk_test::read_all((elsewhere / "orig.pdf").string()) == orig) << "the input changed";
  EXPECT_FALSE(fs::exists(elsewhere / "outside" / "x.pdf"));
  EXPECT_TRUE(fs::is_symlink(out / "sub"));
  EXPECT_TRUE(fs::is_symlink(out / "link.pdf")) << "an existing link at an output path is refused, not replaced";
  EXPECT_TRUE(has(record_for(log, "/sub/x.pdf"), "\"status\": \"failed\"")) << log;
  EXPECT_TRUE(has(record_for(log, "/sub/x.pdf"), "symbolic link")) << log;
  EXPECT_TRUE(has(record_for(log, "/link.pdf"), "symbolic link")) << log;

  // The linked folder is converted to its mirrored path.
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / "linkdir" / "deep.pdf")));
  EXPECT_FALSE(fs::is_symlink(out / "linkdir"));
  EXPECT_TRUE(complete_pdf((out / "linkdir" / "deep.pdf").string()));
  EXPECT_TRUE(has(record_for(log, "/linkdir/deep.pdf"), "\"status\": \"ok\"")) << log;

  // Without a link in the way, a linked file becomes a regular file at the
  // link's mirrored path.
  fs::remove(out / "link.pdf");
  r = run("batch --skip-existing " + q(in.string()) + " " + q(out.string()));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / "link.pdf")));
  EXPECT_TRUE(complete_pdf((out / "link.pdf").string()));
  EXPECT_TRUE(zyk_test::read_all((elsewhere / "orig.pdf").string()) == orig) << "the input changed";
  EXPECT_TRUE(leftovers(out).empty());
}

// An output path holding something other than a regular file is refused
// and left as it was.
TEST_F(Cli, ConvertRefusesOutputsThatAreNotRegularFiles) {
  fs::path d = fresh_dir("non-regular");
  fs::path fifo = d / "fifo.pdf", link = d / "link.pdf", target = d / "target.pdf", folder = d / "folder.pdf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::ofstream(target) << "precious";
  fs::create_symlink(target, link);
  fs::create_directories(folder);
  struct Case {
    fs::path out;
    std::string words;
  } cases[] = {{fifo, "FIFO"}, {link, "symbolic link"}, {folder, "folder"}};
  for (const Case &c : cases) {
    CmdResult r = run("convert " + q(sample()) + " " + q(c.out.string()));
    EXPECT_EQ(r.status, 1) << c.out;
    EXPECT_TRUE(has(r.err, c.out.string())) << r.err;
    EXPECT_TRUE(has(r.err, c.words)) << r.err;
  }
  EXPECT_TRUE(is_named_pipe(fifo));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(zyk_test::read_all(target.string()), "precious");
  EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder));
  EXPECT_TRUE(leftovers(d).empty());

  // The same in a batch: a FIFO at a mirrored output path stays a FIFO.
  fs::path in = d / "in", out = d / "out";
  fs::create_directories(in);
  fs::create_directories(out);
  fs::copy_file(sample(), in / "a.pdf");
  ASSERT_EQ(mkfifo((out / "a.pdf").c_str(), 0644), 0);
  CmdResult b = run("batch " + q(in.string()) + " " + q(out.string()));
  EXPECT_EQ(b.status, 1);
  EXPECT_TRUE(is_named_pipe(out / "a.pdf"));
  EXPECT_TRUE(has(record_for(zyk_test::read_all((out / "zyk-pdfa-batch.jsonl").string()), "/a.pdf"), "FIFO"));
}

// "-" is standard output (and standard input), written only once the whole
// conversion has succeeded; no file named "-" appears.
TEST_F(Cli, DashMeansStandardOutputAndInput) {
  fs::path d = fresh_dir("dash");
  std::string cd = "cd " + q(d.string()) + " &&";
  std::string pdf = (d / "stdout.pdf").string();
  CmdResult r = run("convert " + q(sample()) + " -", cd, "> " + q(pdf));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(d / "-"));
  EXPECT_TRUE(complete_pdf(pdf));
  EXPECT_EQ(run("check " + q(pdf)).out, pdf + ": declares PDF/A-2\n");

  // From standard input to a file, and from a pipe to standard output.
  std::string from_stdin = (d / "stdin.pdf").string();
  r = run("convert --part 1 - " + q(from_stdin), cd, "< " + q(sample()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run("check " + q(from_stdin)).out, from_stdin + ": declares PDF/A-1\n");
  r = run("convert - -", cd + " cat " + q(sample()) + " |", "| wc -c");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_GT(std::atol(r.out.c_str()), 1000);

  // A failed conversion writes nothing at all to standard output.
  std::string junk = zyk_test::write_temp("junk-for-stdout.pdf", "not a pdf at all");
  r = run("convert " + q(junk) + " -", cd);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(fs::exists(d / "-"));
  EXPECT_TRUE(leftovers(d).empty());
}

// The input itself is never the output unless the user asks for it.
TEST_F(Cli, ConvertRefusesToReplaceItsInputUnlessAsked) {
  fs::path d = fresh_dir("same");
  fs::path x = d / "x.pdf", hard = d / "hard.pdf";
  fs::copy_file(sample(), x);
  fs::create_hard_link(x, hard);
  std::string before = zyk_test::read_all(x.string());
  for (const fs::path &out : {x, hard}) {
    CmdResult r = run("convert " + q(x.string()) + " " + q(out.string()));
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_TRUE(has(r.err, "input file itself")) << r.err;
    EXPECT_TRUE(has(r.err, "--replace-input")) << r.err;
    EXPECT_TRUE(zyk_test::read_all(x.string()) == before) << "the input changed";
  }
  // Relative and absolute spellings of the same file are the same file.
  CmdResult rel = run("convert x.pdf ./" + q(x.filename().string()), "cd " + q(d.string()) + " &&");
  EXPECT_EQ(rel.status, 1);
  CmdResult r = run("convert --replace-input " + q(x.string()) + " " + q(x.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run("check " + q(x.string())).out, x.string() + ": declares PDF/A-2\n");
}

// Overlapping input and output folders: outputs would replace inputs, or a
// nested output folder would be converted again on every run.
TEST_F(Cli, BatchRefusesOverlappingFolders) {
  fs::path d = fresh_dir("overlap");
  fs::path in = d / "in";
  fs::create_directories(in / "deeper");
  fs::copy_file(sample(), in / "a.pdf");
  std::string before = zyk_test::read_all((in / "a.pdf").string());
  struct Case {
    std::string in, out, words;
  } cases[] = {
      {in.string(), in.string(), "same folder"},
      {in.string(), in.string() + "/", "same folder"},
      {in.string(), in.string() + "/../in", "same folder"},
      {(in / "deeper").string(), in.string(), "INPUT_DIR is inside OUTPUT_DIR"},
      {in.string(), (in / "out").string(), "--allow-nested"},
  };
  for (const Case &c : cases) {
    CmdResult r = run("batch " + q(c.in) + " " + q(c.out));
    EXPECT_EQ(r.status, 2) << c.in << " " << c.out;
    EXPECT_TRUE(has(r.err, c.words)) << r.err;
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_TRUE(zyk_test::read_all((in / "a.pdf").string()) == before) << "the input changed";
  }
  EXPECT_FALSE(fs::exists(in / "out"));
  EXPECT_FALSE(fs::exists(in / "zyk-pdfa-batch.jsonl"));

  // With --allow-nested the output folder is left out of the walk: a second
  // run converts the same single file, never out/out/... .
  for (int run_no = 0; run_no < 2; run_no++) {
    CmdResult r = run("batch --allow-nested " + q(in.string()) + " " + q((in / "out").string()));
    EXPECT_EQ(r.status, 0) << r.err;
  }
  EXPECT_TRUE(complete_pdf((in / "out" / "a.pdf").string()));
  EXPECT_FALSE(fs::exists(in / "out" / "out"));
  std::string log = zyk_test::read_all((in / "out" / "zyk-pdfa-batch.jsonl").string());
  EXPECT_TRUE(has(record_for(log, "in/out"), "output folder")) << log;
  EXPECT_TRUE(zyk_test::read_all((in / "a.pdf").string()) == before) << "the input changed";
}

// Under a file-size limit the write fails with a reason instead of killing
// the program: no temporary file stays, an existing output is untouched.
TEST_F(Cli, FileSizeLimitFailsCleanly) {
  fs::path d = fresh_dir("fsize");
  fs::path out = d / "out.pdf";
  std::ofstream(out) << "previous good output";
  // The converted sample (about 16 KiB) is well above 4 KiB; the batch log
  // below stays under it.
  CmdResult r = run("convert " + q(sample()) + " " + q(out.string()), "ulimit -f 4;");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(has(r.err, "short write to " + out.string())) << r.err;
  EXPECT_TRUE(has(r.err, "File too large")) << r.err;
  EXPECT_EQ(zyk_test::read_all(out.string()), "previous good output");
  EXPECT_TRUE(leftovers(d).empty());

  // In a batch, each worker fails the same way, and the parent removes
  // nothing but the worker's own temporary files.
  fs::path in = d / "in", bout = d / "bout";
  fs::create_directories(in);
  fs::create_directories(bout);
  fs::copy_file(sample(), in / "a.pdf");
  fs::copy_file(sample(), in / "b.pdf");
  std::ofstream(bout / "a.pdf") << "previous good output";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    struct rlimit rl {4 * 1024, 4 * 1024};
    setrlimit(RLIMIT_FSIZE, &rl);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    std::string c = cli();
    execl(c.c_str(), c.c_str(), "batch", "--jobs", "2", in.c_str(), bout.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st)) << "killed by signal " << WTERMSIG(st);
  EXPECT_EQ(WEXITSTATUS(st), 1);
  EXPECT_EQ(zyk_test::read_all((bout / "a.pdf").string()), "previous good output");
  EXPECT_FALSE(fs::exists(bout / "b.pdf"));
  EXPECT_TRUE(leftovers(bout).empty());
  std::string log = zyk_test::read_all((bout / "zyk-pdfa-batch.jsonl").string());
  EXPECT_TRUE(has(record_for(log, "/b.pdf"), "File too large")) << log;
}

// A worker killed in the middle of a conversion: its file is failed, the
// previous output at its path stays, and its temporary files go.
TEST_F(Cli, DeadWorkerNeverRemovesTheOutputPath) {
  fs::path d = fresh_dir("dead-worker");
  fs::path in = d / "in", out = d / "out";
  fs::create_directories(in);
  fs::create_directories(out);
  // Files that take a while to convert, so that the worker killed is one
  // still converting (a one-page file is done in a millisecond, and killing
  // a worker that has just finished proves nothing).
  const int n = 8;
  const std::string slow = many_pages_pdf(1500);
  for (int i = 0; i < n; i++) {
    std::string name = "f" + std::to_string(100 + i) + ".pdf";
    std::ofstream(in / name, std::ios::binary) << slow;
    std::ofstream(out / name) << "previous good output";
  }
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    std::string c = cli();
    execl(c.c_str(), c.c_str(), "batch", "--jobs", "1", in.c_str(), out.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  // Kill the first worker that runs for a little while.
  int killed = 0;
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!killed && std::chrono::steady_clock::now() < until) {
    for (pid_t c : children_of(pid)) {
      if (kill(c, SIGKILL) == 0) killed++;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_EQ(killed, 1) << "no worker seen";
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 1);
  std::string log = zyk_test::read_all((out / "zyk-pdfa-batch.jsonl").string());
  int crashed = 0;
  for (const std::string &rec : file_records(log))
    if (has(rec, "killed by signal 9")) crashed++;
  EXPECT_EQ(crashed, 1) << log;
  // Every output is either the new complete file or the previous one.
  for (int i = 0; i < n; i++) {
    fs::path o = out / ("f" + std::to_string(100 + i) + ".pdf");
    ASSERT_TRUE(fs::exists(o)) << o;
    std::string body = zyk_test::read_all(o.string());
    EXPECT_TRUE(body == "previous good output" || complete_pdf(o.string())) << o;
  }
  EXPECT_TRUE(leftovers(out).empty());
}
