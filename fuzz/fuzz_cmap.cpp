// libFuzzer target for the CMap reader (ToUnicode and embedded encoding
// CMaps) and the code split that uses it.
//
// The input is CMap text. Properties:
//   - the index of the ranges is sorted, disjoint, and each run lies inside
//     the range it names;
//   - every lookup answers what a scan in order would: the bfchar entry,
//     else the first listed range holding the code (probed at every range
//     and run boundary, their neighbours and each bfchar code);
//   - reading the same text twice into one map answers the same;
//   - a composite font with the CMap's code-space ranges and ToUnicode
//     splits any bytes into codes of 1 to 4 bytes that add up to what it
//     reports taken.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "writer/text.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// The answer of a scan in order, as the reader defines lookups.
std::u32string scan_lookup(const zyk::SourceCMap &m, std::uint32_t code) {
  auto it = m.chars.find(code);
  if (it != m.chars.end()) return it->second;
  for (const zyk::SourceCMap::Range &r : m.ranges) {
    if (code < r.lo || code > r.hi) continue;
    const std::uint32_t k = code - r.lo;
    if (!r.base.empty()) {
      std::u32string s = r.base;
      s.back() += k;
      if (s.back() > 0x10FFFF || (s.back() >= 0xD800 && s.back() <= 0xDFFF)) return {};
      return s;
    }
    return k < r.list.size() ? r.list[k] : std::u32string{};
  }
  return {};
}

void add_probe(std::set<std::uint32_t> *p, std::uint64_t v) {
  if (v <= 0xFFFFFFFFu) p->insert(static_cast<std::uint32_t>(v));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size > (1u << 16)) return 0;
  zyk::SourceCMap m;
  zyk::cmap_parse(data, size, &m);

  for (std::size_t i = 0; i < m.runs.size(); i++) {
    const zyk::SourceCMap::Run &r = m.runs[i];
    check(r.lo <= r.hi && r.range < m.ranges.size());
    check(m.ranges[r.range].lo <= r.lo && r.hi <= m.ranges[r.range].hi);
    if (i > 0) check(m.runs[i - 1].hi < r.lo);
  }
  for (const zyk::SourceCMap::Range &r : m.ranges) check(r.lo <= r.hi);
  for (const zyk::CodeSpace &cs : m.spaces) check(cs.nbytes >= 1 && cs.nbytes <= zyk::k_max_code_bytes);

  // Probing is quadratic in the number of ranges; big maps are probed at
  // their first ranges only (the index itself is checked above).
  std::set<std::uint32_t> probes;
  std::size_t nr = 0;
  for (const zyk::SourceCMap::Range &r : m.ranges) {
    if (++nr > 256) break;
    for (std::uint64_t v : {std::uint64_t{r.lo}, std::uint64_t{r.hi}, std::uint64_t{r.lo} + 1, std::uint64_t{r.hi} + 1})
      add_probe(&probes, v);
    if (r.lo > 0) add_probe(&probes, std::uint64_t{r.lo} - 1);
    if (r.hi > r.lo) add_probe(&probes, r.lo + (r.hi - r.lo) / 2);
  }
  std::size_t nc = 0;
  for (const auto &[code, chars] : m.chars) {
    if (++nc > 256) break;
    add_probe(&probes, code);
    add_probe(&probes, std::uint64_t{code} + 1);
  }
  for (std::size_t i = 0; i < m.runs.size() && i < 256; i++) {
    add_probe(&probes, m.runs[i].lo);
    add_probe(&probes, std::uint64_t{m.runs[i].hi} + 1);
  }
  for (std::uint32_t code : probes) check(zyk::cmap_lookup(m, code) == scan_lookup(m, code));

  zyk::SourceCMap twice;
  zyk::cmap_parse(data, size, &twice);
  zyk::cmap_parse(data, size, &twice);
  for (std::uint32_t code : probes) check(zyk::cmap_lookup(twice, code) == zyk::cmap_lookup(m, code));

  zyk::SourceFont f;
  f.kind = zyk::TextKind::composite;
  f.spaces = m.spaces;
  f.to_unicode = m;
  f.has_to_unicode = true;
  std::vector<zyk::TextCode> codes;
  const std::size_t n = size < 512 ? size : 512;
  const std::size_t took = zyk::source_font_decode(f, data, n, &codes);
  check(took <= n);
  std::size_t sum = 0;
  for (const zyk::TextCode &c : codes) {
    check(c.nbytes >= 1 && c.nbytes <= zyk::k_max_code_bytes);
    sum += static_cast<std::size_t>(c.nbytes);
  }
  check(sum == took);
  return 0;
}
