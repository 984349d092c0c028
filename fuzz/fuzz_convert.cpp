// libFuzzer target for the whole conversion through the C exports, as a
// host calls them: the input is a file; it is identified, reported on and
// converted to PDF/A-1b and PDF/A-2b in a private temporary folder.
// Properties:
//   - identification gives 0 to 3 and every report is valid JSON;
//   - a conversion that succeeds leaves an output that identifies as the
//     part converted to and whose report is valid JSON;
//   - a conversion that fails gives a non-empty error text and leaves no
//     output file (the PDF/A-1b run, to a fresh path) or leaves the file
//     already at the output path untouched (the PDF/A-2b run);
//   - no temporary file is left behind either way.
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "zyk_out_pdfa.h"

namespace {

namespace fs = std::filesystem;

void check(bool ok) {
  if (!ok) std::abort();
}

// ---- a strict JSON reader (RFC 8259), enough to tell valid from not -----------

struct Json {
  const char *p;
  const char *e;
  int depth = 0;

  void ws() {
    while (p < e && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) p++;
  }
  bool lit(const char *w) {
    const std::size_t n = std::strlen(w);
    if (static_cast<std::size_t>(e - p) < n || std::memcmp(p, w, n) != 0) return false;
    p += n;
    return true;
  }
  bool digits() {
    const char *s = p;
    while (p < e && *p >= '0' && *p <= '9') p++;
    return p > s;
  }
  bool number() {
    if (p < e && *p == '-') p++;
    if (p < e && *p == '0')
      p++;
    else if (!digits())
      return false;
    if (p < e && *p == '.') {
      p++;
      if (!digits()) return false;
    }
    if (p < e && (*p == 'e' || *p == 'E')) {
      p++;
      if (p < e && (*p == '+' || *p == '-')) p++;
      if (!digits()) return false;
    }
    return true;
  }
  // One UTF-8 sequence (shortest form, no surrogates).
  bool utf8() {
    const auto c = static_cast<unsigned char>(*p);
    int n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (n < 0 || e - p <= n) return false;
    std::uint32_t v = n == 0 ? c : n == 1 ? (c & 0x1Fu) : n == 2 ? (c & 0x0Fu) : (c & 0x07u);
    for (int k = 1; k <= n; k++) {
      const auto d = static_cast<unsigned char>(p[k]);
      if ((d >> 6) != 2) return false;
      v = v << 6 | (d & 0x3Fu);
    }
    static const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (v < least[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    p += n + 1;
    return true;
  }
  bool string() {
    if (p >= e || *p != '"') return false;
    p++;
    while (p < e && *p != '"') {
      if (static_cast<unsigned char>(*p) < 0x20) return false;
      if (*p == '\\') {
        p++;
        if (p >= e) return false;
        if (*p == 'u') {
          if (e - p < 5) return false;
          for (int k = 1; k <= 4; k++)
            if (!std::isxdigit(static_cast<unsigned char>(p[k]))) return false;
          p += 5;
        } else if (std::strchr("\"\\/bfnrt", *p) && *p) {
          p++;
        } else {
          return false;
        }
      } else if (!utf8()) {
        return false;
      }
    }
    if (p >= e) return false;
    p++;
    return true;
  }
  bool value() {
    if (++depth > 64) return false;
    ws();
    bool ok;
    if (p >= e) {
      ok = false;
    } else if (*p == '{') {
      p++;
      ws();
      ok = true;
      if (p < e && *p == '}') {
        p++;
      } else {
        for (;;) {
          ws();
          if (!string()) {
            ok = false;
            break;
          }
          ws();
          if (p >= e || *p++ != ':' || !value()) {
            ok = false;
            break;
          }
          ws();
          if (p < e && *p == ',') {
            p++;
            continue;
          }
          ok = p < e && *p++ == '}';
          break;
        }
      }
    } else if (*p == '[') {
      p++;
      ws();
      ok = true;
      if (p < e && *p == ']') {
        p++;
      } else {
        for (;;) {
          if (!value()) {
            ok = false;
            break;
          }
          ws();
          if (p < e && *p == ',') {
            p++;
            continue;
          }
          ok = p < e && *p++ == ']';
          break;
        }
      }
    } else if (*p == '"') {
      ok = string();
    } else if (*p == 't') {
      ok = lit("true");
    } else if (*p == 'f') {
      ok = lit("false");
    } else if (*p == 'n') {
      ok = lit("null");
    } else {
      ok = number();
    }
    depth--;
    return ok;
  }
};

bool json_valid(const char *s) {
  if (!s) return false;
  Json j{s, s + std::strlen(s)};
  if (!j.value()) return false;
  j.ws();
  return j.p == j.e;
}

// ---- the private folder -----------------------------------------------------------------

struct Folder {
  std::string path;
  Folder() {
    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/zyk-fuzz-XXXXXX";
    check(mkdtemp(tmpl.data()) != nullptr);
    path = tmpl;
    pdfa_init();
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

std::set<std::string> names_in(const std::string &dir) {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

std::string read_file(const std::string &p) {
  std::ifstream f(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static Folder dir;
  const std::string in = dir.path + "/in.pdf", out1 = dir.path + "/out1.pdf", out2 = dir.path + "/out2.pdf";
  {
    std::ofstream f(in, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    check(f.good());
  }

  const int declared = pdfa_check(in.c_str());
  check(declared >= 0 && declared <= 3);
  check(json_valid(pdfa_report(in.c_str())));

  // PDF/A-1b to a fresh path.
  std::error_code ec;
  fs::remove(out1, ec);
  if (pdfa_convert_1b(in.c_str(), out1.c_str()) == 1) {
    check(pdfa_check(out1.c_str()) == 1);
    check(json_valid(pdfa_report(out1.c_str())));
  } else {
    check(pdfa_last_error()[0] != 0);
    check(!fs::exists(out1));
  }
  check(names_in(dir.path) == std::set<std::string>({"in.pdf"}) ||
        names_in(dir.path) == std::set<std::string>({"in.pdf", "out1.pdf"}));

  // PDF/A-2b over a file already at the output path.
  static const char k_old[] = "an earlier file at the output path\n";
  {
    std::ofstream f(out2, std::ios::binary | std::ios::trunc);
    f << k_old;
  }
  if (pdfa_convert_2b(in.c_str(), out2.c_str()) == 1) {
    check(pdfa_check(out2.c_str()) == 2);
    check(json_valid(pdfa_report(out2.c_str())));
  } else {
    check(pdfa_last_error()[0] != 0);
    check(read_file(out2) == k_old);
  }
  std::set<std::string> left = names_in(dir.path);
  left.erase("out1.pdf");
  check(left == std::set<std::string>({"in.pdf", "out2.pdf"}));
  fs::remove(out1, ec);
  fs::remove(out2, ec);
  return 0;
}
