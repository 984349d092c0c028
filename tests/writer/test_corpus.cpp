// The shared corpus: every file that loads converts for both parts or
// refuses with a reason the conversion may give, qpdf finds no error in any
// output, and every output is PDF/A of its part: the PDF/A checker finds no
// fault in it, and the PDF/A-1 validator passes every part-1 output. The
// sanitizer build, several times slower, checks a sample (every fifth file)
// for faults of file structure, trailer, metadata, output intent and
// references only, unless ZYK_CORPUS_FULL is set.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "pdf/pdf.h"
#include "writer_fixture.h"

namespace {

constexpr std::size_t k_lint_sample_every = 5;

struct Outputs {
  std::vector<std::string> files[3];  // by part
  int loaded = 0;
  int refused = 0;
};

// Rule ids of the groups the outputs must always satisfy, by part.
bool required_rule(int part, const std::string &id) {
  static const std::vector<std::string> part1 = {"6.1.2-", "6.1.3-", "6.1.4-", "6.1.6-",   "6.1.7-", "6.7.",
                                                 "6.2.2-", "ref-1",  "xref-1", "struct-1", "oi-1"};
  static const std::vector<std::string> part2 = {"6.1.2-", "6.1.3-", "6.1.6-", "6.1.7.1-", "6.6.",
                                                 "6.2.3-", "ref-1",  "xref-1", "struct-1", "oi-1"};
  for (const std::string &p : part == 1 ? part1 : part2)
    if (id.compare(0, p.size(), p) == 0) return true;
  return false;
}

// A refusal the conversion may give: what PDF/A of the part cannot keep, or
// what cannot be read faithfully.
bool allowed_refusal(int part, const std::string &msg) {
  static const std::regex both(
      "page \\d+: (cannot read content stream|empty content|empty page box|page box beyond the limits of PDF/A|"
      "transfer function cannot be kept in PDF/A|font /\\S+ names object \\d+, which does not exist|"
      "cannot read the content of form \\d+|cannot decode the LZW data of object \\d+)");
  static const std::regex part1("page \\d+: (transparency|JPEG 2000 image) cannot be kept in PDF/A-1 \\(use part 2\\)");
  static const std::regex part2("page \\d+: JPEG 2000 image \\d+ cannot be kept in PDF/A-2: it .*");
  return std::regex_match(msg, both) || std::regex_match(msg, part == 1 ? part1 : part2);
}

Outputs convert_corpus() {
  Outputs o;
  std::string dir = zyk_test::corpus_dir();
  std::string work = wt::fresh_path("corpus");
  std::filesystem::create_directory(work);
  int index = 0;
  for (const std::string &rel : zyk_test::corpus_files()) {
    std::string in = dir + "/" + rel;
    {
      zyk::DocGuard g;
      zyk::ErrorText err;
      if (!zyk::doc_load(in.c_str(), &g.d, &err, zyk::LoadMode::decrypted)) continue;
    }
    o.loaded++;
    index++;
    for (int part : {1, 2}) {
      std::string path = work + "/" + std::to_string(index) + "-p" + std::to_string(part) + ".pdf";
      int rc = part == 1 ? pdfa_convert_1b(in.c_str(), path.c_str()) : pdfa_convert_2b(in.c_str(), path.c_str());
      if (rc == 1) {
        o.files[part].push_back(path);
      } else {
        std::string msg = pdfa_last_error();
        EXPECT_TRUE(allowed_refusal(part, msg)) << rel << " part " << part << ": " << msg;
        o.refused++;
      }
    }
  }
  return o;
}

void qpdf_finds_no_errors(const Outputs &o) {
  // One qpdf per file, four at a time; every file whose check fails is
  // reported with its status. 0: clean; 3: warnings only (a source
  // dictionary's duplicate keys, carried over as they stand).
  std::string list = wt::fresh_path("qpdf-list.txt");
  {
    std::ofstream l(list);
    for (int part : {1, 2})
      for (const std::string &f : o.files[part]) l << f << "\n";
  }
  std::string out;
  zyk_test::run_command(
      "xargs -d '\\n' -P 4 -n 1 sh -c 'qpdf --check \"$0\" >/dev/null 2>&1; rc=$?; "
      "[ $rc -eq 0 ] || [ $rc -eq 3 ] || echo \"$0: qpdf status $rc\"' < \"" +
          list + "\"",
      &out);
  EXPECT_EQ(out, "");
}

bool full_check() { return std::getenv("ZYK_CORPUS_FULL") != nullptr || std::getenv("ZYK_SANITIZED") == nullptr; }

void checker_finds_no_fault(const Outputs &o) {
  const bool full = full_check();
  for (int part : {1, 2}) {
    const auto &files = o.files[part];
    std::string cmd = wt::lint_command(part) + " --json --max-issues 1000";
    std::size_t n = 0;
    for (std::size_t i = 0; i < files.size(); i++) {
      if (!full && i % k_lint_sample_every != 0) continue;
      cmd += " \"" + files[i] + "\"";
      n++;
    }
    std::string out;
    zyk_test::run_command(cmd + " 2>&1", &out);
    std::regex line_re("\\{\"file\": \"([^\"]+)\", \"part\": \\d, \"status\": \"(\\w+)\"[^\n]*");
    std::regex rule_re("\"rule\": \"([^\"]+)\", \"message\": \"((?:[^\"\\\\]|\\\\.)*)\"");
    std::size_t seen = 0;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line_re); it != std::sregex_iterator(); ++it) {
      seen++;
      std::string file = (*it)[1], status = (*it)[2], line = (*it)[0];
      EXPECT_NE(status, "ERROR") << line;
      // Warnings are not faults; only the errors list counts.
      std::string errors = line.substr(0, line.find("\"warnings\""));
      for (auto r = std::sregex_iterator(errors.begin(), errors.end(), rule_re); r != std::sregex_iterator(); ++r)
        EXPECT_FALSE(full || required_rule(part, (*r)[1]))
            << file << " part " << part << ": " << (*r)[1] << " " << (*r)[2];
    }
    EXPECT_EQ(seen, n) << out.substr(0, 2000);
  }
}

// The validator is a JVM: one call for all part-1 outputs.
void validator_passes_part1(const Outputs &o) {
  const std::string validate = std::string(ZYK_SHARED_DIR) + "/tools/pdfa-validate";
  if (!std::filesystem::exists(validate) || o.files[1].empty()) {
    std::printf("pdfa-validate not available: skipped\n");
    return;
  }
  std::string cmd = "\"" + validate + "\"";
  for (const std::string &f : o.files[1]) cmd += " \"" + f + "\"";
  std::string out;
  zyk_test::run_command(cmd + " 2>&1", &out);
  std::size_t passes = 0;
  std::string failures;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("PASS ", 0) == 0) passes++;
    else if (line.rfind("FAIL ", 0) == 0) failures += line + "\n";
  }
  EXPECT_EQ(failures, "");
  EXPECT_EQ(passes, o.files[1].size()) << out.substr(0, 2000);
}

}  // namespace

// One test, so that the corpus is converted once per run.
TEST(Corpus, EveryLoadableFileConvertsAndPassesTheCheckers) {
  if (zyk_test::corpus_files().empty()) GTEST_SKIP() << "no corpus at " << ZYK_SHARED_DIR;
  const Outputs o = convert_corpus();
  EXPECT_GT(o.loaded, 0);
  EXPECT_EQ(static_cast<int>(o.files[1].size() + o.files[2].size()) + o.refused, 2 * o.loaded);
  if (wt::have_tool("qpdf")) {
    qpdf_finds_no_errors(o);
  } else {
    std::printf("qpdf not available: skipped\n");
  }
  if (!wt::lint_command(1).empty()) {
    checker_finds_no_fault(o);
  } else {
    std::printf("pdfa-lint not available: skipped\n");
  }
  if (full_check()) validator_passes_part1(o);
}
