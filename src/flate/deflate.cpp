// Deflate: a byte string compressed into a zlib-format stream.
//
// The encoder is small and fixed, and its output is defined to the byte:
//  - Independent blocks of at most 64 KiB of input, each written as one
//    dynamic-Huffman block; empty input is one final block with no data.
//    Matches never cross a block boundary and block position 0 never serves
//    as a match source (0 in the hash chains means "no entry").
//  - Greedy LZ77 over a 32 KiB window: at each position the longest match
//    among at most 128 hash-chain candidates wins, the nearest of equally
//    long ones; length 258 stops the walk. The hash of the next three bytes
//    is (961 b0 + 31 b1 + b2) mod 32768. A caller may trade size for speed
//    with a shorter walk and an earlier stop (DeflateEffort); the output
//    stays a function of the input and the effort alone.
//  - Huffman codes come from a min-heap (ties broken by subtree depth) and
//    are limited to 15 bits (7 for the code-length code) by moving overflow
//    into the deepest non-full length, then handing lengths out again in the
//    order the nodes were combined; codes are canonical.
//  - The header is 78 01; the Adler-32 of the input follows the last byte,
//    most significant byte first.
// The hash chains live in a work area allocated per call, so calls do not
// share state. Any allocation failure returns -1 with nothing handed over.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "flate/flate.h"
#include "flate/flate_limits.h"

namespace zyk {

namespace {

constexpr int k_window = 32768;
constexpr int k_hash_size = 32768;
constexpr int k_min_match = 3;
constexpr int k_max_match = 258;
constexpr int k_lit_symbols = 286;
constexpr int k_dist_symbols = 30;
constexpr int k_bl_symbols = 19;
constexpr int k_lit_nodes = 2 * k_lit_symbols;
constexpr int k_dist_nodes = 2 * k_dist_symbols + 1;
constexpr int k_bl_nodes = 2 * k_bl_symbols + 1;
constexpr int k_heap_size = 575;
constexpr int k_max_bits = 15;
constexpr int k_max_bl_bits = 7;
constexpr int k_end_of_block = 256;
constexpr int k_rep_3_6 = 16;
constexpr int k_repz_3_10 = 17;
constexpr int k_repz_11_138 = 18;
constexpr std::uint32_t k_adler_mod = 65521;
constexpr int k_adler_run = 5552;

constexpr int d_len_base[32] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int d_len_extra[32] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int d_dist_base[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,  33,  49,  65,  97,   129,
                                 193,  257,  385,  513,  769,  1025,  1537,  2049,  3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int d_dist_extra[32] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr int d_bl_order[24] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};

// Output writer: bits are sent least significant first.
struct DeflateStream {
  std::uint32_t bit_buf = 0;
  std::int32_t bit_count = 0;
  std::unique_ptr<unsigned char[], FreeDeleter> data;
  std::uint64_t len = 0;
  std::uint64_t cap = 0;
  bool failed = false;
};

void ds_byte(DeflateStream *s, unsigned char b) {
  if (s->failed) return;
  if (s->len == s->cap) {
    void *p = s->cap <= (UINT64_MAX >> 1) ? std::realloc(s->data.get(), static_cast<std::size_t>(s->cap * 2)) : nullptr;
    if (!p) {
      s->failed = true;
      return;
    }
    s->data.release();
    s->data.reset(static_cast<unsigned char *>(p));
    s->cap *= 2;
  }
  s->data[s->len++] = b;
}

// Appends n bits (n <= 15) of a value that fits in them.
void ds_put(DeflateStream *s, std::uint32_t value, int n) {
  s->bit_buf |= value << s->bit_count;
  s->bit_count += n;
  while (s->bit_count > 7) {
    ds_byte(s, static_cast<unsigned char>(s->bit_buf & 0xffu));
    s->bit_buf >>= 8;
    s->bit_count -= 8;
  }
}

struct TreeNode {
  std::uint32_t freq;
  std::int16_t len;
  std::uint16_t code;
  std::int16_t dad;
};

struct HeapWork {
  std::int32_t heap[k_heap_size];
  std::uint16_t depth[k_heap_size + 1];
  std::int32_t heap_len;
  std::int32_t heap_max;
  std::int32_t max_code;
};

bool smaller_or_equal(const TreeNode *tree, const HeapWork &w, int n, int m) {
  return tree[n].freq < tree[m].freq || (tree[n].freq == tree[m].freq && w.depth[n] <= w.depth[m]);
}

// Moves the node at heap position k down to its place. The son taken is the
// one with the lower frequency; on equal frequencies the right son only when
// its depth is strictly smaller.
void d_pqdown(const TreeNode *tree, HeapWork &w, int k) {
  int v = w.heap[k];
  int j = k << 1;
  while (j <= w.heap_len) {
    if (j < w.heap_len) {
      int a = w.heap[j + 1];
      int b = w.heap[j];
      if (tree[a].freq < tree[b].freq || (tree[a].freq == tree[b].freq && w.depth[a] < w.depth[b])) j++;
    }
    if (smaller_or_equal(tree, w, v, w.heap[j])) break;
    w.heap[k] = w.heap[j];
    k = j;
    j <<= 1;
  }
  w.heap[k] = v;
}

std::uint16_t reverse_code(unsigned code, int len) {
  unsigned r = 0;
  for (int i = 0; i < len; i++) {
    r = (r << 1) | (code & 1u);
    code >>= 1;
  }
  return static_cast<std::uint16_t>(r);
}

// Builds one length-limited canonical code over k symbols from their
// frequencies; returns the highest symbol with a code.
int d_build(TreeNode *tree, int k, int max_len) {
  HeapWork w{};
  w.heap_max = k_heap_size;
  w.max_code = -1;
  for (int n = 0; n < k; n++) {
    if (tree[n].freq != 0) {
      w.heap[++w.heap_len] = n;
      w.max_code = n;
      w.depth[n] = 0;
    } else {
      tree[n].len = 0;
    }
  }
  // At least two codes, so that every coded symbol gets a length of 1 or more.
  while (w.heap_len < 2) {
    int node = w.max_code < 2 ? ++w.max_code : 0;
    w.heap[++w.heap_len] = node;
    tree[node].freq = 1;
    w.depth[node] = 0;
  }
  for (int n = w.heap_len / 2; n >= 1; n--) d_pqdown(tree, w, n);

  int node = k;
  do {
    int n = w.heap[1];
    w.heap[1] = w.heap[w.heap_len--];
    d_pqdown(tree, w, 1);
    int m = w.heap[1];
    w.heap[--w.heap_max] = n;
    w.heap[--w.heap_max] = m;
    tree[node].freq = tree[n].freq + tree[m].freq;
    w.depth[node] = static_cast<std::uint16_t>((w.depth[n] >= w.depth[m] ? w.depth[n] : w.depth[m]) + 1);
    tree[n].dad = tree[m].dad = static_cast<std::int16_t>(node);
    w.heap[1] = node++;
    d_pqdown(tree, w, 1);
  } while (w.heap_len >= 2);
  w.heap[--w.heap_max] = w.heap[1];

  // Lengths from the root down; clamp at max_len and repair the overflow.
  int bl_count[k_max_bits + 1] = {};
  tree[w.heap[w.heap_max]].len = 0;
  int overflow = 0;
  int h;
  for (h = w.heap_max + 1; h < k_heap_size; h++) {
    int n = w.heap[h];
    int bits = tree[tree[n].dad].len + 1;
    if (bits > max_len) {
      bits = max_len;
      overflow++;
    }
    tree[n].len = static_cast<std::int16_t>(bits);
    if (n > w.max_code) continue;
    bl_count[bits]++;
  }
  if (overflow > 0) {
    do {
      int bits = max_len - 1;
      while (bl_count[bits] == 0) bits--;
      bl_count[bits]--;
      bl_count[bits + 1] += 2;
      bl_count[max_len]--;
      overflow -= 2;
    } while (overflow > 0);
    for (int bits = max_len; bits != 0; bits--) {
      int n = bl_count[bits];
      while (n != 0) {
        int m = w.heap[--h];
        if (m > w.max_code) continue;
        tree[m].len = static_cast<std::int16_t>(bits);
        n--;
      }
    }
  }

  // Canonical codes from the final lengths.
  int count[k_max_bits + 1] = {};
  for (int n = 0; n <= w.max_code; n++)
    if (tree[n].len > 0) count[tree[n].len]++;
  unsigned next_code[k_max_bits + 1] = {};
  unsigned code = 0;
  for (int bits = 1; bits <= max_len; bits++) {
    code = (code + static_cast<unsigned>(count[bits - 1])) << 1;
    next_code[bits] = code;
  }
  for (int n = 0; n < k; n++) {
    int len = tree[n].len;
    tree[n].code = len > 0 ? reverse_code(next_code[len]++, len) : 0;
  }
  return w.max_code;
}

// Walks one tree's code lengths (up to max_code; node max_code + 1 holds the
// end marker -1) as runs, and either counts the code-length symbols needed
// (bl_tree frequencies) or sends them.
template <class Emit>
void d_walk_tree(const TreeNode *tree, int max_code, Emit emit) {
  int prevlen = -1;
  int nextlen = tree[0].len;
  int count = 0;
  int max_count = 7;
  int min_count = 4;
  if (nextlen == 0) {
    max_count = 138;
    min_count = 3;
  }
  for (int n = 0; n <= max_code; n++) {
    int curlen = nextlen;
    nextlen = tree[n + 1].len;
    if (++count < max_count && curlen == nextlen) continue;
    if (count < min_count) {
      for (int i = 0; i < count; i++) emit(curlen, 0, 0);
    } else if (curlen != 0) {
      if (curlen != prevlen) {
        emit(curlen, 0, 0);
        count--;
      }
      emit(k_rep_3_6, static_cast<std::uint32_t>(count - 3), 2);
    } else if (count <= 10) {
      emit(k_repz_3_10, static_cast<std::uint32_t>(count - 3), 3);
    } else {
      emit(k_repz_11_138, static_cast<std::uint32_t>(count - 11), 7);
    }
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      max_count = 138;
      min_count = 3;
    } else if (curlen == nextlen) {
      max_count = 6;
      min_count = 3;
    } else {
      max_count = 7;
      min_count = 4;
    }
  }
}

void d_scan_tree(const TreeNode *tree, int max_code, TreeNode *bl_tree) {
  d_walk_tree(tree, max_code, [bl_tree](int sym, std::uint32_t, int) { bl_tree[sym].freq++; });
}

void d_send_tree(DeflateStream *s, const TreeNode *tree, int max_code, const TreeNode *bl_tree) {
  d_walk_tree(tree, max_code, [s, bl_tree](int sym, std::uint32_t extra, int nbits) {
    ds_put(s, bl_tree[sym].code, bl_tree[sym].len);
    if (nbits) ds_put(s, extra, nbits);
  });
}

struct LzSymbol {
  std::uint16_t length;  // 0: literal
  std::uint16_t value;   // the literal byte, or the distance
};

// Work area: the hash chains, the trees and the symbols of the current
// block. Chain entries hold a block position plus `base`, and every block
// starts with a base above all the entries written before, so a stale
// entry reads as a negative position, which no search follows: the head
// table needs no clearing between blocks or calls.
struct DeflateWork {
  std::int32_t d_head[k_hash_size];
  std::int32_t d_prev[k_window];
  TreeNode lit[k_lit_nodes];
  TreeNode dist[k_dist_nodes];
  TreeNode bl[k_bl_nodes];
  LzSymbol syms[k_deflate_block];
  std::int32_t base;
  // The base of the next block: past every position of the largest block
  // (the last one may have been larger than this one), clearing the table
  // when the positions would no longer fit.
  void next_block() {
    constexpr auto k_step = static_cast<std::int32_t>(k_deflate_block) + 1;
    if (base > std::numeric_limits<std::int32_t>::max() - 2 * k_step) {
      std::memset(d_head, 0, sizeof d_head);
      base = 0;
    } else {
      base += k_step;
    }
  }
};

// One work area per thread, kept between calls: conversions compress many
// small streams, and a fresh area each time cost more than compressing
// them (the allocation, and clearing the head table). Nothing in it
// carries over into an output: see DeflateWork.
DeflateWork *deflate_work() {
  thread_local std::unique_ptr<DeflateWork, FreeDeleter> work;
  if (!work) {
    work.reset(static_cast<DeflateWork *>(std::malloc(sizeof(DeflateWork))));
    if (work) {
      std::memset(work->d_head, 0, sizeof work->d_head);
      work->base = 0;
    }
  }
  return work.get();
}

// Symbol index of a match length (3..258) and of a distance (1..32,767): the
// largest table index whose base does not exceed the value, looked up in
// tables built once from the bases (the distance table by distance for
// 1..256, by (distance - 1) / 128 beyond).
struct SymbolTables {
  std::uint8_t len_index[k_max_match + 1];
  std::uint8_t dist_low[257];
  std::uint8_t dist_high[256];
  SymbolTables() {
    for (int l = 0; l <= k_max_match; l++) {
      int m = 0;
      for (int i = 0; i < 28; i++)
        if (d_len_base[i] <= l) m = i;
      len_index[l] = static_cast<std::uint8_t>(l == k_max_match ? 28 : m);
    }
    auto slow = [](int dist) {
      int d = 0;
      for (int i = 0; i < k_dist_symbols; i++)
        if (d_dist_base[i] <= dist) d = i;
      return d;
    };
    for (int dist = 0; dist <= 256; dist++) dist_low[dist] = static_cast<std::uint8_t>(slow(dist));
    // Beyond 256 every distance base is 1 + a multiple of 128, so all
    // distances with the same (dist - 1) / 128 share a symbol.
    for (int k = 0; k < 256; k++) dist_high[k] = static_cast<std::uint8_t>(slow(k * 128 + 1));
  }
};
const SymbolTables k_symbols;
static_assert(DeflateEffort{}.max_chain == k_deflate_max_chain);

inline int len_index(int length) { return k_symbols.len_index[length]; }
inline int dist_index(int dist) {
  return dist <= 256 ? k_symbols.dist_low[dist] : k_symbols.dist_high[(dist - 1) >> 7];
}

inline int hash3(const unsigned char *p) { return (961 * p[0] + 31 * p[1] + p[2]) % k_hash_size; }

bool d_emit_block(DeflateStream *s, DeflateWork *w, const unsigned char *in, int n, bool final_block,
                  const DeflateEffort &effort) {
  std::memset(w->lit, 0, sizeof w->lit);
  std::memset(w->dist, 0, sizeof w->dist);
  std::memset(w->bl, 0, sizeof w->bl);
  w->lit[k_end_of_block].freq = 1;
  w->next_block();
  const std::int32_t base = w->base;
  // d_prev needs no clearing either: a chain is entered only through d_head,
  // and every position it reaches was inserted in this block, with its
  // d_prev entry written then. A slot is overwritten only by a position
  // 32,768 later, by which time the older one lies outside the window and
  // the walk stops before following it.
  LzSymbol *syms = w->syms;
  int nsyms = 0;

  for (int p = 0; p < n;) {
    int best_len = 0;
    int best_c = 0;
    if (p + k_min_match <= n) {
      const int limit = p >= k_window ? p - k_window : 0;
      const int most = n - p < k_max_match ? n - p : k_max_match;
      int c = w->d_head[hash3(in + p)] - base;
      for (int chain = 0; c > limit && chain < effort.max_chain; chain++) {
        if (in[c] == in[p] && in[c + 1] == in[p + 1] && in[c + 2] == in[p + 2]) {
          int len = k_min_match;
          while (len < most && in[c + len] == in[p + len]) len++;
          if (len > best_len && len > 2) {
            best_len = len;
            best_c = c;
            if (len >= effort.nice_length) break;
          }
        }
        c = w->d_prev[c % k_window] - base;
      }
    }
    int step;
    if (best_len >= k_min_match) {
      int dist = p - best_c;
      syms[static_cast<std::size_t>(nsyms++)] = {static_cast<std::uint16_t>(best_len),
                                                 static_cast<std::uint16_t>(dist)};
      w->lit[257 + len_index(best_len)].freq++;
      w->dist[dist_index(dist)].freq++;
      step = best_len;
    } else {
      syms[static_cast<std::size_t>(nsyms++)] = {0, in[p]};
      w->lit[in[p]].freq++;
      step = 1;
    }
    for (int q = p; q < p + step && q + k_min_match <= n; q++) {
      int h = hash3(in + q);
      w->d_prev[q % k_window] = w->d_head[h];
      w->d_head[h] = q + base;
    }
    p += step;
  }

  int lmax = d_build(w->lit, k_lit_symbols, k_max_bits);
  int dmax = d_build(w->dist, k_dist_symbols, k_max_bits);
  w->lit[lmax + 1].len = -1;
  w->dist[dmax + 1].len = -1;
  d_scan_tree(w->lit, lmax, w->bl);
  d_scan_tree(w->dist, dmax, w->bl);
  d_build(w->bl, k_bl_symbols, k_max_bl_bits);
  int max_blindex = 3;
  for (int i = 18; i >= 4; i--)
    if (w->bl[d_bl_order[i]].len != 0) {
      max_blindex = i;
      break;
    }

  ds_put(s, final_block ? 1u : 0u, 1);
  ds_put(s, 2, 2);
  ds_put(s, static_cast<std::uint32_t>(lmax - 256), 5);
  ds_put(s, static_cast<std::uint32_t>(dmax), 5);
  ds_put(s, static_cast<std::uint32_t>(max_blindex - 3), 4);
  for (int i = 0; i <= max_blindex; i++) ds_put(s, static_cast<std::uint32_t>(w->bl[d_bl_order[i]].len), 3);
  d_send_tree(s, w->lit, lmax, w->bl);
  d_send_tree(s, w->dist, dmax, w->bl);

  for (int i = 0; i < nsyms; i++) {
    const LzSymbol &y = syms[static_cast<std::size_t>(i)];
    if (y.length == 0) {
      ds_put(s, w->lit[y.value].code, w->lit[y.value].len);
      continue;
    }
    int m = len_index(y.length);
    ds_put(s, w->lit[257 + m].code, w->lit[257 + m].len);
    if (d_len_extra[m]) ds_put(s, static_cast<std::uint32_t>(y.length - d_len_base[m]), d_len_extra[m]);
    int d = dist_index(y.value);
    ds_put(s, w->dist[d].code, w->dist[d].len);
    if (d_dist_extra[d]) ds_put(s, static_cast<std::uint32_t>(y.value - d_dist_base[d]), d_dist_extra[d]);
  }
  ds_put(s, w->lit[k_end_of_block].code, w->lit[k_end_of_block].len);
  return !s->failed;
}

std::uint32_t adler32(const unsigned char *p, std::uint64_t n) {
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  while (n > 0) {
    int run = n < static_cast<std::uint64_t>(k_adler_run) ? static_cast<int>(n) : k_adler_run;
    n -= static_cast<std::uint64_t>(run);
    for (int i = 0; i < run; i++) {
      a += *p++;
      b += a;
    }
    a %= k_adler_mod;
    b %= k_adler_mod;
  }
  return b << 16 | a;
}

}  // namespace

int sx_deflate(const unsigned char *in, std::uint64_t len, unsigned char **out, std::uint64_t *out_len) {
  return sx_deflate(in, len, out, out_len, DeflateEffort{});
}

int sx_deflate(const unsigned char *in, std::uint64_t len, unsigned char **out, std::uint64_t *out_len,
               const DeflateEffort &wanted) {
  DeflateEffort effort = wanted;
  if (effort.max_chain < 1) effort.max_chain = 1;
  if (effort.nice_length < k_min_match) effort.nice_length = k_min_match;
  if (effort.nice_length > k_max_match) effort.nice_length = k_max_match;
  if (!out || !out_len || (!in && len)) return -1;
  DeflateStream s;
  // Small inputs start with a buffer near their compressed size; the
  // buffer doubles as needed either way.
  const std::uint64_t first_cap = len / 2 + 256 < k_deflate_out_initial ? len / 2 + 256 : k_deflate_out_initial;
  s.data.reset(static_cast<unsigned char *>(std::malloc(first_cap)));
  if (!s.data) return -1;
  s.cap = first_cap;
  DeflateWork *work = deflate_work();
  if (!work) return -1;

  ds_put(&s, 0x78, 8);
  ds_put(&s, 0x01, 8);
  if (len == 0) {
    if (!d_emit_block(&s, work, in, 0, true, effort)) return -1;
  } else {
    for (std::uint64_t pos = 0; pos < len; pos += k_deflate_block) {
      std::uint64_t n = len - pos < k_deflate_block ? len - pos : k_deflate_block;
      if (!d_emit_block(&s, work, in + pos, static_cast<int>(n), pos + n == len, effort)) return -1;
    }
  }
  if (s.bit_count > 0) ds_put(&s, 0, 8 - s.bit_count);
  std::uint32_t adler = adler32(in, len);
  for (int shift = 24; shift >= 0; shift -= 8) ds_put(&s, (adler >> shift) & 0xffu, 8);
  if (s.failed) return -1;
  *out_len = s.len;
  *out = s.data.release();
  return 0;
}

}  // namespace zyk
