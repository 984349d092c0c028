// Inspection against the shared corpus: every report is valid JSON, its
// page count agrees with poppler's pdfinfo, and the declared PDF/A part
// agrees with an independent reading of the XMP packet (qpdf resolves the
// objects and decodes the stream, Python's XML parser reads the property by
// its namespace; xmp_oracle.py). Skips when the corpus or the tools are
// absent.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "inspect_fixture.h"
#include "zyk_out_pdfa.h"

using namespace inspect_test;

namespace {

bool have(const char *tool) {
  return zyk_test::run_command(std::string("command -v ") + tool + " >/dev/null 2>&1", nullptr) == 0;
}

int pdfinfo_pages(const std::string &path) {
  std::string out;
  if (zyk_test::run_command("pdfinfo " + shell_quote(path) + " 2>/dev/null", &out) != 0) return -1;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Pages:", 0) == 0) return std::atoi(line.c_str() + 6);
  return -1;
}

// Manifest features per relative path, to explain a disagreement.
std::map<std::string, std::string> manifest() {
  std::map<std::string, std::string> m;
  std::ifstream f(zyk_test::corpus_dir() + "/MANIFEST.tsv");
  for (std::string line; std::getline(f, line);) {
    std::istringstream row(line);
    std::string cols[6];
    for (auto &c : cols) std::getline(row, c, '\t');
    m[cols[0]] = cols[5];
  }
  return m;
}

std::string field(const std::string &rep, const std::string &key) {
  std::string k = "\"" + key + "\": ";
  std::size_t p = rep.find(k);
  if (p == std::string::npos) return "";
  p += k.size();
  std::size_t e = rep.find_first_of(",\n", p);
  return rep.substr(p, e - p);
}

}  // namespace

TEST(InspectCorpus, ReportsAreJsonAndCountPagesLikePdfinfo) {
  auto files = zyk_test::corpus_files();
  if (files.empty()) GTEST_SKIP() << "shared corpus not present";
  if (!have("pdfinfo")) GTEST_SKIP() << "pdfinfo (poppler-utils) not installed";
  auto features = manifest();
  std::vector<std::string> reps;
  int compared = 0, agreed = 0;
  for (const std::string &rel : files) {
    std::string path = zyk_test::corpus_dir() + "/" + rel;
    std::string rep = pdfa_report(path.c_str());
    reps.push_back(rep);
    int theirs = pdfinfo_pages(path);
    if (field(rep, "loaded") != "true" || theirs < 0) continue;
    compared++;
    int ours = std::atoi(field(rep, "page_count").c_str());
    if (ours == theirs) {
      agreed++;
    } else {
      ADD_FAILURE() << rel << ": pdfinfo " << theirs << " pages, report " << ours << " [" << features[rel] << "]";
    }
  }
  std::vector<std::string> errs = json_errors(reps);
  int valid = 0;
  for (std::size_t i = 0; i < files.size(); i++) {
    if (errs[i].empty()) {
      valid++;
    } else {
      ADD_FAILURE() << files[i] << ": report is not JSON: " << errs[i] << "\n" << reps[i];
    }
  }
  std::printf("reports: %d of %zu parse as JSON\n", valid, files.size());
  std::printf("page_count: %d of %d files read by both agree with pdfinfo\n", agreed, compared);
}

TEST(InspectCorpus, DeclaredPartAgreesWithIndependentXmpRead) {
  auto files = zyk_test::corpus_files();
  if (files.empty()) GTEST_SKIP() << "shared corpus not present";
  if (!have("qpdf")) GTEST_SKIP() << "qpdf not installed";
  auto features = manifest();
  std::string args;
  for (const std::string &rel : files) args += " " + shell_quote(zyk_test::corpus_dir() + "/" + rel);
  std::string out;
  ASSERT_EQ(zyk_test::run_command(python3() + " " ZYK_SOURCE_DIR "/tests/inspect/xmp_oracle.py" + args, &out), 0);
  std::istringstream lines(out);
  int compared = 0, agreed = 0, declaring = 0, declaring_agreed = 0, unread_oracle = 0, unread_ours = 0;
  std::vector<std::string> malformed;  // XMP that is no well-formed XML
  for (const std::string &rel : files) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line)) << "oracle output ends before " << rel;
    std::string path = zyk_test::corpus_dir() + "/" + rel;
    if (line.empty() || line[0] == '?') {
      unread_oracle++;
      continue;
    }
    zyk::DocGuard g;
    zyk::ErrorText err;
    if (!zyk::doc_load(path.c_str(), &g.d, &err)) {
      unread_ours++;  // encrypted or unreadable: pdfa_check gives 0 by rule
      continue;
    }
    int ours = pdfa_check(path.c_str());
    if (line[0] == 'x') {
      malformed.push_back(rel + " (pdfa_check " + std::to_string(ours) + ")");
      continue;
    }
    int part = 0, intent = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d %d", &part, &intent), 2) << rel << ": " << line;
    // The file's XMP declaration when it has one, else the output-intent
    // heuristic (a GTS_PDFA1 intent counts as part 1).
    int expected = part >= 0 ? part : intent;
    compared++;
    if (part > 0) declaring++;
    if (ours == expected) {
      agreed++;
      if (part > 0) declaring_agreed++;
    } else {
      ADD_FAILURE() << rel << ": pdfa_check " << ours << ", XMP part " << part << ", GTS_PDFA1 intent " << intent
                    << " [" << features[rel] << "]";
    }
  }
  std::printf("pdfa_check: %d of %d files agree with the independent read (%d of %d that declare a part in XMP)\n",
              agreed, compared, declaring_agreed, declaring);
  std::printf("not compared: %d files qpdf cannot read, %d files the loader refuses, %zu with XMP that is no "
              "well-formed XML\n",
              unread_oracle, unread_ours, malformed.size());
  for (const std::string &m : malformed) std::printf("  XMP not well-formed: %s\n", m.c_str());
}
