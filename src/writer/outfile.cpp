// The output file.
//
// A conversion never writes the output path directly. The finished bytes go
// to a fresh temporary file in the output's directory (created exclusively,
// so that nothing existing is ever opened), which is closed and then renamed
// over the output path. Rename within one directory replaces the target in
// one step, so a reader of the output path sees the old file or the complete
// new one, never a partial file; a conversion that fails at any point,
// including a short write, a failing close or an exception, removes its
// temporary file and leaves an existing output file untouched.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "writer/writer.h"

namespace zyk {

namespace {

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};

// Removes the temporary file unless the rename has taken it over.
struct TempPath {
  std::string path;
  bool kept = false;
  TempPath() = default;
  TempPath(const TempPath &) = delete;
  TempPath &operator=(const TempPath &) = delete;
  ~TempPath() {
    if (!kept && !path.empty()) std::remove(path.c_str());
  }
};

std::string temp_name(const std::filesystem::path &dir, unsigned salt) {
  auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char name[64];
  std::snprintf(name, sizeof name, ".zyk-%08llx%04x.tmp", ticks & 0xffffffffULL, salt & 0xffffu);
  return (dir / name).string();
}

}  // namespace

bool write_output_file(Context &ctx, const char *out_path, const char *data, std::uint64_t n) {
  if (n == 0) {
    return ctx.err.fail("failed to build output");
  }
  std::filesystem::path target(out_path);
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";

  TempPath tmp;
  std::unique_ptr<std::FILE, FileCloser> f;
  for (int attempt = 0; attempt < k_temp_attempts && !f; attempt++) {
    tmp.path = temp_name(dir, ctx.temp_salt++);
    // "x": fail instead of opening a file that already exists.
    f.reset(std::fopen(tmp.path.c_str(), "wbx"));
  }
  if (!f) {
    tmp.path.clear();
    return ctx.err.fail("cannot write %s", out_path);
  }
  if (std::fwrite(data, 1, static_cast<std::size_t>(n), f.get()) != n) {
    return ctx.err.fail("short write to %s", out_path);
  }
  if (std::fclose(f.release()) != 0) {
    return ctx.err.fail("close error on %s", out_path);
  }
  std::error_code ec;
  std::filesystem::rename(tmp.path, target, ec);
  if (ec) {
    return ctx.err.fail("cannot write %s", out_path);
  }
  tmp.kept = true;
  return true;
}

}  // namespace zyk
