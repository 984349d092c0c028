// Base layer: the last-error text, the growable byte buffer and the plain
// containers used by every other folder.
//
// The containers are plain records that are valid when zero-filled and own
// heap storage obtained with malloc/realloc. None of their operations throws
// or reports failure through a return code that callers must check: a failed
// growth leaves a visible state (a null Buf::chars, an element not added and
// the container's `failed` flag raised) that callers test where it matters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zyk {

// ---- last-error text ------------------------------------------------------

inline constexpr std::size_t k_err_size = 1024;

// The exports' last-error text (what pdfa_last_error returns). Only api/
// writes it: the code below reports into the ErrorText of its call, which
// the export copies here.
// Formats a message into the last-error text (cut to 1023 bytes, always
// terminated) and returns the formatter's result.
int set_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
const char *error_text();
void clear_error();

// The error of one call into the library: empty until something fails;
// a later message replaces an earlier one. Cut to k_err_size - 1 bytes
// like the last-error text, so copying it there loses nothing.
struct ErrorText {
  std::string text;
  // Formats the message; returns false, so that a failing path can say
  // `return err->fail("...")`.
  bool fail(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  bool empty() const { return text.empty(); }
};

// ---- byte buffer ------------------------------------------------------------

inline constexpr std::size_t k_buf_initial = 1u << 20;  // 1 MiB

// Growable byte buffer, NUL-terminated whenever it holds storage. Content
// may contain NUL bytes; `used` is authoritative.
struct Buf {
  char *chars;
  std::uint64_t used;
  std::uint64_t cap;
};

char *buf_init(Buf *b);
void buf_reserve(Buf *b, std::uint64_t n);
void buf_bytes(Buf *b, const void *src, std::uint64_t n);
void buf_str(Buf *b, const char *s);
// printf-style append built on buf_bytes.
void buf_printf(Buf *b, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void buf_free(Buf *b);

// Owns a Buf for the length of a scope.
struct BufGuard {
  Buf b{};
  BufGuard() = default;
  BufGuard(const BufGuard &) = delete;
  BufGuard &operator=(const BufGuard &) = delete;
  ~BufGuard() { buf_free(&b); }
};

// ---- block list -------------------------------------------------------------

// Separately allocated blocks released together; blocks never move.
struct Arena {
  void **blocks;
  int nblocks;
  int cap;
};

void *arena_alloc(Arena *a, std::size_t size);
void arena_free(Arena *a);

// ---- element arrays -----------------------------------------------------------

// Growable array of trivially copyable records, stored by value. Doubles from
// `Start` elements. A push that cannot grow the storage leaves the array as
// it was and raises `failed`, so that an owner can refuse to go on with an
// incomplete table instead of silently losing an element.
template <class T, int Start>
struct ElemVec {
  T *elems;
  int nelems;
  int cap;
  int failed;
};

template <class T, int Start>
bool elemvec_push(ElemVec<T, Start> *v, const T &e) {
  if (v->nelems == v->cap) {
    long long ncap = v->nelems ? 2LL * v->nelems : Start;
    if (ncap > 0x7fffffff / 2) {
      v->failed = 1;
      return false;
    }
    void *p = std::realloc(v->elems, static_cast<std::size_t>(ncap) * sizeof(T));
    if (!p) {
      v->failed = 1;
      return false;
    }
    v->elems = static_cast<T *>(p);
    v->cap = static_cast<int>(ncap);
  }
  std::memcpy(static_cast<void *>(v->elems + v->nelems), &e, sizeof(T));
  v->nelems++;
  return true;
}

template <class T, int Start>
void elemvec_free(ElemVec<T, Start> *v) {
  std::free(v->elems);
  *v = ElemVec<T, Start>{};
}

// ---- object-number map --------------------------------------------------------

// Map from source object numbers to output object numbers: keys in insertion
// order, each at most once, with parallel values. A hash index over the keys
// keeps updates and lookups constant time for maps of any size.
struct ObjMap {
  int *keys;
  int *vals;
  int nkeys;
  int cap;
  int *slots;     // open-addressing index: key position + 1, 0 = empty
  int nslots;     // power of two, at least twice nkeys; 0 = no index
  int failed;
};

void objmap_push(ObjMap *m, int key, int val);
// Index of the key in `keys`, or -1.
int objmap_find(const ObjMap *m, int key);
void objmap_free(ObjMap *m);

}  // namespace zyk
