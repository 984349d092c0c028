// Messages, option parsing and interrupt handling shared by the commands.
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstring>

#include "cli.h"
#include "zyk_version.h"

namespace zyk_cli {

const char *const k_version = ZYK_VERSION;

int worse(int a, int b) {
  auto rank = [](int s) {
    switch (s) {
      case k_exit_interrupted: return 4;
      case k_exit_usage: return 3;
      case k_exit_failed: return 2;
      case k_exit_refused: return 1;
      default: return 0;
    }
  };
  return rank(a) >= rank(b) ? a : b;
}

void error_line(const std::string &msg) { std::fprintf(stderr, "zyk-pdfa: %s\n", msg.c_str()); }

int usage_error(const std::string &msg, const std::string &command) {
  std::string help = command.empty() ? "zyk-pdfa --help" : "zyk-pdfa " + command + " --help";
  std::fprintf(stderr, "zyk-pdfa: %s (see '%s')\n", msg.c_str(), help.c_str());
  return k_exit_usage;
}

std::string errno_text(int e) { return std::strerror(e); }

std::string kind_words(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISREG(mode)) return "a regular file";
  return "not a regular file";
}

// Strict UTF-8: shortest forms only, no encoded surrogates, nothing above
// U+10FFFF. Returns the length of the valid sequence at s[i], or 0.
static std::size_t utf8_length(const std::string &s, std::size_t i) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xbf;
  if (c >= 0xc2 && c <= 0xdf) {
    n = 2;
  } else if (c >= 0xe0 && c <= 0xef) {
    n = 3;
    if (c == 0xe0) lo = 0xa0;
    if (c == 0xed) hi = 0x9f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    n = 4;
    if (c == 0xf0) lo = 0x90;
    if (c == 0xf4) hi = 0x8f;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; k++)
    if (b(i + k) < 0x80 || b(i + k) > 0xbf) return 0;
  return n;
}

std::string json_escape(const std::string &s) {
  std::string o;
  char u[8];
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      std::size_t n = utf8_length(s, i);
      if (n) {
        o.append(s, i, n);
        i += n;
      } else {
        std::snprintf(u, sizeof u, "\\udc%02x", c);
        o += u;
        i++;
      }
      continue;
    }
    switch (c) {
      case '"': o += "\\\""; break;
      case '\\': o += "\\\\"; break;
      case '\n': o += "\\n"; break;
      case '\r': o += "\\r"; break;
      case '\t': o += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          std::snprintf(u, sizeof u, "\\u%04x", c);
          o += u;
        } else {
          o += static_cast<char>(c);
        }
    }
    i++;
  }
  return o;
}

std::string shown(const std::string &s) {
  std::string o = s;
  for (char &c : o)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return o;
}

std::string replace_all(std::string s, const std::string &from, const std::string &to) {
  if (from.empty()) return s;
  for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) s.replace(p, from.size(), to);
  return s;
}

std::string utc_now() {
  time_t t = time(nullptr);
  struct tm tm {};
  gmtime_r(&t, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return b;
}

bool is_refusal(const std::string &m) {
  return m.rfind("encrypted PDFs are not supported", 0) == 0 || m.rfind("no PDF objects found", 0) == 0;
}

// ---- options ----------------------------------------------------------------

ParsedArgs parse_options(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs) {
  ParsedArgs r;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); i++) {
    const std::string &a = args[i];
    if (options_done || a.size() < 2 || a[0] != '-') {
      r.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    if (a[1] == '-') {
      std::string name = a.substr(2), value;
      std::size_t eq = name.find('=');
      bool has_value = eq != std::string::npos;
      if (has_value) {
        value = name.substr(eq + 1);
        name.resize(eq);
      }
      const OptionSpec *spec = nullptr;
      for (const OptionSpec &s : specs)
        if (name == s.long_name) spec = &s;
      if (!spec) {
        r.error = "unknown option --" + name;
        return r;
      }
      if (spec->takes_value && !has_value) {
        if (i + 1 >= args.size()) {
          r.error = "--" + name + " needs a value";
          return r;
        }
        value = args[++i];
      } else if (!spec->takes_value && has_value) {
        r.error = "--" + name + " takes no value";
        return r;
      }
      r.options.emplace_back(spec->long_name, value);
      continue;
    }
    // One or more short options: "-qv", "-j4", "-j 4", "-ofile".
    for (std::size_t k = 1; k < a.size(); k++) {
      const OptionSpec *spec = nullptr;
      for (const OptionSpec &s : specs)
        if (s.short_name && s.short_name == a[k]) spec = &s;
      if (!spec) {
        r.error = "unknown option -" + std::string(1, a[k]);
        return r;
      }
      if (!spec->takes_value) {
        r.options.emplace_back(spec->long_name, "");
        continue;
      }
      std::string value = a.substr(k + 1);
      if (value.empty()) {
        if (i + 1 >= args.size()) {
          r.error = "-" + std::string(1, a[k]) + " needs a value";
          return r;
        }
        value = args[++i];
      }
      r.options.emplace_back(spec->long_name, value);
      break;
    }
  }
  return r;
}

// ---- signals ----------------------------------------------------------------

volatile sig_atomic_t g_interrupts = 0;

namespace {
void on_interrupt(int) {
  if (g_interrupts < 2) g_interrupts = g_interrupts + 1;
}
void on_terminate(int) { g_interrupts = 2; }
}  // namespace

void install_interrupt_handlers() {
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = on_interrupt;
  sigaction(SIGINT, &sa, nullptr);
  sa.sa_handler = on_terminate;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}

}  // namespace zyk_cli
