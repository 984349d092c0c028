// The single-file commands: convert, check and report.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "cli.h"
#include "zyk_out_pdfa.h"

namespace zyk_cli {

namespace {

const char *k_exit_text =
    "exit status: 0 success, 1 failure, 2 usage error, 3 refused (encrypted or\n"
    "not a PDF), 130 interrupted\n";

const char *k_convert_help =
    "usage: zyk-pdfa convert [OPTIONS] INPUT OUTPUT\n"
    "       zyk-pdfa convert [OPTIONS] -o OUTPUT INPUT\n"
    "\n"
    "Converts INPUT into a file declaring PDF/A-2b (or PDF/A-1b with --part 1).\n"
    "INPUT \"-\" reads standard input; OUTPUT \"-\" writes standard output, only\n"
    "after the whole conversion has succeeded. The output is written beside\n"
    "OUTPUT and renamed over it when complete: on failure nothing is written,\n"
    "an existing OUTPUT stays as it was, and the reason goes to standard error.\n"
    "OUTPUT must be a regular file or not exist: a folder, symbolic link, FIFO\n"
    "or device at that path is refused and left alone.\n"
    "\n"
    "options:\n"
    "  --part 1|2          the PDF/A part to declare (default 2)\n"
    "  -o, --output FILE   the output file (instead of the second argument)\n"
    "  --replace-input     allow OUTPUT to be INPUT itself (same file)\n"
    "  -q, --quiet         print nothing but errors\n"
    "  -v, --verbose       say what was written\n"
    "  -h, --help          show this help\n"
    "  --                  end of options (for file names starting with -)\n"
    "\n";

const char *k_check_help =
    "usage: zyk-pdfa check [OPTIONS] FILE...\n"
    "\n"
    "Prints which PDF/A part each file declares in its metadata:\n"
    "\"FILE: declares PDF/A-N\", \"FILE: not declared\", or \"FILE: error: REASON\"\n"
    "when it cannot be read. A declaration is what the file says about itself,\n"
    "not a validation: check conformance with a PDF/A validator. FILE \"-\" reads\n"
    "standard input.\n"
    "\n"
    "options:\n"
    "  --json          one JSON object per line instead:\n"
    "                  {\"file\": F, \"status\": \"declared\"|\"not declared\"|\"error\",\n"
    "                   \"part\": N (0 when none), \"error\": \"\"}\n"
    "  -q, --quiet     print nothing but the results and errors\n"
    "  -v, --verbose   (accepted; nothing more to say)\n"
    "  -h, --help      show this help\n"
    "  --              end of options\n"
    "\n";

const char *k_report_help =
    "usage: zyk-pdfa report [OPTIONS] FILE...\n"
    "\n"
    "Prints the JSON report of each file, one JSON document per line (the\n"
    "library's report with the line breaks between its tokens removed). Its\n"
    "verdict \"compliant\" means that the file declares a PDF/A part; nothing is\n"
    "validated. FILE \"-\" reads standard input.\n"
    "\n"
    "options:\n"
    "  -q, --quiet     no note on standard error about the verdict\n"
    "  -v, --verbose   (accepted; nothing more to say)\n"
    "  -h, --help      show this help\n"
    "  --              end of options\n"
    "\n";

std::string parent_of(const std::string &path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
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

// The report's own rule for a path inside its JSON text.
std::string report_sanitised(const std::string &s) {
  std::string o = s.substr(0, 254);
  for (char &c : o)
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
  return o;
}

// The name a message uses for an input the user gave.
std::string input_name(const Input &in) { return in.given == "-" ? "standard input" : in.given; }

// The library's message about an input, with the path it read replaced by
// the name the user gave when the program read a private copy.
std::string library_message(const Input &in) {
  std::string msg = explain_input_failure(pdfa_last_error(), in.path);
  if (!in.copy.dir.empty()) msg = replace_all(msg, in.path, input_name(in));
  return msg;
}

}  // namespace

int cmd_convert(const std::vector<std::string> &args) {
  ParsedArgs p = parse_options(args, {{0, "part", true},
                                      {'o', "output", true},
                                      {0, "replace-input", false},
                                      {'q', "quiet", false},
                                      {'v', "verbose", false},
                                      {'h', "help", false}});
  if (!p.error.empty()) return usage_error(p.error, "convert");
  int part = 2;
  bool have_output = false, replace_input = false, verbose = false;
  std::string output;
  for (const auto &[name, value] : p.options) {
    if (name == "help") {
      std::fputs(k_convert_help, stdout);
      std::fputs(k_exit_text, stdout);
      return k_exit_ok;
    }
    if (name == "part") {
      if (value != "1" && value != "2") return usage_error("--part takes 1 or 2", "convert");
      part = value[0] - '0';
    } else if (name == "output") {
      if (have_output) return usage_error("-o/--output given twice", "convert");
      have_output = true;
      output = value;
    } else if (name == "replace-input") {
      replace_input = true;
    } else if (name == "verbose") {
      verbose = true;
    } else if (name == "quiet") {
      verbose = false;
    }
  }
  const std::vector<std::string> &pos = p.positional;
  if (have_output ? pos.size() != 1 : pos.size() != 2) return usage_error("convert takes INPUT and OUTPUT", "convert");
  if (!have_output) output = pos[1];
  if (output.empty() || pos[0].empty()) return usage_error("empty file name", "convert");
  bool to_stdout = output == "-";
  if (to_stdout && isatty(STDOUT_FILENO))
    return usage_error("refusing to write PDF data to a terminal; redirect standard output", "convert");

  Input in;
  std::string err;
  if (!open_input(pos[0], &in, &err)) {
    error_line(err);
    return g_interrupts ? k_exit_interrupted : k_exit_failed;
  }
  // A private copy (standard input, a pipe) can never be the output.
  const struct stat *in_st = in.copy.dir.empty() ? &in.st : nullptr;

  Worker w;
  if (to_stdout) {
    if (!make_private_dir(&w.staging, &err)) {
      error_line(err);
      return k_exit_failed;
    }
  } else {
    if (!check_output_path(output, in_st, replace_input, &err)) {
      error_line(err);
      return k_exit_failed;
    }
    if (!make_staging(parent_of(output), &w.staging, &err)) {
      error_line("cannot write " + output + ": " + err);
      return k_exit_failed;
    }
  }
  if (!spawn_worker(in.path, part, &w, &err)) {
    w.staging.remove();
    error_line(err);
    return k_exit_failed;
  }
  for (;;) {
    if (g_interrupts) {
      kill_worker(&w);
      w.staging.remove();
      error_line(std::string("interrupted: the conversion was stopped; nothing was written") +
                 (to_stdout ? "" : " to " + output));
      return k_exit_interrupted;
    }
    pollfd pf{w.fd, POLLIN, 0};
    if (poll(&pf, 1, 200) > 0 && !read_worker(&w)) break;
  }
  WorkerResult r = reap_worker(&w);
  std::string out_name = to_stdout ? "standard output" : output;
  if (!r.ok) {
    std::string msg = explain_input_failure(r.error, in.path);
    msg = replace_all(msg, w.staging.file(), out_name);
    if (!in.copy.dir.empty()) msg = replace_all(msg, in.path, input_name(in));
    w.staging.remove();
    error_line(msg);
    return is_refusal(msg) ? k_exit_refused : k_exit_failed;
  }
  bool ok = to_stdout ? copy_to_stdout(w.staging.file(), &err) : commit_output(w.staging, output, in_st, replace_input, &err);
  w.staging.remove();
  if (!ok) {
    error_line(err);
    return k_exit_failed;
  }
  if (verbose)
    std::fprintf(stderr, "zyk-pdfa: wrote %s: %d page%s, declares PDF/A-%db\n", shown(out_name).c_str(), r.pages,
                 r.pages == 1 ? "" : "s", part);
  return k_exit_ok;
}

int cmd_check(const std::vector<std::string> &args) {
  ParsedArgs p = parse_options(args, {{0, "json", false}, {'q', "quiet", false}, {'v', "verbose", false}, {'h', "help", false}});
  if (!p.error.empty()) return usage_error(p.error, "check");
  bool json = false;
  for (const auto &[name, value] : p.options) {
    if (name == "help") {
      std::fputs(k_check_help, stdout);
      std::fputs(k_exit_text, stdout);
      return k_exit_ok;
    }
    if (name == "json") json = true;
  }
  if (p.positional.empty()) return usage_error("check takes at least one FILE", "check");
  int status = k_exit_ok;
  for (const std::string &f : p.positional) {
    if (g_interrupts) return k_exit_interrupted;
    Input in;
    std::string err;
    int part = 0;
    if (open_input(f, &in, &err)) {
      // A check that loads the file but finds no identification leaves the
      // error text alone, so clear it first to tell "not declared" from
      // "unreadable".
      pdfa_cleanup();
      part = pdfa_check(in.path.c_str());
      if (part <= 0 && pdfa_last_error()[0]) err = library_message(in);
    }
    if (!err.empty()) status = worse(status, is_refusal(err) ? k_exit_refused : k_exit_failed);
    if (json) {
      const char *word = !err.empty() ? "error" : part > 0 ? "declared" : "not declared";
      std::printf("{\"file\": \"%s\", \"status\": \"%s\", \"part\": %d, \"error\": \"%s\"}\n", json_escape(f).c_str(),
                  word, part > 0 ? part : 0, json_escape(err).c_str());
    } else if (!err.empty()) {
      std::printf("%s: error: %s\n", shown(f).c_str(), shown(err).c_str());
    } else if (part > 0) {
      std::printf("%s: declares PDF/A-%d\n", shown(f).c_str(), part);
    } else {
      std::printf("%s: not declared\n", shown(f).c_str());
    }
    std::fflush(stdout);
  }
  return status;
}

int cmd_report(const std::vector<std::string> &args) {
  ParsedArgs p = parse_options(args, {{'q', "quiet", false}, {'v', "verbose", false}, {'h', "help", false}});
  if (!p.error.empty()) return usage_error(p.error, "report");
  bool quiet = false;
  for (const auto &[name, value] : p.options) {
    if (name == "help") {
      std::fputs(k_report_help, stdout);
      std::fputs(k_exit_text, stdout);
      return k_exit_ok;
    }
    if (name == "quiet") quiet = true;
    if (name == "verbose") quiet = false;
  }
  if (p.positional.empty()) return usage_error("report takes at least one FILE", "report");
  int status = k_exit_ok;
  bool declared = false;
  for (const std::string &f : p.positional) {
    if (g_interrupts) return k_exit_interrupted;
    Input in;
    std::string err;
    // A folder or a name that cannot be opened still gets the library's
    // report (which says "unreadable"); the reason goes to standard error.
    if (!open_input(f, &in, &err)) in.path = f;
    std::string line = one_line(pdfa_report(in.path.c_str()));
    if (!in.copy.dir.empty())
      line = replace_all(line, report_sanitised(in.path), report_sanitised(f));
    if (line.find("\"loaded\": false") != std::string::npos) {
      std::string msg = in.copy.dir.empty() ? explain_input_failure(pdfa_last_error(), in.path) : library_message(in);
      status = worse(status, is_refusal(msg) ? k_exit_refused : k_exit_failed);
      error_line(shown(f) + ": " + shown(msg));
    } else if (line.find("\"is_pdfa\": true") != std::string::npos) {
      declared = true;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  if (declared && !quiet)
    error_line("note: the verdict \"compliant\" means the file declares a PDF/A part; it was not validated");
  return status;
}

}  // namespace zyk_cli
