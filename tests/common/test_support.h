// Helpers shared by the test programs: temporary files, small PDF texts
// built in the tests, and access to the shared corpus when it is present.
#pragma once

#include <string>
#include <vector>

namespace zyk_test {

// A temporary directory removed at process exit.
const std::string &temp_dir();
// Writes bytes to a fresh file in the temporary directory; returns its path.
std::string write_temp(const std::string &name, const std::string &bytes);
std::string read_all(const std::string &path);

// Builds a PDF text from object bodies: objects are numbered from 1 in the
// order given, and a classic cross-reference table and trailer naming
// object `root` as /Root are appended (root 0: no trailer at all).
std::string make_pdf(const std::vector<std::string> &bodies, int root = 1, const std::string &version = "1.4");

// The shared corpus folder, or "" when it is absent.
std::string corpus_dir();
// Every PDF under the corpus (relative paths sorted), empty when absent.
std::vector<std::string> corpus_files();

// Runs a shell command, returns its exit status and captures stdout.
int run_command(const std::string &cmd, std::string *out);
// The words pdftotext reads from a PDF file, joined by single spaces (so that
// line breaks and layout do not count), or "<pdftotext failed>".
std::string pdftotext_words(const std::string &path);

}  // namespace zyk_test
