// The file-safety rules around every output, and the reasons given when a
// file cannot be read or written.
//
// What the program may replace is decided here and nowhere else: an output
// path that does not exist or holds a regular file, never a symbolic link,
// folder, FIFO, socket or device, and never the input itself unless the
// user says so. The check runs before the conversion (so that a doomed run
// fails at once) and again just before the rename that commits it.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace zyk_cli {

namespace {

std::string parent_of(const std::string &path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool write_all(int fd, const char *p, std::size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

void Staging::remove() {
  if (dir.empty()) return;
  if (DIR *d = opendir(dir.c_str())) {
    while (struct dirent *e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      unlink((dir + "/" + e->d_name).c_str());
    }
    closedir(d);
  }
  rmdir(dir.c_str());
  dir.clear();
}

bool make_staging(const std::string &parent, Staging *st, std::string *err) {
  std::string tmpl = parent + "/.zyk-pdfa-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    *err = errno_text(errno);
    return false;
  }
  st->dir = tmpl;
  return true;
}

bool make_private_dir(Staging *st, std::string *err) {
  const char *t = getenv("TMPDIR");
  std::string base = t && *t ? t : "/tmp";
  std::string tmpl = base + "/zyk-pdfa-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    *err = "cannot create a temporary folder in " + base + ": " + errno_text(errno);
    return false;
  }
  st->dir = tmpl;
  return true;
}

bool check_output_path(const std::string &out, const struct stat *in, bool replace_input, std::string *err) {
  struct stat st {};
  if (lstat(out.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *err = "cannot write " + out + ": it is a folder";
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      *err = "refusing to replace " + out + ": it is " + kind_words(st.st_mode) + ", not a regular file";
      return false;
    }
    if (in && st.st_dev == in->st_dev && st.st_ino == in->st_ino && !replace_input) {
      *err = "refusing to replace " + out + ": it is the input file itself (use --replace-input to allow it)";
      return false;
    }
    return true;
  }
  int e = errno;
  if (e != ENOENT) {
    *err = "cannot write " + out + ": " + errno_text(e);
    return false;
  }
  std::string dir = parent_of(out);
  struct stat ds {};
  if (stat(dir.c_str(), &ds) != 0) {
    e = errno;
    *err = "cannot write " + out + ": " + (e == ENOENT ? "folder " + dir + " does not exist" : errno_text(e));
    return false;
  }
  if (!S_ISDIR(ds.st_mode)) {
    *err = "cannot write " + out + ": " + dir + " is not a folder";
    return false;
  }
  if (access(dir.c_str(), W_OK | X_OK) != 0) {
    *err = "cannot write " + out + ": " + errno_text(errno) + " (folder " + dir + ")";
    return false;
  }
  return true;
}

bool commit_output(const Staging &st, const std::string &out, const struct stat *in, bool replace_input,
                   std::string *err) {
  if (!check_output_path(out, in, replace_input, err)) return false;
  if (rename(st.file().c_str(), out.c_str()) != 0) {
    *err = "cannot write " + out + ": " + errno_text(errno);
    return false;
  }
  return true;
}

bool copy_to_stdout(const std::string &path, std::string *err) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *err = "cannot read the finished conversion: " + errno_text(errno);
    return false;
  }
  char buf[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *err = "cannot read the finished conversion: " + errno_text(errno);
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!write_all(STDOUT_FILENO, buf, static_cast<std::size_t>(n))) {
      *err = "cannot write standard output: " + errno_text(errno);
      ok = false;
      break;
    }
  }
  close(fd);
  return ok;
}

bool open_input(const std::string &given, Input *in, std::string *err) {
  in->given = given;
  int fd = -1;
  if (given == "-") {
    fd = STDIN_FILENO;
    if (fstat(fd, &in->st) != 0) {
      *err = "cannot open standard input: " + errno_text(errno);
      return false;
    }
  } else {
    if (stat(given.c_str(), &in->st) != 0) {
      *err = "cannot open " + given + ": " + errno_text(errno);
      return false;
    }
    if (S_ISDIR(in->st.st_mode)) {
      *err = "cannot open " + given + ": it is a folder, not a file";
      return false;
    }
    if (S_ISREG(in->st.st_mode)) {
      if (in->st.st_size > k_max_input) {
        *err = "cannot open " + given + ": it has " + std::to_string(in->st.st_size) +
               " bytes; files of 2 GiB or more are not supported";
        return false;
      }
      in->path = given;
      return true;
    }
    // A pipe, socket or device: read what it delivers into a private copy.
    fd = open(given.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *err = "cannot open " + given + ": " + errno_text(errno);
      return false;
    }
  }
  std::string name = given == "-" ? "standard input" : given;
  if (isatty(fd)) {
    *err = "cannot read " + name + ": it is a terminal (pipe a PDF into it)";
    if (fd != STDIN_FILENO) close(fd);
    return false;
  }
  if (!make_private_dir(&in->copy, err)) {
    if (fd != STDIN_FILENO) close(fd);
    return false;
  }
  in->path = in->copy.dir + "/in.pdf";
  int out = open(in->path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool ok = out >= 0;
  if (!ok) *err = "cannot copy " + name + ": " + errno_text(errno);
  long long total = 0;
  char buf[1 << 16];
  while (ok) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) {
      if (g_interrupts) {
        *err = "interrupted while reading " + name;
        ok = false;
      }
      continue;
    }
    if (n < 0) {
      *err = "cannot read " + name + ": " + errno_text(errno);
      ok = false;
    } else if (n == 0) {
      break;
    } else if ((total += n) > k_max_input) {
      *err = "cannot read " + name + ": more than 2 GiB; files of 2 GiB or more are not supported";
      ok = false;
    } else if (!write_all(out, buf, static_cast<std::size_t>(n))) {
      *err = "cannot copy " + name + " to " + in->path + ": " + errno_text(errno);
      ok = false;
    }
  }
  if (out >= 0 && close(out) != 0 && ok) {
    *err = "cannot copy " + name + " to " + in->path + ": " + errno_text(errno);
    ok = false;
  }
  if (fd != STDIN_FILENO) close(fd);
  if (ok && stat(in->path.c_str(), &in->st) != 0) ok = false;
  return ok;
}

std::string explain_input_failure(const std::string &msg, const std::string &input) {
  // Only open and read failures have an operating-system reason to add;
  // the library's other messages say what is wrong with the content.
  if (msg.rfind("cannot open ", 0) != 0 && msg.rfind("read error on ", 0) != 0 &&
      msg.rfind("empty input file", 0) != 0)
    return msg;
  struct stat st {};
  if (stat(input.c_str(), &st) != 0) return msg + ": " + errno_text(errno);
  if (S_ISDIR(st.st_mode)) return msg + ": it is a folder, not a file";
  if (!S_ISREG(st.st_mode)) return msg + ": it is " + kind_words(st.st_mode);
  if (st.st_size > k_max_input)
    return msg + ": it has " + std::to_string(st.st_size) + " bytes; files of 2 GiB or more are not supported";
  if (st.st_size == 0) return msg;
  int fd = open(input.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return msg + ": " + errno_text(errno);
  close(fd);
  return msg;
}

}  // namespace zyk_cli
