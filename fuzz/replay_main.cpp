// Replays fuzz inputs when no fuzzing engine is linked: every file named on
// the command line, and every regular file below a directory named there
// (in name order), is passed to the target once. The program fails when it
// finds no input at all, so a missing or misnamed seed corpus cannot pass
// as a test; a broken property aborts inside the target.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; i++) {
    const fs::path arg(argv[i]);
    if (fs::is_directory(arg)) {
      for (const auto &entry : fs::recursive_directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else if (fs::is_regular_file(arg)) {
      files.push_back(arg);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 2;
  }
  for (const fs::path &p : files) {
    std::ifstream f(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // An exact-size copy, so that a read past the end is caught under the
    // address sanitizer as it would be under the fuzzing engine.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    std::printf("ok %s\n", p.string().c_str());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
