// Byte buffer, block list and object-number map.
#include <cstdarg>
#include <cstdio>

#include "base/base.h"

namespace zyk {

// ---- Buf ----------------------------------------------------------------

char *buf_init(Buf *b) {
  b->chars = static_cast<char *>(std::malloc(k_buf_initial));
  b->cap = b->chars ? k_buf_initial : 0;
  b->used = 0;
  if (b->chars) b->chars[0] = 0;
  return b->chars;
}

// Makes room for n more content bytes plus the terminator. Growth doubles the
// capacity until it fits; a failed reallocation empties the buffer (null,
// 0, 0) so that callers see the loss by testing `chars`.
void buf_reserve(Buf *b, std::uint64_t n) {
  if (!b->chars && !buf_init(b)) return;
  std::uint64_t need = b->used + n + 1;
  if (need < n) {  // wrapped: no buffer can hold it
    buf_free(b);
    return;
  }
  if (need <= b->cap) return;
  std::uint64_t ncap = b->cap;
  while (ncap < need) {
    if (ncap > (UINT64_MAX >> 1)) {
      buf_free(b);
      return;
    }
    ncap *= 2;
  }
  if (ncap > SIZE_MAX) {
    buf_free(b);
    return;
  }
  void *p = std::realloc(b->chars, static_cast<std::size_t>(ncap));
  if (!p) {
    buf_free(b);
    return;
  }
  b->chars = static_cast<char *>(p);
  b->cap = ncap;
}

void buf_bytes(Buf *b, const void *src, std::uint64_t n) {
  buf_reserve(b, n);
  if (!b->chars) return;
  if (n) std::memcpy(b->chars + b->used, src, static_cast<std::size_t>(n));
  b->used += n;
  b->chars[b->used] = 0;
}

void buf_str(Buf *b, const char *s) { buf_bytes(b, s, std::strlen(s)); }

void buf_printf(Buf *b, const char *fmt, ...) {
  char small[256];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    buf_bytes(b, small, static_cast<std::uint64_t>(n));
    return;
  }
  buf_reserve(b, static_cast<std::uint64_t>(n));
  if (!b->chars) return;
  va_start(ap, fmt);
  std::vsnprintf(b->chars + b->used, static_cast<std::size_t>(n) + 1, fmt, ap);
  va_end(ap);
  b->used += static_cast<std::uint64_t>(n);
}

void buf_free(Buf *b) {
  std::free(b->chars);
  *b = Buf{};
}

// ---- Arena --------------------------------------------------------------

void *arena_alloc(Arena *a, std::size_t size) {
  void *blk = std::malloc(size ? size : 1);
  if (!blk) return nullptr;
  if (a->nblocks == a->cap) {
    int ncap = a->nblocks ? 2 * a->nblocks : 4;
    void *p = (a->nblocks < (1 << 29)) ? std::realloc(a->blocks, sizeof(void *) * static_cast<std::size_t>(ncap)) : nullptr;
    if (!p) {
      std::free(blk);
      return nullptr;
    }
    a->blocks = static_cast<void **>(p);
    a->cap = ncap;
  }
  a->blocks[a->nblocks++] = blk;
  return blk;
}

void arena_free(Arena *a) {
  for (int i = 0; i < a->nblocks; i++) std::free(a->blocks[i]);
  std::free(a->blocks);
  *a = Arena{};
}

// ---- ObjMap -------------------------------------------------------------

namespace {

unsigned hash_int(int k) {
  auto x = static_cast<std::uint32_t>(k);
  x *= 0x9E3779B1u;
  return x ^ (x >> 15);
}

// Rebuilds the hash index for the current keys with room for `want` keys.
// On failure the index is dropped and lookups fall back to a linear scan.
void objmap_reindex(ObjMap *m, int want) {
  int ns = 64;
  while (ns < 2 * want && ns < (1 << 29)) ns *= 2;
  std::free(m->slots);
  m->slots = static_cast<int *>(std::calloc(static_cast<std::size_t>(ns), sizeof(int)));
  m->nslots = m->slots ? ns : 0;
  if (!m->slots) return;
  for (int i = 0; i < m->nkeys; i++) {
    unsigned h = hash_int(m->keys[i]) & static_cast<unsigned>(ns - 1);
    while (m->slots[h]) h = (h + 1) & static_cast<unsigned>(ns - 1);
    m->slots[h] = i + 1;
  }
}

}  // namespace

int objmap_find(const ObjMap *m, int key) {
  if (m->nslots) {
    unsigned mask = static_cast<unsigned>(m->nslots - 1);
    for (unsigned h = hash_int(key) & mask;; h = (h + 1) & mask) {
      int s = m->slots[h];
      if (!s) return -1;
      if (m->keys[s - 1] == key) return s - 1;
    }
  }
  for (int i = 0; i < m->nkeys; i++)
    if (m->keys[i] == key) return i;
  return -1;
}

void objmap_push(ObjMap *m, int key, int val) {
  int at = objmap_find(m, key);
  if (at >= 0) {
    m->vals[at] = val;
    return;
  }
  if (m->nkeys == m->cap) {
    if (m->nkeys >= (1 << 29)) {
      m->failed = 1;
      return;
    }
    int ncap = m->nkeys ? 2 * m->nkeys : 64;
    void *k = std::realloc(m->keys, sizeof(int) * static_cast<std::size_t>(ncap));
    if (!k) {
      m->failed = 1;
      return;
    }
    m->keys = static_cast<int *>(k);
    void *v = std::realloc(m->vals, sizeof(int) * static_cast<std::size_t>(ncap));
    if (!v) {
      m->failed = 1;
      return;
    }
    m->vals = static_cast<int *>(v);
    m->cap = ncap;
  }
  m->keys[m->nkeys] = key;
  m->vals[m->nkeys] = val;
  m->nkeys++;
  if (m->nslots && m->nslots >= 2 * m->nkeys) {
    unsigned mask = static_cast<unsigned>(m->nslots - 1);
    unsigned h = hash_int(key) & mask;
    while (m->slots[h]) h = (h + 1) & mask;
    m->slots[h] = m->nkeys;
  } else {
    objmap_reindex(m, 2 * m->nkeys);
  }
}

void objmap_free(ObjMap *m) {
  std::free(m->keys);
  std::free(m->vals);
  std::free(m->slots);
  *m = ObjMap{};
}

}  // namespace zyk
