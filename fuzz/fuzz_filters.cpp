// libFuzzer target for the stream service: every filter and predictor.
//
// Input layout: the first line is the inside of a stream dictionary
// ("/Filter [/A85 /Fl] /DecodeParms [null << /Predictor 12 /Columns 4 >>]"),
// the rest is the stream's data. The target writes a one-page file image
// around it (objects 2 and 3 are a filter name and a parameter dictionary
// that the dictionary may refer to) and decodes the stream through the
// stream service, then through the chain directly and through each codec
// on its own. Properties:
//   - a decode that is not done delivers nothing; a done one stays within
//     the limit; the service and the chain agree;
//   - every codec tells "output full" apart: where a cap of n gives done
//     with n bytes, a cap of n - 1 gives limit, and a cap of n the same
//     bytes again;
//   - hex decoding of the hex text of the data gives the data back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/base.h"
#include "filter/filter.h"
#include "pdf/pdf.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr std::uint64_t k_cap = std::uint64_t{1} << 20;

enum class Codec { flate, lzw0, lzw1, a85, rl };

zyk::DecodeStatus run(Codec c, const unsigned char *in, std::size_t n, std::uint64_t cap, std::string *out) {
  bool damaged = false;
  switch (c) {
    case Codec::flate:
      return zyk::flate_decode(in, n, cap, out, &damaged);
    case Codec::lzw0:
      return zyk::lzw_decode(in, n, 0, cap, out);
    case Codec::lzw1:
      return zyk::lzw_decode(in, n, 1, cap, out);
    case Codec::a85:
      return zyk::ascii85_decode(in, n, cap, out);
    case Codec::rl:
      return zyk::runlength_decode(in, n, cap, out);
  }
  return zyk::DecodeStatus::unsupported;
}

void codec_limits(Codec c, const unsigned char *in, std::size_t n) {
  std::string full;
  if (run(c, in, n, k_cap, &full) != zyk::DecodeStatus::done) return;
  check(full.size() <= k_cap);
  if (full.empty()) return;
  std::string again;
  check(run(c, in, n, full.size(), &again) == zyk::DecodeStatus::done && again == full);
  std::string less;
  check(run(c, in, n, full.size() - 1, &less) == zyk::DecodeStatus::limit);
}

std::string image_of(const std::uint8_t *data, std::size_t size) {
  const auto *nl = static_cast<const std::uint8_t *>(std::memchr(data, '\n', size));
  const std::size_t head = nl ? static_cast<std::size_t>(nl - data) : size;
  const std::size_t body = nl ? size - head - 1 : 0;
  std::string s = "%PDF-1.4\n1 0 obj\n<< ";
  s.append(reinterpret_cast<const char *>(data), head);
  s += " /Length " + std::to_string(body) + " >>\nstream\n";
  if (body) s.append(reinterpret_cast<const char *>(nl + 1), body);
  s +=
      "\nendstream\nendobj\n2 0 obj\n/FlateDecode\nendobj\n3 0 obj\n<< /Predictor 13 /Columns 12 >>\nendobj\n"
      "4 0 obj\n<< /Type /Catalog /Pages 5 0 R >>\nendobj\n5 0 obj\n<< /Type /Pages /Kids [6 0 R] /Count 1 >>\n"
      "endobj\n6 0 obj\n<< /Type /Page /Parent 5 0 R /MediaBox [0 0 10 10] /Contents 1 0 R >>\nendobj\n"
      "trailer\n<< /Root 4 0 R >>\n%%EOF\n";
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  const auto *nl = static_cast<const std::uint8_t *>(std::memchr(data, '\n', size));
  const unsigned char *raw = nl ? nl + 1 : data + size;
  const std::size_t raw_len = static_cast<std::size_t>(data + size - raw);

  // The codecs on their own, over the stream's data.
  for (Codec c : {Codec::flate, Codec::lzw0, Codec::lzw1, Codec::a85, Codec::rl}) codec_limits(c, raw, raw_len);
  {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < raw_len; i++) {
      hex += digits[raw[i] >> 4];
      hex += digits[raw[i] & 15];
      if (i % 32 == 31) hex += '\n';
    }
    std::string back;
    check(zyk::hex_decode(reinterpret_cast<const unsigned char *>(hex.data()), 0, hex.size(), false, &back));
    check(back.size() == raw_len && (raw_len == 0 || std::memcmp(back.data(), raw, raw_len) == 0));
    (void)zyk::hex_decode(raw, 0, raw_len, true, &back);
  }

  // The stream service over the stream object of a file image.
  const std::string image = image_of(data, size);
  zyk::DocGuard g;
  zyk::ErrorText err;
  if (!zyk::doc_load_image(reinterpret_cast<const unsigned char *>(image.data()), static_cast<int>(image.size()), &g.d,
                           &err))
    return 0;
  const int k = zyk::obj_find(&g.d.objs, 1);
  if (k < 0 || !g.d.objs.elems[k].is_stream) return 0;
  const zyk::ObjEntry &e = g.d.objs.elems[k];
  zyk::DecodeBudget budget{std::uint64_t{4} << 20};
  const std::uint64_t before = budget.left;
  zyk::DecodeLimits limits{k_cap, &budget};
  std::string out;
  zyk::StreamResult r = zyk::stream_decode(g.d, e, limits, &out);
  check(!zyk::stream_failure_text(r).empty());
  if (!r.ok()) {
    check(out.empty() && budget.left == before);
  } else {
    check(out.size() <= k_cap && budget.left == before - out.size());
  }

  std::vector<zyk::FilterStep> steps;
  if (zyk::stream_filters(g.d, e, &steps) != zyk::DecodeStatus::done) {
    check(!r.ok());
    return 0;
  }
  std::string direct;
  zyk::ChainResult c = zyk::filter_chain(steps.data(), steps.size(), g.d.pdf + e.data_off,
                                         static_cast<std::size_t>(e.data_end - e.data_off), zyk::DecodeLimits{k_cap},
                                         &direct);
  check(c.status == r.status && direct == out);
  if (c.status != zyk::DecodeStatus::done) check(c.failed_step < steps.size());
  return 0;
}
