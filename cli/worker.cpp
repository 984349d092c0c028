// Worker processes: each runs one conversion into its staging folder and
// reports "ok PAGES" or "fail MESSAGE" through a pipe. A worker never
// touches the real output path; the parent commits or discards its work.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "zyk_out_pdfa.h"

namespace zyk_cli {

namespace {

// The page count of a finished output, read from its report.
int page_count(const std::string &path) {
  const char *r = pdfa_report(path.c_str());
  const char *k = std::strstr(r, "\"page_count\": ");
  return k ? std::atoi(k + 14) : 0;
}

// Why a write failed, from the errno the library's failed write left and
// the limits of this process.
std::string write_reason(int e) {
  if (e == EFBIG) {
    struct rlimit rl {};
    if (getrlimit(RLIMIT_FSIZE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
      return errno_text(e) + " (the file size limit is " + std::to_string(rl.rlim_cur) + " bytes, see ulimit -f)";
  }
  return e ? errno_text(e) : std::string();
}

[[noreturn]] void run_worker(const std::string &input, const std::string &output, int part, int fd) {
  // The parent alone decides when to stop; if it dies, stop too.
  signal(SIGINT, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  signal(SIGTERM, SIG_DFL);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  errno = 0;
  int ok = part == 1 ? pdfa_convert_1b(input.c_str(), output.c_str()) : pdfa_convert_2b(input.c_str(), output.c_str());
  int e = errno;
  std::string msg;
  if (ok == 1) {
    msg = "ok " + std::to_string(page_count(output)) + "\n";
  } else {
    msg = std::string("fail ") + pdfa_last_error();
    bool write_failure = msg.find("short write to ") == 5 || msg.find("close error on ") == 5 ||
                         msg.find("cannot write ") == 5;
    std::string why = write_failure ? write_reason(e) : std::string();
    if (!why.empty()) msg += ": " + why;
  }
  std::size_t off = 0;
  while (off < msg.size()) {
    ssize_t w = write(fd, msg.data() + off, msg.size() - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    off += static_cast<std::size_t>(w);
  }
  close(fd);
  _exit(0);
}

}  // namespace

bool spawn_worker(const std::string &input, int part, Worker *w, std::string *err) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *err = "cannot start a worker: " + errno_text(errno);
    return false;
  }
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    *err = "cannot start a worker: " + errno_text(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    close(fds[0]);
    run_worker(input, w->staging.file(), part, fds[1]);
  }
  close(fds[1]);
  w->pid = pid;
  w->fd = fds[0];
  w->data.clear();
  w->start = std::chrono::steady_clock::now();
  return true;
}

bool read_worker(Worker *w) {
  char buf[4096];
  for (;;) {
    ssize_t got = read(w->fd, buf, sizeof buf);
    if (got > 0) {
      w->data.append(buf, static_cast<std::size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) return true;
    return false;
  }
}

WorkerResult reap_worker(Worker *w) {
  if (w->fd >= 0) close(w->fd);
  w->fd = -1;
  int st = 0;
  while (waitpid(w->pid, &st, 0) < 0 && errno == EINTR) {
  }
  w->pid = -1;
  WorkerResult r;
  bool clean_exit = WIFEXITED(st) && WEXITSTATUS(st) == 0;
  if (clean_exit && w->data.rfind("ok ", 0) == 0) {
    r.ok = true;
    r.pages = std::atoi(w->data.c_str() + 3);
  } else if (clean_exit && w->data.rfind("fail ", 0) == 0) {
    r.error = w->data.substr(5);
  } else if (WIFSIGNALED(st)) {
    int sig = WTERMSIG(st);
    r.error = "the conversion stopped: worker killed by signal " + std::to_string(sig) + " (" +
              (strsignal(sig) ? strsignal(sig) : "unknown") + ")";
  } else {
    r.error = "the conversion stopped: worker ended without a result (status " +
              std::to_string(WIFEXITED(st) ? WEXITSTATUS(st) : -1) + ")";
  }
  return r;
}

void kill_worker(Worker *w) {
  if (w->pid > 0) kill(w->pid, SIGKILL);
  reap_worker(w);
}

}  // namespace zyk_cli
