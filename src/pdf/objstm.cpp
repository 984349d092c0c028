// Object-stream expansion.
//
// Every stream whose dictionary names /ObjStm is decoded into a block of the
// document's arena, and each object it holds becomes a table entry whose
// text points into that block. The expansion is tolerant: a problem with one
// stream skips that stream (or one pair of it) and the load goes on.
//
// The rules, and the decisions taken:
//  - Only FlateDecode is decoded; any other stream body is used as it is
//    (no other filter, no /DecodeParms).
//  - A decode that fails is retried with a block four times larger, from
//    8 x encoded length + 64 up to the size limit. A retry happens only
//    while it can help: DEFLATE produces at most 1032 bytes per input byte
//    (a 258-byte match in two bits), so once a block reaches that bound a
//    failure is truncation or a bad header and no larger block changes it.
//    Without this bound a few bytes of broken data would make the loader
//    allocate and fill about a gigabyte.
//  - Attempts decode into a scratch buffer released at once; the arena keeps
//    only a block of the body's exact size, so failed attempts and the slack
//    of the successful one never stay with the document.
//  - The pairs "number offset" are read from the start of the body, not from
//    the area before /First; N is the first /N value above 0, First the first
//    /First value not below 0.
//  - Offsets are added in 64 bits: First + offset + length of a hostile
//    stream must not wrap into an in-range pointer.
//  - Object numbers are not checked for uniqueness and offsets need not
//    increase; a non-increasing offset gives a length below 1 and the pair is
//    passed over. Nested object streams are never expanded; /Extends is
//    ignored.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "flate/flate.h"
#include "flate/flate_limits.h"
#include "pdf/pdf.h"

namespace zyk {

namespace {

constexpr long long k_objstm_max_encoded = 268435456;   // larger streams are skipped
constexpr std::uint64_t k_objstm_max_try = 268435455;   // no retry after a block above this
constexpr std::uint64_t k_objstm_first_factor = 8;
constexpr std::uint64_t k_objstm_first_slack = 64;
constexpr std::uint64_t k_objstm_growth = 4;

constexpr int k_objstm_max_n = 100000;
constexpr int k_objstm_max_obj_len = 1048576;

// Scratch memory comes from malloc so that running out of it skips a stream
// instead of throwing out of the loader.
struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};
template <class T>
using Scratch = std::unique_ptr<T[], FreeDeleter>;

template <class T>
Scratch<T> scratch(std::uint64_t count) {
  return Scratch<T>(static_cast<T *>(std::malloc(static_cast<std::size_t>(count) * sizeof(T))));
}

// Decodes or copies the body into an arena block. Returns the block (null
// when the stream is skipped) and its valid length.
const byte *stream_body(Doc *d, const byte *data, int n, bool flate, int *body_len) {
  if (!flate) {
    auto *blk = static_cast<byte *>(arena_alloc(&d->arena, static_cast<std::size_t>(n) + 1));
    if (!blk) return nullptr;
    if (n) std::memcpy(blk, data, static_cast<std::size_t>(n));
    blk[n] = 0;
    *body_len = n;
    return blk;
  }
  const std::uint64_t useful = k_deflate_max_ratio * static_cast<std::uint64_t>(n) + k_objstm_first_slack;
  for (std::uint64_t size = k_objstm_first_factor * static_cast<std::uint64_t>(n) + k_objstm_first_slack;;
       size *= k_objstm_growth) {
    Scratch<unsigned char> buf = scratch<unsigned char>(size);
    if (!buf) return nullptr;
    std::uint64_t produced = 0;
    if (inflate_decompress(data, static_cast<std::uint64_t>(n), buf.get(), size, &produced) == 0) {
      auto *blk = static_cast<byte *>(arena_alloc(&d->arena, static_cast<std::size_t>(produced) + 1));
      if (!blk) return nullptr;
      if (produced) std::memcpy(blk, buf.get(), static_cast<std::size_t>(produced));
      blk[produced] = 0;
      *body_len = static_cast<int>(produced);
      return blk;
    }
    if (size > k_objstm_max_try || size >= useful) return nullptr;
  }
}

// The first value after an occurrence of /name that passes `accept`, read
// after white space within the window; `found` false when there is none.
template <class Accept>
int value_of(const byte *t, int start, int end, const char *name, Accept accept, bool *found) {
  const int skip = 1 + static_cast<int>(std::strlen(name));
  for (int p = find_name(t, end, start, end, name); p >= 0; p = find_name(t, end, p + 1, end, name)) {
    int i = skip_ws(t, p + skip, end);
    int v = parse_int_at(t, end, &i);
    if (accept(v)) {
      *found = true;
      return v;
    }
  }
  *found = false;
  return -1;
}

void expand_one(Doc *d, const ObjEntry e) {
  const byte *t = d->pdf;
  const int wstart = e.dict_off;
  const int wend = e.stream_off > 0 ? e.stream_off : d->pdf_len;
  if (find_name(t, wend, wstart, wend, "ObjStm") < 0) return;

  long long enc = static_cast<long long>(e.data_end) - e.data_off;
  if (enc < 0 || enc > k_objstm_max_encoded) return;
  if (e.data_off < 0 || static_cast<long long>(e.data_off) + enc > d->pdf_len) return;
  const int n = static_cast<int>(enc);

  // /N and /First come from the dictionary alone, so a stream they rule out
  // is skipped before it is decoded.
  bool has_n = false;
  bool has_first = false;
  int count = value_of(t, wstart, wend, "N", [](int v) { return v > 0; }, &has_n);
  int first = value_of(t, wstart, wend, "First", [](int v) { return v >= 0; }, &has_first);
  if (!has_first || !has_n || count > k_objstm_max_n) return;

  int body_len = 0;
  const bool flate = find_name(t, wend, wstart, wend, "FlateDecode") >= 0;
  const byte *body = stream_body(d, t + e.data_off, n, flate, &body_len);
  if (!body || first > body_len) return;

  // All 2N numbers must be readable and non-negative before any entry is
  // added: a stream with an unreadable pair contributes nothing.
  Scratch<int> pairs = scratch<int>(2 * static_cast<std::uint64_t>(count));
  if (!pairs) return;
  int pos = 0;
  for (int k = 0; k < 2 * count; k++) {
    int v = read_int_adv(body, body_len, &pos);
    if (v < 0) return;
    pairs[static_cast<std::size_t>(k)] = v;
  }
  for (int j = 0; j < count; j++) {
    const int num = pairs[2 * static_cast<std::size_t>(j)];
    const long long off = pairs[2 * static_cast<std::size_t>(j) + 1];
    const long long begin = static_cast<long long>(first) + off;
    const long long len =
        j + 1 < count ? static_cast<long long>(pairs[2 * static_cast<std::size_t>(j) + 3]) - off : body_len - begin;
    if (num <= 0 || len < 1 || len > k_objstm_max_obj_len || begin + len > body_len) continue;
    ObjEntry o{num, -1, -1, -1, -1, -1, -1, 0, 1, body + begin, static_cast<int>(len)};
    objvec_push(&d->objs, o);
  }
}

}  // namespace

void objstm_expand(Doc *d) {
  // Entries appended here come from object streams and are never expanded,
  // so the visit stops at the table's length on entry. Each entry is copied
  // before expanding: appending may move the table.
  const int n = d->objs.nelems;
  for (int i = 0; i < n; i++) {
    const ObjEntry e = d->objs.elems[i];
    if (!e.is_stream || e.in_objstm || e.dict_off < 0) continue;
    expand_one(d, e);
  }
}

}  // namespace zyk
