// Object-stream expansion.
//
// Every stream whose dictionary names /ObjStm is decoded into a block of the
// document's arena, and each object it holds becomes a table entry whose
// text points into that block. The expansion is tolerant: a problem with one
// stream skips that stream (or one pair of it) and the load goes on.
//
// The rules, and the decisions taken:
//  - The body is decoded by the stream service like any stream (its whole
//    filter chain), bounded by k_objstm_max_body; a stream it cannot decode
//    is skipped. A Flate body that turns corrupt after a good start keeps
//    the objects before the fault.
//  - The arena keeps only a block of the body's exact size.
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
#include <string>

#include "flate/flate_limits.h"
#include "pdf/pdf.h"

namespace zyk {

namespace {

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

// Decodes the body into an arena block. Returns the block (null when the
// stream is skipped) and its valid length.
const byte *stream_body(Doc *d, const ObjEntry &e, int *body_len) {
  std::string data;
  DecodeLimits limits;
  limits.max_out = k_objstm_max_body;
  if (!stream_decode(*d, e, limits, &data).ok()) return nullptr;
  auto *blk = static_cast<byte *>(arena_alloc(&d->arena, data.size() + 1));
  if (!blk) return nullptr;
  if (!data.empty()) std::memcpy(blk, data.data(), data.size());
  blk[data.size()] = 0;
  *body_len = static_cast<int>(data.size());
  return blk;
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

  // /N and /First come from the dictionary alone, so a stream they rule out
  // is skipped before it is decoded.
  bool has_n = false;
  bool has_first = false;
  int count = value_of(t, wstart, wend, "N", [](int v) { return v > 0; }, &has_n);
  int first = value_of(t, wstart, wend, "First", [](int v) { return v >= 0; }, &has_first);
  if (!has_first || !has_n || count > k_objstm_max_n) return;

  int body_len = 0;
  const byte *body = stream_body(d, e, &body_len);
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
