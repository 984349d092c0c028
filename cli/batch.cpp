// zyk-pdfa batch: converts every PDF under INPUT_DIR into the same relative
// path under OUTPUT_DIR, several at a time in worker processes, and accounts
// for every entry it finds in a JSON Lines log.
//
// The walk reads names as bytes with opendir/lstat. A symbolic link is
// followed for reading only: its target is converted to the link's own
// mirrored path under OUTPUT_DIR. Inside OUTPUT_DIR nothing is followed:
// a link or non-folder where a mirrored folder belongs fails that file.
// The log format is read by other tools (a distributed batch writes the
// same records); the README describes every field and status, and new
// fields may be added but the existing ones keep their meaning.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cli.h"

namespace fs = std::filesystem;

namespace zyk_cli {

namespace {

const char *k_batch_help =
    "usage: zyk-pdfa batch [OPTIONS] INPUT_DIR OUTPUT_DIR\n"
    "\n"
    "Converts every PDF (by name: *.pdf, any case) under INPUT_DIR into the same\n"
    "relative path under OUTPUT_DIR, N conversions at a time. Shows progress\n"
    "(percent, rate, time left), lists the failures at the end, prints a summary,\n"
    "and appends a JSON Lines log (default OUTPUT_DIR/zyk-pdfa-batch.jsonl): one\n"
    "header record per run, one record for every entry found under INPUT_DIR\n"
    "(converted or not, with the reason), and one closing record.\n"
    "\n"
    "A symbolic link under INPUT_DIR is converted to the link's own mirrored\n"
    "path; nothing is ever written through a link. An existing output that is\n"
    "not a regular file is refused and left alone; an output is written beside\n"
    "its path and renamed over it only when complete.\n"
    "\n"
    "options:\n"
    "  --part 1|2         the PDF/A part to declare (default 2)\n"
    "  -j, --jobs N       conversions at a time, 1 to 256 (default: processors)\n"
    "  --log FILE         the log file (appended)\n"
    "  --skip-existing    leave outputs that exist and are newer than their input\n"
    "                     (resume an interrupted batch)\n"
    "  --allow-nested     allow OUTPUT_DIR inside INPUT_DIR (it is left out of the walk)\n"
    "  --replace-input    allow an output that is its input itself (a hard link)\n"
    "  -q, --quiet        no progress and no summary; failures are still listed\n"
    "  -v, --verbose      a line for every file, also on a terminal\n"
    "  -h, --help         show this help\n"
    "  --                 end of options\n"
    "\n"
    "Ctrl-C stops starting conversions and lets the running ones finish (it\n"
    "says so); a second Ctrl-C stops them at once and removes their temporary\n"
    "files. Finished outputs stay; the log names every file not converted.\n"
    "\n"
    "exit status: 0 every PDF converted (or skipped), 1 some file failed,\n"
    "2 usage error, 3 some input refused (encrypted or not a PDF) and nothing\n"
    "else failed, 130 interrupted\n";

// One entry found under INPUT_DIR, and what became of it.
struct Entry {
  std::string input;   // INPUT_DIR/REL as walked (a link stays the link)
  std::string rel;     // the path relative to INPUT_DIR
  std::string output;  // OUTPUT_DIR/REL for a PDF, "" for other entries
  std::string status;  // "" while still to convert; then a log status
  std::string error;   // the reason for every status but "ok"
  struct stat st {};   // the input file (links followed)
  int pages = 0;
  double seconds = 0;
};

bool ends_with_pdf(const std::string &name) {
  if (name.size() < 5) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".pdf";
}

bool same_file(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

std::string link_target(const std::string &path) {
  char buf[4096];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  return n < 0 ? std::string("?") : std::string(buf, static_cast<std::size_t>(n));
}

class Walker {
 public:
  Walker(std::string out_root, const struct stat &out_st, std::vector<Entry> *entries)
      : out_root_(std::move(out_root)), out_st_(out_st), entries_(entries) {}

  void walk(const std::string &dir, const std::string &rel, const struct stat &dir_st) {
    ancestors_.push_back(dir_st);
    DIR *d = opendir(dir.c_str());
    if (!d) {
      add(dir, rel, "failed", "cannot read folder: " + errno_text(errno));
      ancestors_.pop_back();
      return;
    }
    std::vector<std::string> names;
    errno = 0;
    while (struct dirent *e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
      errno = 0;
    }
    if (errno) add(dir, rel, "failed", "cannot read all of the folder: " + errno_text(errno));
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) visit(dir + "/" + name, rel.empty() ? name : rel + "/" + name, name);
    ancestors_.pop_back();
  }

 private:
  void add(const std::string &input, const std::string &rel, const char *status, const std::string &error) {
    Entry e;
    e.input = input;
    e.rel = rel;
    e.status = status;
    e.error = error;
    entries_->push_back(std::move(e));
  }

  void visit(const std::string &path, const std::string &rel, const std::string &name) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
      add(path, rel, "failed", "cannot examine: " + errno_text(errno));
      return;
    }
    if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) != 0) {
      int e = errno;
      if (e == ELOOP)
        add(path, rel, "skipped", "symlink loop: " + errno_text(e));
      else if (e == ENOENT)
        add(path, rel, "failed", "broken symbolic link to " + link_target(path));
      else
        add(path, rel, "failed", "cannot follow symbolic link to " + link_target(path) + ": " + errno_text(e));
      return;
    }
    if (S_ISDIR(st.st_mode)) {
      if (same_file(st, out_st_)) {
        add(path, rel, "skipped", "the output folder (left out of the walk)");
        return;
      }
      for (const struct stat &a : ancestors_)
        if (same_file(a, st)) {
          add(path, rel, "skipped", "symlink loop: links to a folder that contains it");
          return;
        }
      walk(path, rel, st);
      return;
    }
    if (!S_ISREG(st.st_mode)) {
      add(path, rel, "ignored", "not a regular file: it is " + kind_words(st.st_mode));
      return;
    }
    if (!ends_with_pdf(name)) {
      add(path, rel, "ignored", "not a PDF by name");
      return;
    }
    Entry e;
    e.input = path;
    e.rel = rel;
    e.output = out_root_ + "/" + rel;
    e.st = st;
    entries_->push_back(std::move(e));
  }

  std::string out_root_;
  struct stat out_st_;
  std::vector<Entry> *entries_;
  std::vector<struct stat> ancestors_;
};

// Creates the folders of `rel_dir` under `root`, one at a time, never
// following a symbolic link (a link there could lead anywhere).
bool make_mirrored_folders(const std::string &root, const std::string &rel_dir, const std::string &out,
                           std::string *err) {
  std::string path = root;
  std::size_t start = 0;
  while (start < rel_dir.size()) {
    std::size_t slash = rel_dir.find('/', start);
    if (slash == std::string::npos) slash = rel_dir.size();
    path += "/" + rel_dir.substr(start, slash - start);
    start = slash + 1;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT || (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)) {
        *err = "cannot write " + out + ": cannot create folder " + path + ": " + errno_text(errno);
        return false;
      }
      if (lstat(path.c_str(), &st) != 0) {
        *err = "cannot write " + out + ": cannot create folder " + path + ": " + errno_text(errno);
        return false;
      }
    }
    if (S_ISLNK(st.st_mode)) {
      *err = "refusing to write " + out + ": " + path + " is a symbolic link (links inside the output folder are not followed)";
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      *err = "cannot write " + out + ": " + path + " is " + kind_words(st.st_mode) + ", not a folder";
      return false;
    }
  }
  return true;
}

bool newer(const struct stat &a, const struct stat &b) {
  if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) return a.st_mtim.tv_sec > b.st_mtim.tv_sec;
  return a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

std::string duration_text(double s) {
  long t = static_cast<long>(s + 0.5);
  char b[32];
  if (t >= 3600)
    std::snprintf(b, sizeof b, "%ld:%02ld:%02ld", t / 3600, t / 60 % 60, t % 60);
  else
    std::snprintf(b, sizeof b, "%ld:%02ld", t / 60, t % 60);
  return b;
}

class Progress {
 public:
  Progress(std::size_t total, bool quiet, bool verbose)
      : total_(total), quiet_(quiet), verbose_(verbose), tty_(isatty(STDERR_FILENO)),
        start_(std::chrono::steady_clock::now()) {}

  void update(const Entry &e, std::size_t done, std::size_t failed) {
    bool bad = e.status == "failed" || e.status == "refused";
    if (!quiet_ && (!tty_ || verbose_ || bad)) {
      clear();
      const char *word = e.status == "ok" ? "ok     " : e.status == "skipped" ? "skipped" : bad ? (e.status == "failed" ? "FAILED " : "REFUSED") : "       ";
      std::fprintf(stderr, "[%3d%% %zu/%zu] %s %s%s%s\n", percent(done), done, total_, word, shown(e.rel).c_str(),
                   e.status == "ok" ? "" : ": ", e.status == "ok" ? "" : shown(e.error).c_str());
    }
    if (!quiet_ && tty_) draw(done, failed);
  }

  // A message that must not be overdrawn by the bar.
  void say(const std::string &msg) {
    clear();
    error_line(msg);
  }

  void finish() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

 private:
  int percent(std::size_t done) const { return total_ ? static_cast<int>(100 * done / total_) : 100; }

  void clear() {
    if (drawn_) std::fputs("\r\033[K", stderr);
  }

  void draw(std::size_t done, std::size_t failed) {
    const std::size_t width = 24;
    std::size_t filled = total_ ? width * done / total_ : width;
    std::string bar(filled, '#');
    bar += std::string(width - filled, '.');
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    std::string eta =
        rate > 0 && done < total_ ? "ETA " + duration_text(static_cast<double>(total_ - done) / rate) : "";
    std::fprintf(stderr, "\r\033[K[%s] %3d%% %zu/%zu files, %zu failed, %.1f files/s %s", bar.c_str(), percent(done),
                 done, total_, failed, rate, eta.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }

  std::size_t total_;
  bool quiet_, verbose_, tty_, drawn_ = false;
  std::chrono::steady_clock::time_point start_;
};

void log_record(FILE *log, const Entry &e) {
  std::fprintf(log,
               "{\"input\": \"%s\", \"output\": \"%s\", \"status\": \"%s\", \"error\": \"%s\", \"pages\": %d, "
               "\"seconds\": %.3f}\n",
               json_escape(e.input).c_str(), json_escape(e.output).c_str(), e.status.c_str(),
               json_escape(e.error).c_str(), e.pages, e.seconds);
  std::fflush(log);
}

// Opens the log for appending; refuses anything but a regular file.
FILE *open_log(const std::string &path, std::string *err) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    *err = "cannot write log " + path + ": it is " + kind_words(st.st_mode) + ", not a regular file";
    return nullptr;
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    *err = "cannot write log " + path + ": " + errno_text(errno);
    return nullptr;
  }
  FILE *f = fdopen(fd, "a");
  if (!f) {
    *err = "cannot write log " + path + ": " + errno_text(errno);
    close(fd);
  }
  return f;
}

// p without a trailing separator, so that path comparisons see no empty
// last element.
fs::path trimmed(fs::path p) {
  p = p.lexically_normal();
  if (p.filename().empty() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
  return p;
}

bool inside(const fs::path &a, const fs::path &b) {  // a is b or below it
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai)
    if (ai == a.end() || *ai != *bi) return false;
  return true;
}

struct Options {
  int part = 2;
  long jobs = 1;
  std::string log_path;
  bool skip_existing = false, allow_nested = false, replace_input = false, quiet = false, verbose = false;
};

class Batch {
 public:
  Batch(const Options &o, std::vector<Entry> entries, FILE *log, std::string out_root)
      : o_(o), entries_(std::move(entries)), log_(log), out_root_(std::move(out_root)) {
    for (std::size_t i = 0; i < entries_.size(); i++) {
      if (entries_[i].status.empty()) queue_.push_back(i);
      else finish(entries_[i], false);
    }
  }

  // Runs the conversions; returns the exit status.
  int run();

 private:
  // What can be decided without a worker: too large, up to date, an output
  // path that must not be replaced, no place for the staging folder.
  bool prepare(Entry &e, Staging *st) {
    if (e.st.st_size > k_max_input) {
      e.status = "failed";
      e.error = "cannot open " + e.input + ": it has " + std::to_string(e.st.st_size) +
                " bytes; files of 2 GiB or more are not supported";
      return false;
    }
    struct stat os {};
    if (o_.skip_existing && lstat(e.output.c_str(), &os) == 0 && S_ISREG(os.st_mode) && newer(os, e.st)) {
      e.status = "skipped";
      e.error = "output is newer than the input (--skip-existing)";
      return false;
    }
    std::string err;
    std::size_t slash = e.rel.find_last_of('/');
    if ((slash != std::string::npos && !make_mirrored_folders(out_root_, e.rel.substr(0, slash), e.output, &err)) ||
        !check_output_path(e.output, &e.st, o_.replace_input, &err)) {
      e.status = "failed";
      e.error = err;
      return false;
    }
    std::string parent = slash == std::string::npos ? out_root_ : out_root_ + "/" + e.rel.substr(0, slash);
    if (!make_staging(parent, st, &err)) {
      e.status = "failed";
      e.error = "cannot write " + e.output + ": " + err;
      return false;
    }
    return true;
  }

  // Logs and counts an entry; `counted` entries move the progress (the
  // PDFs to convert), the others only print a failure.
  void finish(Entry &e, bool counted) {
    log_record(log_, e);
    if (e.status == "ok") {
      ok_++;
      pages_ += e.pages;
    } else if (e.status == "failed") {
      failed_++;
    } else if (e.status == "refused") {
      refused_++;
    } else if (e.status == "skipped") {
      skipped_++;
    } else {
      ignored_++;
    }
    if (e.status == "failed" || e.status == "refused") problems_.push_back(&e);
    if (counted) {
      done_++;
      if (progress_) progress_->update(e, done_, failed_ + refused_);
    } else if (e.status == "failed" && !o_.quiet) {
      error_line(shown(e.rel.empty() ? e.input : e.rel) + ": " + shown(e.error));
    }
  }

  void complete(Worker &w) {
    Entry &e = entries_[w.job];
    WorkerResult r = reap_worker(&w);
    e.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - w.start).count();
    std::string err;
    if (r.ok && commit_output(w.staging, e.output, &e.st, o_.replace_input, &err)) {
      e.status = "ok";
      e.pages = r.pages;
    } else if (r.ok) {
      e.status = "failed";
      e.error = err;
    } else {
      e.error = replace_all(explain_input_failure(r.error, e.input), w.staging.file(), e.output);
      e.status = is_refusal(e.error) ? "refused" : "failed";
    }
    w.staging.remove();
    finish(e, true);
  }

  const Options &o_;
  std::vector<Entry> entries_;
  FILE *log_;
  std::string out_root_;
  std::vector<std::size_t> queue_;
  std::vector<const Entry *> problems_;
  Progress *progress_ = nullptr;
  std::size_t done_ = 0, ok_ = 0, failed_ = 0, refused_ = 0, skipped_ = 0, ignored_ = 0, not_started_ = 0;
  long pages_ = 0;

 public:
  std::size_t to_convert() const { return queue_.size(); }
  void summary(double elapsed, bool interrupted, const std::string &log_path, int status);
};

int Batch::run() {
  Progress progress(queue_.size(), o_.quiet, o_.verbose);
  progress_ = &progress;
  std::vector<Worker> running;
  std::size_t next = 0;
  bool announced = false, stopped = false;
  for (;;) {
    if (g_interrupts >= 2 && !running.empty()) {
      for (Worker &w : running) {
        kill_worker(&w);
        w.staging.remove();
        Entry &e = entries_[w.job];
        e.status = "skipped";
        e.error = "interrupted while converting: stopped, nothing written";
        e.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - w.start).count();
        finish(e, true);
      }
      progress.say("stopped " + std::to_string(running.size()) + " running conversion" +
                   (running.size() == 1 ? "" : "s") + "; their temporary files are removed");
      running.clear();
      stopped = true;
    }
    if (g_interrupts == 1 && !announced) {
      announced = true;
      progress.say("interrupt: starting no more conversions; waiting for the " + std::to_string(running.size()) +
                   " running to finish (Ctrl-C again stops them at once)");
    }
    while (!g_interrupts && next < queue_.size() && running.size() < static_cast<std::size_t>(o_.jobs)) {
      Entry &e = entries_[queue_[next]];
      Worker w;
      w.job = queue_[next++];
      if (!prepare(e, &w.staging)) {
        finish(e, true);
        continue;
      }
      std::string err;
      if (!spawn_worker(e.input, o_.part, &w, &err)) {
        w.staging.remove();
        e.status = "failed";
        e.error = err;
        finish(e, true);
        continue;
      }
      running.push_back(w);
    }
    if (running.empty()) break;
    std::vector<pollfd> pfds;
    for (const Worker &w : running) pfds.push_back({w.fd, POLLIN, 0});
    if (poll(pfds.data(), pfds.size(), 200) <= 0) continue;
    for (std::size_t k = running.size(); k-- > 0;) {
      if (!(pfds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      if (read_worker(&running[k])) continue;
      complete(running[k]);
      running.erase(running.begin() + static_cast<long>(k));
    }
  }
  for (; next < queue_.size(); next++) {
    Entry &e = entries_[queue_[next]];
    e.status = "skipped";
    e.error = "interrupted before it started";
    not_started_++;
    finish(e, false);
  }
  progress.finish();
  progress_ = nullptr;
  (void)stopped;
  if (g_interrupts) return k_exit_interrupted;
  if (failed_) return k_exit_failed;
  if (refused_) return k_exit_refused;
  return k_exit_ok;
}

void Batch::summary(double elapsed, bool interrupted, const std::string &log_path, int status) {
  if (!problems_.empty()) {
    std::fprintf(stderr, "%zu file%s not converted:\n", problems_.size(), problems_.size() == 1 ? "" : "s");
    std::size_t shown_n = 0;
    for (const Entry *e : problems_) {
      if (++shown_n > 50) {
        std::fprintf(stderr, "  ... and %zu more (see the log)\n", problems_.size() - 50);
        break;
      }
      std::fprintf(stderr, "  %s: %s\n", shown(e->rel.empty() ? e->input : e->rel).c_str(), shown(e->error).c_str());
    }
  }
  std::fprintf(log_,
               "{\"run\": \"end\", \"time\": \"%s\", \"seconds\": %.3f, \"ok\": %zu, \"failed\": %zu, \"refused\": %zu, "
               "\"skipped\": %zu, \"ignored\": %zu, \"pages\": %ld, \"interrupted\": %s, \"exit_status\": %d}\n",
               utc_now().c_str(), elapsed, ok_, failed_, refused_, skipped_, ignored_, pages_,
               interrupted ? "true" : "false", status);
  std::fflush(log_);
  if (o_.quiet) return;
  std::string not_started = not_started_ ? " (" + std::to_string(not_started_) + " not started)" : "";
  std::fprintf(stderr,
               "%s%zu converted, %zu failed, %zu refused, %zu skipped%s, %zu ignored; %ld pages in %.1f s "
               "(%.1f pages/s); log: %s\n",
               interrupted ? "interrupted: " : "", ok_, failed_, refused_, skipped_, not_started.c_str(), ignored_,
               pages_, elapsed, elapsed > 0 ? static_cast<double>(pages_) / elapsed : 0.0, shown(log_path).c_str());
}

}  // namespace

int cmd_batch(const std::vector<std::string> &args, const std::vector<std::string> &all_args) {
  ParsedArgs p = parse_options(args, {{0, "part", true},
                                      {'j', "jobs", true},
                                      {0, "log", true},
                                      {0, "skip-existing", false},
                                      {0, "allow-nested", false},
                                      {0, "replace-input", false},
                                      {'q', "quiet", false},
                                      {'v', "verbose", false},
                                      {'h', "help", false}});
  if (!p.error.empty()) return usage_error(p.error, "batch");
  Options o;
  o.jobs = sysconf(_SC_NPROCESSORS_ONLN);
  if (o.jobs < 1) o.jobs = 1;
  for (const auto &[name, value] : p.options) {
    if (name == "help") {
      std::fputs(k_batch_help, stdout);
      return k_exit_ok;
    }
    if (name == "part") {
      if (value != "1" && value != "2") return usage_error("--part takes 1 or 2", "batch");
      o.part = value[0] - '0';
    } else if (name == "jobs") {
      char *end = nullptr;
      o.jobs = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || o.jobs < 1 || o.jobs > 256)
        return usage_error("--jobs takes a number from 1 to 256", "batch");
    } else if (name == "log") {
      if (value.empty()) return usage_error("--log takes a file name", "batch");
      o.log_path = value;
    } else if (name == "skip-existing") {
      o.skip_existing = true;
    } else if (name == "allow-nested") {
      o.allow_nested = true;
    } else if (name == "replace-input") {
      o.replace_input = true;
    } else if (name == "quiet") {
      o.quiet = true;
      o.verbose = false;
    } else if (name == "verbose") {
      o.verbose = true;
      o.quiet = false;
    }
  }
  if (p.positional.size() != 2) return usage_error("batch takes INPUT_DIR and OUTPUT_DIR", "batch");
  std::string in_dir = p.positional[0], out_dir = p.positional[1];
  while (in_dir.size() > 1 && in_dir.back() == '/') in_dir.pop_back();
  while (out_dir.size() > 1 && out_dir.back() == '/') out_dir.pop_back();

  struct stat in_st {};
  if (stat(in_dir.c_str(), &in_st) != 0) {
    error_line("cannot read folder " + in_dir + ": " + errno_text(errno));
    return k_exit_failed;
  }
  if (!S_ISDIR(in_st.st_mode)) {
    error_line("not a folder: " + in_dir + " (it is " + kind_words(in_st.st_mode) + ")");
    return k_exit_failed;
  }
  // Overlapping folders: outputs would replace inputs, or a nested output
  // folder would be converted again on every run.
  std::error_code ec;
  fs::path cin = trimmed(fs::canonical(in_dir, ec));
  fs::path cout = trimmed(fs::weakly_canonical(fs::absolute(out_dir, ec), ec));
  if (inside(cin, cout) && inside(cout, cin))
    return usage_error("INPUT_DIR and OUTPUT_DIR are the same folder: every input would be replaced", "batch");
  if (inside(cin, cout))
    return usage_error("INPUT_DIR is inside OUTPUT_DIR: outputs could replace inputs; choose another OUTPUT_DIR",
                       "batch");
  if (inside(cout, cin) && !o.allow_nested)
    return usage_error("OUTPUT_DIR is inside INPUT_DIR; --allow-nested converts with it left out of the walk",
                       "batch");
  fs::create_directories(out_dir, ec);
  struct stat out_st {};
  if (stat(out_dir.c_str(), &out_st) != 0 || !S_ISDIR(out_st.st_mode)) {
    error_line("cannot create folder " + out_dir + ": " +
               (ec ? ec.message() : errno ? errno_text(errno) : kind_words(out_st.st_mode)));
    return k_exit_failed;
  }
  if (same_file(in_st, out_st))
    return usage_error("INPUT_DIR and OUTPUT_DIR are the same folder: every input would be replaced", "batch");

  if (o.log_path.empty()) o.log_path = out_dir + "/zyk-pdfa-batch.jsonl";
  std::string err;
  FILE *log = open_log(o.log_path, &err);
  if (!log) {
    error_line(err);
    return k_exit_failed;
  }

  std::string arguments;
  for (const std::string &a : all_args) arguments += (arguments.empty() ? "\"" : ", \"") + json_escape(a) + "\"";
  std::fprintf(log,
               "{\"run\": \"start\", \"time\": \"%s\", \"version\": \"%s\", \"arguments\": [%s], \"input_dir\": "
               "\"%s\", \"output_dir\": \"%s\", \"part\": %d, \"jobs\": %ld, \"skip_existing\": %s}\n",
               utc_now().c_str(), k_version, arguments.c_str(), json_escape(in_dir).c_str(),
               json_escape(out_dir).c_str(), o.part, o.jobs, o.skip_existing ? "true" : "false");
  std::fflush(log);

  auto t0 = std::chrono::steady_clock::now();
  std::vector<Entry> entries;
  Walker(out_dir, out_st, &entries).walk(in_dir, "", in_st);
  Batch batch(o, std::move(entries), log, out_dir);
  int status = batch.run();
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  batch.summary(elapsed, status == k_exit_interrupted, o.log_path, status);
  std::fclose(log);
  return status;
}

}  // namespace zyk_cli
