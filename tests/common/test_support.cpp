#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace zyk_test {

namespace {
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/zyk-test-XXXXXX";
    const char *p = mkdtemp(tmpl);
    path = p ? p : "/tmp";
  }
  ~TempDir() {
    std::error_code ec;
    if (path != "/tmp") fs::remove_all(path, ec);
  }
};
}  // namespace

const std::string &temp_dir() {
  static TempDir d;
  return d.path;
}

std::string write_temp(const std::string &name, const std::string &bytes) {
  std::string p = temp_dir() + "/" + name;
  std::ofstream f(p, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return p;
}

std::string read_all(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string make_pdf(const std::vector<std::string> &bodies, int root, const std::string &version) {
  std::string out = "%PDF-" + version + "\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offs;
  for (std::size_t i = 0; i < bodies.size(); i++) {
    offs.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
  }
  if (root == 0) return out;
  std::size_t xref = out.size();
  out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t o : offs) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1) + " /Root " + std::to_string(root) +
         " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string corpus_dir() {
  fs::path p = fs::path(ZYK_SHARED_DIR) / "corpus";
  std::error_code ec;
  return fs::is_directory(p, ec) ? p.string() : std::string();
}

std::vector<std::string> corpus_files() {
  std::vector<std::string> files;
  std::string dir = corpus_dir();
  if (dir.empty()) return files;
  for (auto &e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == ".pdf") files.push_back(fs::relative(e.path(), dir).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

int run_command(const std::string &cmd, std::string *out) {
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::size_t n;
  if (out) out->clear();
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (out) out->append(buf, n);
  int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string pdftotext_words(const std::string &path) {
  std::string text;
  if (run_command("pdftotext -enc UTF-8 '" + path + "' - 2>/dev/null", &text) != 0) return "<pdftotext failed>";
  std::istringstream in(text);
  std::string w, out;
  while (in >> w) out += w + " ";
  return out;
}

}  // namespace zyk_test
