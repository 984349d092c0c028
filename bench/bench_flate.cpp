// Inflate and deflate throughput on real data: every FlateDecode stream of
// the shared corpus that zlib decodes completely. The library's decoder and
// zlib's uncompress decode the same streams into buffers of the same size in
// the same run; throughput counts decoded bytes. The encoders compress the
// decoded contents. Without the corpus every benchmark skips.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "flate/flate.h"
#include "pdf/pdf.h"

namespace {

struct Stream {
  std::vector<unsigned char> raw;
  std::size_t decoded;
};

struct Corpus {
  std::vector<Stream> streams;
  std::vector<std::vector<unsigned char>> plain;  // decoded contents
  std::size_t decoded_total = 0;
  std::size_t plain_total = 0;
};

const Corpus &corpus() {
  static const Corpus c = [] {
    Corpus built;
    namespace fs = std::filesystem;
    fs::path dir = fs::path(ZYK_SHARED_DIR) / "corpus";
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return built;
    std::vector<std::string> files;
    for (auto &e : fs::recursive_directory_iterator(dir, ec))
      if (e.is_regular_file() && e.path().extension() == ".pdf") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    for (const std::string &f : files) {
      zyk::DocGuard g;
      zyk::ErrorText err;
      if (!zyk::doc_load(f.c_str(), &g.d, &err)) continue;
      const zyk::Doc &d = g.d;
      for (int i = 0; i < d.objs.nelems; i++) {
        const zyk::ObjEntry &e = d.objs.elems[i];
        const zyk::byte *t;
        int s, end;
        if (!e.is_stream || e.data_end <= e.data_off || !zyk::dict_range(d.pdf, d.pdf_len, e, &t, &s, &end)) continue;
        if (zyk::find_name(t, end, s, end, "FlateDecode") < 0) continue;
        std::vector<unsigned char> raw(d.pdf + e.data_off, d.pdf + e.data_end);
        uLongf cap = static_cast<uLongf>(20 * raw.size() + 4096);
        std::vector<unsigned char> out(cap);
        if (uncompress(out.data(), &cap, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) continue;
        out.resize(cap);
        built.decoded_total += cap;
        built.streams.push_back({std::move(raw), cap});
        built.plain_total += out.size();
        built.plain.push_back(std::move(out));
      }
    }
    return built;
  }();
  return c;
}

bool skip_without_corpus(benchmark::State &state) {
  if (!corpus().streams.empty()) return false;
  state.SkipWithError("shared corpus not present");
  return true;
}

void BM_inflate_zyk(benchmark::State &state) {
  if (skip_without_corpus(state)) return;
  const Corpus &c = corpus();
  std::vector<unsigned char> out(std::max_element(c.streams.begin(), c.streams.end(), [](auto &a, auto &b) {
                                   return a.decoded < b.decoded;
                                 })->decoded);
  for (auto _ : state) {
    for (const Stream &s : c.streams) {
      std::uint64_t len = 0;
      int rc = zyk::inflate_decompress(s.raw.data(), s.raw.size(), out.data(), s.decoded, &len);
      if (rc != 0 || len != s.decoded) state.SkipWithError("decode mismatch");
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.decoded_total));
  state.counters["streams"] = static_cast<double>(c.streams.size());
}

void BM_inflate_zlib(benchmark::State &state) {
  if (skip_without_corpus(state)) return;
  const Corpus &c = corpus();
  std::vector<unsigned char> out(std::max_element(c.streams.begin(), c.streams.end(), [](auto &a, auto &b) {
                                   return a.decoded < b.decoded;
                                 })->decoded);
  for (auto _ : state) {
    for (const Stream &s : c.streams) {
      uLongf len = static_cast<uLongf>(s.decoded);
      int rc = uncompress(out.data(), &len, s.raw.data(), static_cast<uLong>(s.raw.size()));
      if (rc != Z_OK || len != s.decoded) state.SkipWithError("decode mismatch");
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.decoded_total));
  state.counters["streams"] = static_cast<double>(c.streams.size());
}

// Throughput counts input (uncompressed) bytes.
void BM_deflate_zyk(benchmark::State &state) {
  if (skip_without_corpus(state)) return;
  const Corpus &c = corpus();
  std::size_t out_total = 0;
  for (auto _ : state) {
    out_total = 0;
    for (const auto &p : c.plain) {
      unsigned char *out = nullptr;
      std::uint64_t len = 0;
      if (zyk::sx_deflate(p.data(), p.size(), &out, &len) != 0) state.SkipWithError("deflate failed");
      out_total += len;
      std::free(out);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.plain_total));
  state.counters["ratio"] = static_cast<double>(out_total) / static_cast<double>(c.plain_total);
}

void BM_deflate_zlib(benchmark::State &state) {
  if (skip_without_corpus(state)) return;
  const Corpus &c = corpus();
  const int level = static_cast<int>(state.range(0));
  std::size_t out_total = 0;
  std::vector<unsigned char> out;
  for (auto _ : state) {
    out_total = 0;
    for (const auto &p : c.plain) {
      uLongf len = compressBound(static_cast<uLong>(p.size()));
      out.resize(len);
      if (compress2(out.data(), &len, p.data(), static_cast<uLong>(p.size()), level) != Z_OK)
        state.SkipWithError("compress failed");
      out_total += len;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.plain_total));
  state.counters["ratio"] = static_cast<double>(out_total) / static_cast<double>(c.plain_total);
}

}  // namespace

BENCHMARK(BM_inflate_zyk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_inflate_zlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_deflate_zyk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_deflate_zlib)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
