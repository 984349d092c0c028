// The predefined CJK CMaps and the CID -> Unicode tables of the Adobe
// orderings, read from the compressed resource data/cjk-cmaps.bin (made by
// tools/gen_cjk_cmaps.py, which documents its layout). Only the entry a
// font needs is inflated, each time it is asked for: the tables hold no
// state between calls.
#include <algorithm>
#include <cstring>
#include <span>

#include "flate/flate.h"
#include "font/font.h"
#include "font/source_font.h"

namespace zyk {

namespace {

// Largest decoded entry accepted (the largest real one is ~150 KB).
constexpr std::uint32_t k_max_entry = 4u << 20;

std::uint32_t be32(const unsigned char *p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
unsigned be16(const unsigned char *p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

// The decoded bytes of entry `name` of kind `kind`.
bool entry(std::string_view name, int kind, std::vector<unsigned char> *out) {
  std::span<const unsigned char> data = cjk_cmap_data();
  const unsigned char *b = data.data();
  std::size_t n = data.size();
  if (n < 6 || std::memcmp(b, "ZCJK", 4) != 0) return false;
  unsigned count = be16(b + 4);
  std::size_t p = 6;
  for (unsigned i = 0; i < count; i++) {
    if (p >= n) return false;
    std::size_t l = b[p];
    if (p + 1 + l + 13 > n) return false;
    std::string_view en(reinterpret_cast<const char *>(b) + p + 1, l);
    const unsigned char *r = b + p + 1 + l;
    p += 1 + l + 13;
    if (en != name || r[0] != kind) continue;
    std::uint32_t off = be32(r + 1), clen = be32(r + 5), rlen = be32(r + 9);
    if (off > n || clen > n - off || rlen > k_max_entry) return false;
    out->assign(rlen, 0);
    std::uint64_t got = 0;
    return inflate_decompress(b + off, clen, out->data(), rlen, &got) == 0 && got == rlen;
  }
  return false;
}

const char *const k_orderings[4] = {"Japan1", "GB1", "CNS1", "Korea1"};

}  // namespace

bool predefined_cmap(std::string_view name, PredefinedCMap *out) {
  *out = PredefinedCMap{};
  std::string n(name);
  // The Unicode CMaps of one ordering share the UTF-16 horizontal table.
  for (const char *uni : {"UniJIS-", "UniGB-", "UniCNS-", "UniKS-"}) {
    std::size_t ul = std::strlen(uni);
    if (n.compare(0, ul, uni) == 0 && (n.find("UCS2") != std::string::npos || n.find("UTF16") != std::string::npos)) {
      bool v = n.size() > 2 && n.compare(n.size() - 2, 2, "-V") == 0;
      n = std::string(uni) + "UTF16-H";
      out->wmode = v ? 1 : 0;
    }
  }
  std::vector<unsigned char> d;
  if (!entry(n, 0, &d) || d.size() < 3) return false;
  bool forced_v = out->wmode == 1;
  out->wmode = forced_v ? 1 : d[0];
  out->ordering = d[1];
  std::size_t p = 3;
  for (unsigned i = 0; i < d[2]; i++, p += 9) {
    if (p + 9 > d.size()) return false;
    out->spaces.push_back({d[p], be32(&d[p + 1]), be32(&d[p + 5])});
  }
  if (p + 4 > d.size()) return false;
  std::uint32_t nr = be32(&d[p]);
  p += 4;
  if (nr > (d.size() - p) / 8) return false;
  out->ranges.reserve(nr);
  std::uint32_t prev = 0, prev_cid = 0;
  for (std::uint32_t i = 0; i < nr; i++, p += 8) {
    std::uint32_t lo = prev + be32(&d[p]);
    std::uint32_t hi = lo + be16(&d[p + 4]);
    std::uint32_t cid = (prev_cid + be16(&d[p + 6])) & 0xFFFF;
    out->ranges.push_back({lo, hi, cid});
    prev = hi;
    prev_cid = cid;
  }
  return true;
}

bool cid_ordering_chars(std::string_view ordering, std::vector<std::uint32_t> *out) {
  out->clear();
  const char *name = nullptr;
  for (const char *o : k_orderings)
    if (ordering == o) name = o;
  std::vector<unsigned char> d;
  if (!name || !entry(name, 1, &d) || d.size() < 4) return false;
  std::uint32_t count = be32(d.data());
  if (count > (d.size() - 4) / 4) return false;
  out->resize(count);
  std::uint32_t u = 0;
  for (std::uint32_t i = 0; i < count; i++) {
    u += be32(&d[4 + 4 * static_cast<std::size_t>(i)]);
    (*out)[i] = u <= 0x10FFFF ? u : 0;
  }
  return true;
}

}  // namespace zyk
