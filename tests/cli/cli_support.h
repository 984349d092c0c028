// Helpers for the tests that drive the zyk-pdfa program: running it with
// its output captured, fresh folders, log records.
//
// ZYK_CLI_UNDER_TEST, when set, names another zyk-pdfa binary to drive (for
// instance an older build, to see a test fail before a fix).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace cli_test {

namespace fs = std::filesystem;

inline std::string cli() {
  const char *o = std::getenv("ZYK_CLI_UNDER_TEST");
  return o && *o ? o : ZYK_CLI;
}

struct CmdResult {
  int status;
  std::string out, err;
};

inline std::string q(const std::string &s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

// Runs "zyk-pdfa ARGS" through the shell; `prefix` goes before the program
// (a "cd DIR &&", a "ulimit -f N;"), `suffix` after it (redirections).
inline CmdResult run(const std::string &args, const std::string &prefix = "", const std::string &suffix = "") {
  static int n = 0;
  std::string errf = zyk_test::temp_dir() + "/stderr-" + std::to_string(n++);
  CmdResult r;
  r.status = zyk_test::run_command(prefix + " " + q(cli()) + " " + args + " " + suffix + " 2>" + q(errf), &r.out);
  r.err = zyk_test::read_all(errf);
  return r;
}

inline std::string sample() { return std::string(ZYK_SOURCE_DIR) + "/samples/hello.pdf"; }

// A new empty folder under the test's temporary folder.
inline fs::path fresh_dir(const std::string &name) {
  static int n = 0;
  fs::path p = fs::path(zyk_test::temp_dir()) / (name + "-" + std::to_string(n++));
  fs::create_directories(p);
  return p;
}

inline std::vector<std::string> lines(const std::string &s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  std::string l;
  while (std::getline(in, l)) v.push_back(l);
  return v;
}

// Every line of a JSON Lines text parses as strict UTF-8 JSON.
inline bool valid_json_lines(const std::string &text) {
  std::string f = zyk_test::write_temp("json-lines-check.txt", text);
  return zyk_test::run_command("python3 -c 'import json,sys\n"
                               "for l in open(sys.argv[1], encoding=\"utf-8\", errors=\"strict\"): json.loads(l)' " +
                                   q(f) + " 2>/dev/null",
                               nullptr) == 0;
}

// The per-file records of a batch log (the lines with a "status"), without
// the run header and closing lines.
inline std::vector<std::string> file_records(const std::string &log_text) {
  std::vector<std::string> v;
  for (const std::string &l : lines(log_text))
    if (l.find("\"status\": ") != std::string::npos && l.rfind("{\"run\": ", 0) != 0) v.push_back(l);
  return v;
}

inline bool has(const std::string &hay, const std::string &needle) { return hay.find(needle) != std::string::npos; }

// The record whose input ends with `suffix`, or "".
inline std::string record_for(const std::string &log_text, const std::string &suffix) {
  for (const std::string &l : file_records(log_text))
    if (has(l, suffix + "\", \"output\"")) return l;
  return "";
}

// Every temporary file or staging folder this program or the library
// leaves under `dir` (names starting with ".zyk").
inline std::vector<std::string> leftovers(const fs::path &dir) {
  std::vector<std::string> v;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->path().filename().string().rfind(".zyk", 0) == 0) v.push_back(it->path().string());
  return v;
}

inline bool complete_pdf(const std::string &path) {
  std::string body = zyk_test::read_all(path);
  return body.rfind("%PDF-", 0) == 0 && body.size() > 6 && body.substr(body.size() - 6) == "%%EOF\n";
}

// The children of a process, from /proc.
inline std::vector<pid_t> children_of(pid_t pid) {
  std::vector<pid_t> v;
  std::ifstream f("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  pid_t c;
  while (f >> c) v.push_back(c);
  return v;
}

// A PDF of `pages` pages, each with a content stream of its own (pages
// sharing one stream are drawn by one form and convert too fast): slow
// enough to convert that a test can act while the conversion runs.
inline std::string many_pages_pdf(int pages) {
  std::string kids;
  for (int i = 0; i < pages; i++) kids += (i ? " " : "") + std::to_string(4 + 2 * i) + " 0 R";
  std::vector<std::string> bodies = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " /MediaBox [0 0 612 792] >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  for (int i = 0; i < pages; i++) {
    const std::string content = "BT /F1 12 Tf 72 700 Td (Page " + std::to_string(i + 1) + ") Tj ET";
    bodies.push_back("<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                     std::to_string(5 + 2 * i) + " 0 R >>");
    bodies.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  }
  return zyk_test::make_pdf(bodies);
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (cli().empty()) GTEST_SKIP() << "zyk-pdfa not built";
  }
};

}  // namespace cli_test
