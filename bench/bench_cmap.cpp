// ToUnicode lookups in a large CMap: 20,000 bfrange entries (the size a
// 500 KB CJK file carries) and 20,000 codes looked up, once each. The
// parse includes indexing the ranges; the lookups run on the index. A scan
// of the ranges in order, as lookups were once made, is measured in the
// same run as the yardstick.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "writer/text.h"

namespace {

constexpr unsigned k_ranges = 20000;
constexpr unsigned k_codes = 20000;

// Ranges of three codes each, every third one given as an array; written
// in shuffled order, as producers that merge subsets write them.
const std::string &cmap_text() {
  static const std::string t = [] {
    std::string s = "begincmap\n1 begincodespacerange <000000> <FFFFFF> endcodespacerange\n";
    char line[96];
    for (unsigned i = 0; i < k_ranges; i++) {
      if (i % 100 == 0) s += i ? "endbfrange\n100 beginbfrange\n" : "100 beginbfrange\n";
      unsigned r = (i * 7919u) % k_ranges;  // a permutation: 7919 is prime to 20,000
      unsigned lo = r * 4;
      if (r % 3 == 0)
        std::snprintf(line, sizeof line, "<%06X> <%06X> [<%04X> <%04X> <%04X>]\n", lo, lo + 2, 0x4E00 + r % 0x5000,
                      0x4E01 + r % 0x5000, 0x4E02 + r % 0x5000);
      else
        std::snprintf(line, sizeof line, "<%06X> <%06X> <%04X>\n", lo, lo + 2, 0x4E00 + r % 0x5000);
      s += line;
    }
    s += "endbfrange\nendcmap\n";
    return s;
  }();
  return t;
}

std::vector<std::uint32_t> codes() {
  std::vector<std::uint32_t> c;
  for (unsigned i = 0; i < k_codes; i++) c.push_back(((i * 104729u) % (k_ranges * 4)));
  return c;
}

const zyk::SourceCMap &parsed() {
  static const zyk::SourceCMap m = [] {
    zyk::SourceCMap p;
    const std::string &t = cmap_text();
    zyk::cmap_parse(reinterpret_cast<const unsigned char *>(t.data()), t.size(), &p);
    return p;
  }();
  return m;
}

void BM_CMapParseAndIndex(benchmark::State &state) {
  const std::string &t = cmap_text();
  for (auto _ : state) {
    zyk::SourceCMap m;
    zyk::cmap_parse(reinterpret_cast<const unsigned char *>(t.data()), t.size(), &m);
    benchmark::DoNotOptimize(m.runs.data());
  }
  state.counters["ranges"] = static_cast<double>(parsed().ranges.size());
}
BENCHMARK(BM_CMapParseAndIndex)->Unit(benchmark::kMillisecond);

void BM_CMapLookup20000Codes(benchmark::State &state) {
  const zyk::SourceCMap &m = parsed();
  const std::vector<std::uint32_t> cs = codes();
  std::size_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (std::uint32_t c : cs) found += !zyk::cmap_lookup(m, c).empty();
    benchmark::DoNotOptimize(found);
  }
  state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_CMapLookup20000Codes)->Unit(benchmark::kMillisecond);

// The yardstick: every code against the ranges in order.
void BM_LinearScan20000Codes(benchmark::State &state) {
  const zyk::SourceCMap &m = parsed();
  const std::vector<std::uint32_t> cs = codes();
  std::size_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (std::uint32_t c : cs) {
      for (const zyk::SourceCMap::Range &r : m.ranges) {
        if (c < r.lo || c > r.hi) continue;
        found += !r.base.empty() || c - r.lo < r.list.size();
        break;
      }
    }
    benchmark::DoNotOptimize(found);
  }
  state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_LinearScan20000Codes)->Unit(benchmark::kMillisecond);

}  // namespace
