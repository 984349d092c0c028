// zyk-pdfa: the command-line host program. It uses the library only through
// its seven exported C functions, exactly as any other host would.
//
//   zyk-pdfa convert [--part 1|2] INPUT OUTPUT
//   zyk-pdfa check FILE...
//   zyk-pdfa report FILE...
//   zyk-pdfa batch [--part 1|2] [--jobs N] [--log FILE] INPUT_DIR OUTPUT_DIR
//
// Exit status: 0 when everything succeeded, 1 when some file failed, 2 for a
// usage error. The library is not reentrant, so `batch` runs its parallel
// conversions in worker processes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "zyk_out_pdfa.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *k_version = "1.0.0";

const char *k_usage =
    "usage: zyk-pdfa COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Turns PDF files into archival PDF/A files (part 1 or 2, level B),\n"
    "tells which PDF/A part a file declares, and reports on PDF files.\n"
    "\n"
    "commands:\n"
    "  convert [--part 1|2] INPUT OUTPUT      convert one file (default part 2)\n"
    "  check FILE...                          print the PDF/A part each file declares\n"
    "  report FILE...                         print a JSON report per file, one per line\n"
    "  batch [--part 1|2] [--jobs N] [--log FILE] INPUT_DIR OUTPUT_DIR\n"
    "                                         convert every PDF under INPUT_DIR\n"
    "\n"
    "options:\n"
    "  --help       show help (also after a command)\n"
    "  --version    show the version\n"
    "\n"
    "exit status: 0 all succeeded, 1 some file failed, 2 usage error\n";

const char *k_convert_help =
    "usage: zyk-pdfa convert [--part 1|2] INPUT OUTPUT\n"
    "\n"
    "Converts INPUT into a PDF/A file at OUTPUT (part 2 unless --part 1).\n"
    "On failure nothing is written and the reason goes to standard error.\n";

const char *k_check_help =
    "usage: zyk-pdfa check FILE...\n"
    "\n"
    "Prints one line per file: \"FILE: PDF/A-N\" for the part the file declares,\n"
    "\"FILE: not PDF/A\", or \"FILE: error: REASON\" when it cannot be read.\n";

const char *k_report_help =
    "usage: zyk-pdfa report FILE...\n"
    "\n"
    "Prints the JSON report of each file, one JSON document per line.\n"
    "Exit status 1 when some file could not be loaded.\n";

const char *k_batch_help =
    "usage: zyk-pdfa batch [--part 1|2] [--jobs N] [--log FILE] INPUT_DIR OUTPUT_DIR\n"
    "\n"
    "Converts every PDF under INPUT_DIR into the same relative path under\n"
    "OUTPUT_DIR, N conversions at a time (default: the number of processors).\n"
    "Shows progress, prints a summary, and writes a JSON Lines log of every\n"
    "file (default OUTPUT_DIR/zyk-pdfa-batch.jsonl). Ctrl-C stops after the\n"
    "conversions already running; finished outputs stay, no partial file is left.\n";

int usage_error(const char *msg, const char *help) {
  std::fprintf(stderr, "zyk-pdfa: %s\n\n%s", msg, help);
  return 2;
}

bool is_help(const char *a) { return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0; }

// Parses "--part N" / "--part=N". Returns false on a bad value.
bool parse_part(const std::string &v, int *part) {
  if (v == "1" || v == "2") {
    *part = v[0] - '0';
    return true;
  }
  return false;
}

int convert_file(int part, const char *in, const char *out) {
  return part == 1 ? pdfa_convert_1b(in, out) : pdfa_convert_2b(in, out);
}

std::string json_escape(const std::string &s) {
  std::string o;
  for (unsigned char c : s) {
    switch (c) {
      case '"': o += "\\\""; break;
      case '\\': o += "\\\\"; break;
      case '\n': o += "\\n"; break;
      case '\r': o += "\\r"; break;
      case '\t': o += "\\t"; break;
      default:
        if (c < 0x20) {
          char b[8];
          std::snprintf(b, sizeof b, "\\u%04x", c);
          o += b;
        } else {
          o += static_cast<char>(c);
        }
    }
  }
  return o;
}

// The report text as one line: its line breaks and indentation stand only
// between JSON tokens (strings in it never hold raw control characters).
std::string one_line(const char *report) {
  std::string o;
  bool at_line_start = false;
  for (const char *p = report; *p; p++) {
    if (*p == '\n') {
      at_line_start = true;
      continue;
    }
    if (at_line_start && *p == ' ') continue;
    if (at_line_start && !o.empty() && o.back() != '{' && o.back() != '[' && *p != '}' && *p != ']') o += ' ';
    at_line_start = false;
    o += *p;
  }
  return o;
}

// ---- convert, check, report --------------------------------------------------

int cmd_convert(std::vector<std::string> args) {
  int part = 2;
  std::vector<std::string> pos;
  for (std::size_t i = 0; i < args.size(); i++) {
    const std::string &a = args[i];
    if (is_help(a.c_str())) {
      std::fputs(k_convert_help, stdout);
      return 0;
    }
    if (a == "--part" || a.rfind("--part=", 0) == 0) {
      std::string v = a == "--part" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(7);
      if (!parse_part(v, &part)) return usage_error("--part takes 1 or 2", k_convert_help);
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error(("unknown option " + a).c_str(), k_convert_help);
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() != 2) return usage_error("convert takes INPUT and OUTPUT", k_convert_help);
  if (convert_file(part, pos[0].c_str(), pos[1].c_str()) != 1) {
    std::fprintf(stderr, "zyk-pdfa: %s\n", pdfa_last_error());
    return 1;
  }
  return 0;
}

int cmd_check(const std::vector<std::string> &args) {
  if (!args.empty() && is_help(args[0].c_str())) {
    std::fputs(k_check_help, stdout);
    return 0;
  }
  if (args.empty()) return usage_error("check takes at least one FILE", k_check_help);
  int status = 0;
  for (const std::string &f : args) {
    // A check that loads the file but finds no identification leaves the
    // error text alone, so clear it first to tell "not PDF/A" from "unreadable".
    pdfa_cleanup();
    int part = pdfa_check(f.c_str());
    if (part > 0) {
      std::printf("%s: PDF/A-%d\n", f.c_str(), part);
    } else if (pdfa_last_error()[0]) {
      std::printf("%s: error: %s\n", f.c_str(), pdfa_last_error());
      status = 1;
    } else {
      std::printf("%s: not PDF/A\n", f.c_str());
    }
  }
  return status;
}

int cmd_report(const std::vector<std::string> &args) {
  if (!args.empty() && is_help(args[0].c_str())) {
    std::fputs(k_report_help, stdout);
    return 0;
  }
  if (args.empty()) return usage_error("report takes at least one FILE", k_report_help);
  int status = 0;
  for (const std::string &f : args) {
    std::string line = one_line(pdfa_report(f.c_str()));
    if (line.find("\"loaded\": false") != std::string::npos) status = 1;
    std::printf("%s\n", line.c_str());
  }
  return status;
}

// ---- batch ------------------------------------------------------------------

volatile sig_atomic_t g_interrupted = 0;

void on_interrupt(int) { g_interrupted = 1; }

struct Job {
  std::string input, output, rel;
};

struct Result {
  bool ok = false;
  int pages = 0;
  double seconds = 0;
  std::string error;
};

// The page count of a file, read from its report ("page_count": N).
int page_count(const std::string &path) {
  const char *r = pdfa_report(path.c_str());
  const char *k = std::strstr(r, "\"page_count\": ");
  return k ? std::atoi(k + 14) : 0;
}

// Runs in the worker process: converts one file and writes
// "ok PAGES\n" or "fail MESSAGE" to the pipe.
[[noreturn]] void run_worker(const Job &job, int part, int fd) {
  signal(SIGINT, SIG_IGN);  // the parent decides when to stop
  std::error_code ec;
  fs::create_directories(fs::path(job.output).parent_path(), ec);
  std::string msg;
  if (convert_file(part, job.input.c_str(), job.output.c_str()) == 1)
    msg = "ok " + std::to_string(page_count(job.output)) + "\n";
  else
    msg = std::string("fail ") + pdfa_last_error();
  std::size_t off = 0;
  while (off < msg.size()) {
    ssize_t w = write(fd, msg.data() + off, msg.size() - off);
    if (w <= 0) break;
    off += static_cast<std::size_t>(w);
  }
  close(fd);
  _exit(0);
}

struct Running {
  Job job;
  pid_t pid;
  int fd;
  std::string data;
  std::chrono::steady_clock::time_point start;
};

std::vector<Job> find_pdfs(const fs::path &in, const fs::path &out) {
  std::vector<Job> jobs;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(in, fs::directory_options::skip_permission_denied, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (!it->is_regular_file(ec)) continue;
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext != ".pdf") continue;
    fs::path rel = fs::relative(it->path(), in, ec);
    jobs.push_back({it->path().string(), (out / rel).string(), rel.string()});
  }
  std::sort(jobs.begin(), jobs.end(), [](const Job &a, const Job &b) { return a.rel < b.rel; });
  return jobs;
}

class Progress {
 public:
  Progress(std::size_t total) : total_(total), tty_(isatty(STDERR_FILENO)) {}
  void update(std::size_t done, std::size_t failed, const Job &last, const Result &r) {
    if (tty_) {
      const int width = 30;
      int filled = total_ ? static_cast<int>(width * done / total_) : width;
      std::string bar(static_cast<std::size_t>(filled), '#');
      bar += std::string(static_cast<std::size_t>(width - filled), '.');
      std::fprintf(stderr, "\r[%s] %zu/%zu files, %zu failed", bar.c_str(), done, total_, failed);
      std::fflush(stderr);
    } else {
      std::fprintf(stderr, "[%zu/%zu] %s %s%s%s\n", done, total_, r.ok ? "ok    " : "FAILED", last.rel.c_str(),
                   r.ok ? "" : ": ", r.ok ? "" : r.error.c_str());
    }
  }
  void finish() {
    if (tty_) std::fputc('\n', stderr);
  }

 private:
  std::size_t total_;
  bool tty_;
};

int cmd_batch(std::vector<std::string> args) {
  int part = 2;
  long jobs_n = sysconf(_SC_NPROCESSORS_ONLN);
  if (jobs_n < 1) jobs_n = 1;
  std::string log_path;
  std::vector<std::string> pos;
  for (std::size_t i = 0; i < args.size(); i++) {
    const std::string &a = args[i];
    auto value = [&](const char *name) -> std::string {
      std::string n = name;
      if (a == n) return i + 1 < args.size() ? args[++i] : std::string();
      return a.substr(n.size() + 1);
    };
    if (is_help(a.c_str())) {
      std::fputs(k_batch_help, stdout);
      return 0;
    }
    if (a == "--part" || a.rfind("--part=", 0) == 0) {
      if (!parse_part(value("--part"), &part)) return usage_error("--part takes 1 or 2", k_batch_help);
    } else if (a == "--jobs" || a.rfind("--jobs=", 0) == 0) {
      std::string v = value("--jobs");
      char *end = nullptr;
      jobs_n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || jobs_n < 1 || jobs_n > 256)
        return usage_error("--jobs takes a number from 1 to 256", k_batch_help);
    } else if (a == "--log" || a.rfind("--log=", 0) == 0) {
      log_path = value("--log");
      if (log_path.empty()) return usage_error("--log takes a file name", k_batch_help);
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error(("unknown option " + a).c_str(), k_batch_help);
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() != 2) return usage_error("batch takes INPUT_DIR and OUTPUT_DIR", k_batch_help);
  std::error_code ec;
  fs::path in_dir = pos[0], out_dir = pos[1];
  if (!fs::is_directory(in_dir, ec)) {
    std::fprintf(stderr, "zyk-pdfa: not a directory: %s\n", pos[0].c_str());
    return 1;
  }
  fs::create_directories(out_dir, ec);
  if (!fs::is_directory(out_dir, ec)) {
    std::fprintf(stderr, "zyk-pdfa: cannot create directory: %s\n", pos[1].c_str());
    return 1;
  }
  if (log_path.empty()) log_path = (out_dir / "zyk-pdfa-batch.jsonl").string();
  FILE *log = std::fopen(log_path.c_str(), "w");
  if (!log) {
    std::fprintf(stderr, "zyk-pdfa: cannot write log %s\n", log_path.c_str());
    return 1;
  }

  std::vector<Job> todo = find_pdfs(in_dir, out_dir);
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  Progress progress(todo.size());
  auto t0 = std::chrono::steady_clock::now();
  std::size_t next = 0, done = 0, failed = 0;
  long pages = 0;
  std::vector<Running> running;
  while ((next < todo.size() && !g_interrupted) || !running.empty()) {
    while (!g_interrupted && next < todo.size() && running.size() < static_cast<std::size_t>(jobs_n)) {
      int fds[2];
      if (pipe(fds) != 0) break;
      std::fflush(nullptr);
      pid_t pid = fork();
      if (pid == 0) {
        close(fds[0]);
        std::fclose(log);
        run_worker(todo[next], part, fds[1]);
      }
      close(fds[1]);
      if (pid < 0) {
        close(fds[0]);
        break;
      }
      running.push_back({todo[next], pid, fds[0], {}, std::chrono::steady_clock::now()});
      next++;
    }
    if (running.empty()) break;
    std::vector<pollfd> pfds;
    for (auto &r : running) pfds.push_back({r.fd, POLLIN, 0});
    int n = poll(pfds.data(), pfds.size(), 200);
    if (n < 0 && errno != EINTR) break;
    for (std::size_t k = running.size(); k-- > 0;) {
      if (!(pfds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Running &r = running[k];
      char buf[4096];
      ssize_t got = read(r.fd, buf, sizeof buf);
      if (got > 0) {
        r.data.append(buf, static_cast<std::size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      // End of the worker's report.
      close(r.fd);
      int st = 0;
      waitpid(r.pid, &st, 0);
      Result res;
      res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - r.start).count();
      if (r.data.rfind("ok ", 0) == 0) {
        res.ok = true;
        res.pages = std::atoi(r.data.c_str() + 3);
      } else if (r.data.rfind("fail ", 0) == 0) {
        res.error = r.data.substr(5);
      } else {
        res.error = WIFSIGNALED(st) ? "worker crashed (signal " + std::to_string(WTERMSIG(st)) + ")"
                                    : "worker ended without a result";
        std::error_code rm;
        fs::remove(r.job.output, rm);  // never leave an unfinished output
      }
      done++;
      if (res.ok)
        pages += res.pages;
      else
        failed++;
      std::fprintf(log,
                   "{\"input\": \"%s\", \"output\": \"%s\", \"status\": \"%s\", \"error\": \"%s\", \"pages\": %d, "
                   "\"seconds\": %.3f}\n",
                   json_escape(r.job.input).c_str(), json_escape(r.job.output).c_str(), res.ok ? "ok" : "failed",
                   json_escape(res.error).c_str(), res.pages, res.seconds);
      std::fflush(log);
      progress.update(done, failed, r.job, res);
      running.erase(running.begin() + static_cast<long>(k));
    }
  }
  progress.finish();
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::size_t skipped = todo.size() - done;
  if (skipped) {
    for (std::size_t k = next; k < todo.size(); k++)
      std::fprintf(log, "{\"input\": \"%s\", \"output\": \"%s\", \"status\": \"skipped\", \"error\": \"interrupted\", "
                        "\"pages\": 0, \"seconds\": 0}\n",
                   json_escape(todo[k].input).c_str(), json_escape(todo[k].output).c_str());
  }
  std::fclose(log);
  std::fprintf(stderr, "%s%zu converted, %zu failed%s, %ld pages in %.1f s (%.1f pages/s); log: %s\n",
               g_interrupted ? "interrupted: " : "", done - failed, failed,
               skipped ? (", " + std::to_string(skipped) + " not started").c_str() : "", pages, elapsed,
               elapsed > 0 ? pages / elapsed : 0.0, log_path.c_str());
  return (failed || skipped) ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage_error("missing command", k_usage);
  std::string cmd = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (is_help(cmd.c_str())) {
    std::fputs(k_usage, stdout);
    return 0;
  }
  if (cmd == "--version") {
    std::printf("zyk-pdfa %s\n", k_version);
    return 0;
  }
  pdfa_init();
  if (cmd == "convert") return cmd_convert(args);
  if (cmd == "check") return cmd_check(args);
  if (cmd == "report") return cmd_report(args);
  if (cmd == "batch") return cmd_batch(args);
  return usage_error(("unknown command " + cmd).c_str(), k_usage);
}
