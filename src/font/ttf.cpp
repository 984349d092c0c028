// TrueType (sfnt) reader: table directory, head/maxp/name facts, table
// copies, Unicode cmap lookup and advance widths.
//
// Design decisions:
// - The font is an untrusted byte range. Every multi-byte read goes through
//   one bounded reader (Span::u16 / Span::u32) that answers "no value" instead
//   of reading past the range; offsets are computed in 64 bits so that no sum
//   of 32-bit file fields can wrap around.
// - Tables are looked up by the first directory record carrying the tag. A
//   record whose range passes the end of the file makes the table absent; a
//   later duplicate record is never consulted, so a damaged directory cannot
//   smuggle in a second, different table.
// - cmap lookups read only inside the cmap table, not merely inside the file:
//   a subtable cannot reach into a neighbouring table.
// - Nothing is cached: each call re-reads the directory. The only font the
//   library reads this way is its own substitute font, a few calls per glyph.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "font/font.h"

namespace zyk {
namespace {

// A bounded view of bytes; reads outside it yield false.
struct Span {
  const unsigned char *p;
  std::uint64_t n;

  bool u16(std::uint64_t off, std::uint32_t *v) const {
    if (off > n || n - off < 2) return false;
    *v = static_cast<std::uint32_t>(p[off]) << 8 | p[off + 1];
    return true;
  }
  bool u32(std::uint64_t off, std::uint32_t *v) const {
    if (off > n || n - off < 4) return false;
    *v = static_cast<std::uint32_t>(p[off]) << 24 | static_cast<std::uint32_t>(p[off + 1]) << 16 |
         static_cast<std::uint32_t>(p[off + 2]) << 8 | p[off + 3];
    return true;
  }
};

constexpr std::uint64_t k_sfnt_header = 12;
constexpr std::uint64_t k_dir_record = 16;

// The table with this tag as a Span when it lies within the file and is at
// least min_len bytes long.
bool table_span(const unsigned char *font, std::uint64_t len, const char tag[4], std::uint64_t min_len,
                Span *out) {
  std::uint32_t off = 0, tl = 0;
  if (!find_table(font, len, tag, &off, &tl) || tl < min_len) return false;
  *out = Span{font + off, tl};
  return true;
}

// ---- name table: the family name (nameID 1) -------------------------------

constexpr std::uint32_t k_platform_mac = 1;
constexpr std::uint32_t k_platform_windows = 3;
constexpr std::uint32_t k_name_family = 1;

// Converts one name string to printable ASCII ('?' for anything else),
// storing at most 127 characters. Windows strings are UTF-16BE code units
// (an odd trailing byte is dropped); Macintosh strings are single bytes.
int convert_name(const unsigned char *s, std::uint32_t n, bool utf16, char *dst) {
  int k = 0;
  std::uint32_t step = utf16 ? 2 : 1;
  for (std::uint32_t i = 0; i + step <= n && k < 127; i += step) {
    std::uint32_t u = utf16 ? (static_cast<std::uint32_t>(s[i]) << 8 | s[i + 1]) : s[i];
    dst[k++] = (u >= 0x20 && u <= 0x7E) ? static_cast<char>(u) : '?';
  }
  dst[k] = 0;
  return k;
}

// Two passes over the name records, Windows first and Macintosh second, so a
// Windows family name wins whatever the record order. Within a pass the first
// record whose string lies inside the table and converts to a non-empty text
// is taken. Other platforms (Unicode included) are never used.
void read_family(const Span &nm, char *family) {
  std::uint32_t count = 0, str_off = 0;
  if (!nm.u16(2, &count) || !nm.u16(4, &str_off)) return;
  for (std::uint32_t platform : {k_platform_windows, k_platform_mac}) {
    for (std::uint32_t i = 0; i < count; i++) {
      std::uint64_t rec = 6 + 12ull * i;
      if (rec + 12 > nm.n) break;  // records beyond the table are not read
      std::uint32_t pid = 0, nid = 0, slen = 0, soff = 0;
      nm.u16(rec, &pid);
      nm.u16(rec + 6, &nid);
      nm.u16(rec + 8, &slen);
      nm.u16(rec + 10, &soff);
      if (pid != platform || nid != k_name_family) continue;
      std::uint64_t start = static_cast<std::uint64_t>(str_off) + soff;
      if (start + slen > nm.n) continue;  // string outside the table: skipped
      if (convert_name(nm.p + start, slen, platform == k_platform_windows, family) > 0) return;
    }
  }
  family[0] = 0;
}

// ---- cmap ------------------------------------------------------------------

// Preference among encoding records: Windows Unicode BMP, Windows Symbol,
// Unicode 2.0+ (formats 4, 6, 10, 12), then Macintosh format 4 and format 6.
// 0 means the record is not usable. Lower is better; ties keep the first.
int cmap_rank(std::uint32_t pid, std::uint32_t eid, std::uint32_t fmt) {
  bool unicode_fmt = fmt == 4 || fmt == 6 || fmt == 10 || fmt == 12;
  if (pid == 3 && eid == 1 && unicode_fmt) return 1;
  if (pid == 3 && eid == 0 && unicode_fmt) return 2;
  if (pid == 0 && (eid == 3 || eid == 4) && unicode_fmt) return 3;
  if (pid == 1 && fmt == 4) return 6;
  if (pid == 1 && fmt == 6) return 8;
  return 0;
}

// Format 4: segments of (endCode, startCode, idDelta, idRangeOffset) in four
// parallel u16 arrays after the header; binary search on endCode. An
// idRangeOffset of 0 means glyph = code + idDelta; otherwise it is the byte
// distance from the idRangeOffset slot itself to the segment's glyph array.
int lookup_format4(const Span &cm, std::uint64_t sub, std::uint32_t c) {
  std::uint32_t seg_x2 = 0;
  if (!cm.u16(sub + 6, &seg_x2) || seg_x2 < 2) return -1;
  if (c > 0xFFFF) return -1;
  std::uint64_t segs = seg_x2 / 2;
  std::uint64_t ends = sub + 14;
  std::uint64_t starts = ends + 2 * segs + 2;
  std::uint64_t deltas = starts + 2 * segs;
  std::uint64_t ranges = deltas + 2 * segs;
  std::uint64_t lo = 0, hi = segs;  // first segment with endCode >= c lies in [lo, hi]
  while (lo < hi) {
    std::uint64_t mid = lo + (hi - lo) / 2;
    std::uint32_t end = 0;
    if (!cm.u16(ends + 2 * mid, &end)) return -1;
    if (end >= c)
      hi = mid;
    else
      lo = mid + 1;
  }
  if (lo == segs) return -1;
  std::uint32_t start = 0, delta = 0, ro = 0;
  if (!cm.u16(starts + 2 * lo, &start) || !cm.u16(deltas + 2 * lo, &delta) || !cm.u16(ranges + 2 * lo, &ro))
    return -1;
  if (start > c) return -1;
  if (ro == 0) return static_cast<int>((c + delta) & 0xFFFF);
  std::uint32_t g = 0;
  if (!cm.u16(ranges + 2 * lo + ro + 2ull * (c - start), &g) || g == 0) return -1;
  return static_cast<int>((g + delta) & 0xFFFF);
}

// Format 6: one dense u16 glyph array for firstCode .. firstCode+count-1.
int lookup_format6(const Span &cm, std::uint64_t sub, std::uint32_t c) {
  if (c > 0xFFFF) return -1;
  std::uint32_t first = 0, count = 0, g = 0;
  if (!cm.u16(sub + 6, &first) || !cm.u16(sub + 8, &count)) return -1;
  std::uint32_t k = (c - first) & 0xFFFF;
  if (k >= count || !cm.u16(sub + 10 + 2ull * k, &g) || g == 0) return -1;
  return static_cast<int>(g);
}

// Format 12: groups of (startChar, endChar, startGlyph), u32 each, visited in
// order. A glyph id beyond 16 bits cannot exist in an sfnt font (numGlyphs is
// a u16) and is refused, so that callers may index 16-bit tables with it.
int lookup_format12(const Span &cm, std::uint64_t sub, std::uint32_t c) {
  std::uint32_t groups = 0;
  if (!cm.u32(sub + 12, &groups) || groups == 0) return -1;
  for (std::uint64_t i = 0; i < groups; i++) {
    std::uint64_t g = sub + 16 + 12 * i;
    std::uint32_t lo = 0, hi = 0, gid = 0;
    if (!cm.u32(g, &lo) || !cm.u32(g + 4, &hi) || !cm.u32(g + 8, &gid)) return -1;
    if (lo <= c && c <= hi) {
      std::uint64_t r = static_cast<std::uint64_t>(gid) + (c - lo);
      return r <= 0xFFFF ? static_cast<int>(r) : -1;
    }
  }
  return -1;
}

}  // namespace

int find_table(const unsigned char *font, std::uint64_t len, const char tag[4], std::uint32_t *off,
               std::uint32_t *length) {
  if (!font || !tag || len < k_sfnt_header) return 0;
  Span f{font, len};
  std::uint32_t n = 0;
  f.u16(4, &n);
  if (n == 0 || k_sfnt_header + k_dir_record * n > len) return 0;
  for (std::uint32_t i = 0; i < n; i++) {
    std::uint64_t rec = k_sfnt_header + k_dir_record * i;
    if (std::memcmp(font + rec, tag, 4) != 0) continue;
    std::uint32_t o = 0, l = 0;
    f.u32(rec + 8, &o);
    f.u32(rec + 12, &l);
    if (off) *off = o;
    if (length) *length = l;
    return static_cast<std::uint64_t>(o) + l <= len ? 1 : 0;
  }
  return 0;
}

int ttf_info(const unsigned char *font, std::uint64_t len, TtfInfo *out) {
  if (!out) return 0;
  std::memset(out, 0, sizeof *out);
  if (!font || len < k_sfnt_header) return 0;
  static const unsigned char v1[4] = {0, 1, 0, 0};
  if (std::memcmp(font, v1, 4) != 0 && std::memcmp(font, "true", 4) != 0 && std::memcmp(font, "OTTO", 4) != 0)
    return 0;
  Span t{};
  std::uint32_t v = 0;
  if (!table_span(font, len, "head", 50, &t)) return 0;
  t.u16(18, &v);
  out->upm = static_cast<int>(v);
  if (!table_span(font, len, "maxp", 6, &t)) return 0;
  t.u16(4, &v);
  out->num_glyphs = static_cast<int>(v);
  if (out->upm == 0 || out->num_glyphs == 0) return 0;
  if (table_span(font, len, "name", 6, &t)) read_family(t, out->family);
  if (!out->family[0]) std::memcpy(out->family, "EmbeddedFont", sizeof "EmbeddedFont");
  out->ok = 1;
  return 1;
}

int ttf_unicode_to_gid(const unsigned char *font, std::uint64_t len, std::uint32_t cp) {
  Span cm{};
  std::uint32_t nsub = 0;
  if (!table_span(font, len, "cmap", 6, &cm) || !cm.u16(2, &nsub) || nsub == 0) return -1;
  std::uint64_t chosen = 0;
  std::uint32_t chosen_fmt = 0;
  int best = 99;
  for (std::uint32_t i = 0; i < nsub; i++) {
    std::uint64_t rec = 4 + 8ull * i;
    std::uint32_t pid = 0, eid = 0, sub = 0, fmt = 0;
    if (!cm.u16(rec, &pid) || !cm.u16(rec + 2, &eid) || !cm.u32(rec + 4, &sub)) break;
    if (!cm.u16(sub, &fmt)) continue;  // subtable header outside cmap
    int r = cmap_rank(pid, eid, fmt);
    if (r && r < best) {
      best = r;
      chosen = sub;
      chosen_fmt = fmt;
    }
  }
  if (best == 99) return -1;
  switch (chosen_fmt) {
    case 4: return lookup_format4(cm, chosen, cp);
    case 6: return lookup_format6(cm, chosen, cp);
    case 12: return lookup_format12(cm, chosen, cp);
    default: return -1;  // format 10 is ranked but has no lookup
  }
}

// hmtx holds numberOfHMetrics full (advance, lsb) pairs; glyphs after the
// last pair share its advance (monospaced tails), as the sfnt format defines.
// numberOfHMetrics above numGlyphs is clamped; 0 leaves no advance at all.
int ttf_advance(const unsigned char *font, std::uint64_t len, std::uint32_t gid) {
  Span hhea{}, maxp{}, hmtx{};
  std::uint32_t nhm = 0, ng = 0, adv = 0;
  if (!table_span(font, len, "hhea", 36, &hhea)) return -1;
  hhea.u16(34, &nhm);
  if (!table_span(font, len, "maxp", 6, &maxp)) return -1;
  maxp.u16(4, &ng);
  gid &= 0xFFFF;
  if (gid >= ng) return -1;
  std::uint32_t metrics = std::min(nhm, ng);
  if (metrics == 0 || !table_span(font, len, "hmtx", 4ull * metrics, &hmtx)) return -1;
  if (!hmtx.u16(4ull * std::min(gid, metrics - 1), &adv)) return -1;
  return static_cast<int>(adv);
}

}  // namespace zyk
