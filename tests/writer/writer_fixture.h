// Helpers of the writer tests: small source PDFs built in the test, running a
// conversion, and reading the output back through its own cross-reference
// table (so every lookup also checks that table).
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"
#include "zyk_out_pdfa.h"

namespace wt {

// A stream object body with a correct direct /Length.
inline std::string stream(const std::string &dict_entries, const std::string &data) {
  return "<< /Length " + std::to_string(data.size()) + (dict_entries.empty() ? "" : " ") + dict_entries +
         " >>\nstream\n" + data + "\nendstream";
}

// LZW codes of 9 bits, one per byte, between a clear code and the end code:
// valid LZW that never grows its table past 9-bit codes for short data.
inline std::string lzw_plain(const std::string &data) {
  std::string out;
  std::uint32_t acc = 0;
  int n = 0;
  auto put = [&](unsigned code) {
    acc = (acc << 9) | code;
    n += 9;
    while (n >= 8) {
      out += static_cast<char>((acc >> (n - 8)) & 0xFF);
      n -= 8;
    }
  };
  put(256);
  for (char c : data) put(static_cast<unsigned char>(c));
  put(257);
  if (n > 0) out += static_cast<char>((acc << (8 - n)) & 0xFF);
  return out;
}

// One page with the given resources and content, as bodies 1..4.
inline std::vector<std::string> one_page(const std::string &page_extra, const std::string &content,
                                         const std::string &resources = "<< >>") {
  return {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources " + resources + " /Contents 4 0 R " +
              page_extra + " >>",
          stream("", content)};
}

struct Converted {
  int rc = 0;
  std::string err;
  std::string out_path;
  std::string bytes;
};

// A file name used once in the test run.
inline std::string fresh_name(const std::string &name) {
  static int counter = 0;
  return std::to_string(++counter) + "-" + name;
}
inline std::string fresh_path(const std::string &name) { return zyk_test::temp_dir() + "/" + fresh_name(name); }

inline Converted convert_file(const std::string &in_path, int part, const std::string &name = "out.pdf") {
  Converted c;
  c.out_path = fresh_path(name);
  pdfa_cleanup();
  c.rc = part == 1 ? pdfa_convert_1b(in_path.c_str(), c.out_path.c_str())
                   : pdfa_convert_2b(in_path.c_str(), c.out_path.c_str());
  c.err = pdfa_last_error();
  if (std::filesystem::exists(c.out_path)) c.bytes = zyk_test::read_all(c.out_path);
  return c;
}

inline Converted convert_text(const std::string &pdf, int part = 1, const std::string &name = "in.pdf") {
  return convert_file(zyk_test::write_temp(fresh_name(name), pdf), part);
}

// The output read through its cross-reference table.
struct Output {
  std::string bytes;
  std::map<int, std::size_t> offsets;  // in-use entries
  int size = 0;                        // /Size
  std::string trailer;

  // The text of object num from its header to "endobj" (empty if absent).
  std::string obj(int num) const {
    auto it = offsets.find(num);
    if (it == offsets.end()) return "";
    std::size_t e = bytes.find("endobj", it->second);
    return e == std::string::npos ? "" : bytes.substr(it->second, e - it->second);
  }
  // The dictionary part of a stream object, or the whole body of another.
  std::string dict(int num) const {
    std::string o = obj(num);
    std::size_t s = o.find("\nstream\n");
    return s == std::string::npos ? o : o.substr(0, s);
  }
  // Stream data: the stored bytes, inflated when the dictionary names
  // /FlateDecode as its only filter (what the converter writes for the
  // streams it makes); "<inflate failed>" when they do not inflate.
  std::string data(int num) const {
    std::string r = raw(num);
    if (dict(num).find("/Filter /FlateDecode") == std::string::npos) return r;
    std::string out(r.size() * 4 + 1024, '\0');
    for (;;) {
      uLongf n = out.size();
      int rc = uncompress(reinterpret_cast<Bytef *>(out.data()), &n, reinterpret_cast<const Bytef *>(r.data()),
                          r.size());
      if (rc == Z_OK) {
        out.resize(n);
        return out;
      }
      if (rc != Z_BUF_ERROR || out.size() > (1u << 28)) return "<inflate failed>";
      out.resize(out.size() * 4);
    }
  }
  // Stream data as /Length declares it.
  std::string raw(int num) const {
    std::string o = obj(num);
    std::size_t s = o.find("\nstream\n");
    std::smatch m;
    std::string d = dict(num);
    if (s == std::string::npos || !std::regex_search(d, m, std::regex("/Length (\\d+)"))) return "";
    return o.substr(s + 8, std::stoul(m[1]));
  }
};

// Parses the table and trailer; failures are test failures.
inline Output read_output(const std::string &bytes) {
  Output o;
  o.bytes = bytes;
  std::smatch m;
  EXPECT_TRUE(std::regex_search(bytes, m, std::regex("\nstartxref\n(\\d+)\n%%EOF\n$"))) << "file end";
  if (m.empty()) return o;
  std::size_t xref = std::stoul(m[1]);
  EXPECT_EQ(bytes.compare(xref, 5, "xref\n"), 0) << "startxref does not point at xref";
  std::size_t p = xref + 5;
  unsigned first = 0, count = 0;
  int used = 0;
  if (std::sscanf(bytes.c_str() + p, "%u %u\n%n", &first, &count, &used) != 2) {
    ADD_FAILURE() << "xref subsection header";
    return o;
  }
  EXPECT_EQ(first, 0u);
  p += static_cast<std::size_t>(used);
  for (unsigned k = 0; k < count; k++, p += 20) {
    std::string e = bytes.substr(p, 20);
    EXPECT_EQ(e.size(), 20u);
    EXPECT_EQ(e[19], '\n');
    if (e[17] == 'n') o.offsets[static_cast<int>(k)] = std::stoul(e.substr(0, 10));
  }
  EXPECT_EQ(bytes.compare(p, 8, "trailer\n"), 0);
  o.trailer = bytes.substr(p, xref - p);
  std::size_t te = bytes.find("startxref", p);
  o.trailer = bytes.substr(p, te - p);
  if (std::regex_search(o.trailer, m, std::regex("/Size (\\d+)"))) o.size = std::stoi(m[1]);
  EXPECT_EQ(o.size, static_cast<int>(count));
  return o;
}

// The PDF/A checker of the shared tools, or "" when absent. It is started
// with the system interpreter when there is one: the checker needs that
// interpreter's modules, and a shim in front of it costs seconds per call.
inline std::string lint_command(int part) {
  std::string lint = std::string(ZYK_SHARED_DIR) + "/tools/pdfa-lint";
  if (!std::filesystem::exists(lint)) return "";
  std::string py = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3 " : "";
  return py + "\"" + lint + "\" --part " + std::to_string(part);
}

// Renders the visible box (crop box) of the first page with pdftoppm as
// 8-bit grey; empty when the tool is
// missing or fails.
struct Image {
  int w = 0, h = 0;
  std::vector<unsigned char> px;
};

inline bool have_tool(const std::string &name) {
  return zyk_test::run_command("command -v " + name + " >/dev/null 2>&1", nullptr) == 0;
}

inline Image render(const std::string &pdf_path, int dpi = 24) {
  Image img;
  std::string prefix = fresh_path("render");
  std::string cmd = "pdftoppm -cropbox -gray -r " + std::to_string(dpi) + " -f 1 -l 1 -singlefile \"" + pdf_path +
                    "\" \"" + prefix + "\" 2>/dev/null";
  if (zyk_test::run_command(cmd, nullptr) != 0) return img;
  std::string pgm = zyk_test::read_all(prefix + ".pgm");
  std::remove((prefix + ".pgm").c_str());
  int maxval = 0, used = 0;
  if (std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &img.w, &img.h, &maxval, &used) != 3 || maxval != 255) return {};
  std::size_t start = static_cast<std::size_t>(used) + 1;
  if (pgm.size() < start + static_cast<std::size_t>(img.w) * static_cast<std::size_t>(img.h)) return {};
  img.px.assign(pgm.begin() + static_cast<std::ptrdiff_t>(start), pgm.end());
  img.px.resize(static_cast<std::size_t>(img.w) * static_cast<std::size_t>(img.h));
  return img;
}

// Mean absolute difference of two renders of equal size (255 when the sizes
// differ).
inline double mean_diff(const Image &a, const Image &b) {
  if (a.w != b.w || a.h != b.h || a.px.empty()) return 255;
  double sum = 0;
  for (std::size_t i = 0; i < a.px.size(); i++) sum += std::abs(int(a.px[i]) - int(b.px[i]));
  return sum / static_cast<double>(a.px.size());
}

}  // namespace wt
