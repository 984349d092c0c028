// The filter chain: the steps of one stream, in the order /Filter lists
// them, each fed the previous one's output, under one set of limits.
#include <algorithm>

#include "filter/filter.h"

namespace zyk {

const char *decode_status_text(DecodeStatus s) {
  switch (s) {
    case DecodeStatus::done:
      return "decoded";
    case DecodeStatus::truncated:
      return "truncated data";
    case DecodeStatus::corrupt:
      return "corrupt data";
    case DecodeStatus::limit:
      return "decoded size limit reached";
    case DecodeStatus::unsupported:
      return "not decodable here";
  }
  return "corrupt data";
}

FilterKind filter_kind(std::string_view n) {
  if (n == "FlateDecode" || n == "Fl") return FilterKind::flate;
  if (n == "LZWDecode" || n == "LZW") return FilterKind::lzw;
  if (n == "ASCII85Decode" || n == "A85") return FilterKind::ascii85;
  if (n == "ASCIIHexDecode" || n == "AHx") return FilterKind::asciihex;
  if (n == "RunLengthDecode" || n == "RL") return FilterKind::runlength;
  if (n == "DCTDecode" || n == "DCT") return FilterKind::dct;
  if (n == "JPXDecode") return FilterKind::jpx;
  if (n == "CCITTFaxDecode" || n == "CCF") return FilterKind::ccitt;
  if (n == "JBIG2Decode") return FilterKind::jbig2;
  if (n == "Crypt") return FilterKind::crypt;
  return FilterKind::unknown;
}

const char *filter_kind_name(FilterKind k) {
  switch (k) {
    case FilterKind::flate:
      return "FlateDecode";
    case FilterKind::lzw:
      return "LZWDecode";
    case FilterKind::ascii85:
      return "ASCII85Decode";
    case FilterKind::asciihex:
      return "ASCIIHexDecode";
    case FilterKind::runlength:
      return "RunLengthDecode";
    case FilterKind::dct:
      return "DCTDecode";
    case FilterKind::jpx:
      return "JPXDecode";
    case FilterKind::ccitt:
      return "CCITTFaxDecode";
    case FilterKind::jbig2:
      return "JBIG2Decode";
    case FilterKind::crypt:
      return "Crypt";
    case FilterKind::unknown:
      break;
  }
  return "unknown filter";
}

ChainResult filter_chain(const FilterStep *steps, std::size_t nsteps, const unsigned char *in, std::size_t n,
                         const DecodeLimits &limits, std::string *out) {
  ChainResult r;
  std::uint64_t cap = limits.max_out;
  if (limits.budget) cap = std::min(cap, limits.budget->left);
  out->assign(reinterpret_cast<const char *>(in), n);
  std::string next;
  for (std::size_t k = 0; k < nsteps; k++) {
    const FilterStep &st = steps[k];
    const auto *src = reinterpret_cast<const unsigned char *>(out->data());
    const std::size_t len = out->size();
    DecodeStatus s;
    bool damaged = false;
    switch (st.kind) {
      case FilterKind::flate:
        s = flate_decode(src, len, cap, &next, &damaged);
        if (s == DecodeStatus::done) s = unpredict(st.params, &next);
        break;
      case FilterKind::lzw:
        s = lzw_decode(src, len, st.params.early ? 1 : 0, cap, &next);
        if (s == DecodeStatus::done) s = unpredict(st.params, &next);
        break;
      case FilterKind::ascii85:
        s = ascii85_decode(src, len, cap, &next);
        break;
      case FilterKind::asciihex:
        s = hex_decode(src, 0, len, false, &next) ? DecodeStatus::done : DecodeStatus::corrupt;
        break;
      case FilterKind::runlength:
        s = runlength_decode(src, len, cap, &next);
        break;
      default:
        s = DecodeStatus::unsupported;
        break;
    }
    if (s == DecodeStatus::done && next.size() > cap) s = DecodeStatus::limit;
    if (s != DecodeStatus::done) {
      r.status = s;
      r.failed_step = k;
      out->clear();
      return r;
    }
    r.damaged = r.damaged || damaged;
    out->swap(next);
  }
  if (limits.budget) limits.budget->left -= std::min<std::uint64_t>(limits.budget->left, out->size());
  return r;
}

}  // namespace zyk
