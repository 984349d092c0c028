// Built-in encodings of embedded font programs, read just far enough to know
// which glyph a code of a symbolic simple font draws, and what that glyph
// stands for.
//
// Type 1: the clear-text part before eexec holds the /Encoding, either the
// name StandardEncoding or an array filled by "dup code /name put".
//
// CFF: header, Name INDEX, Top DICT INDEX, String INDEX; the Top DICT gives
// the offsets of the charset (glyph id -> string id, or CID in a CID-keyed
// font), the encoding (code -> glyph id, with supplements code -> string id)
// and the CharStrings INDEX, whose count is the number of glyphs. Predefined
// charsets other than ISOAdobe and predefined encodings other than Standard
// are not carried (no font subset uses them for text).
//
// TrueType: the cmap subtables (formats 0, 4, 6 and 12 are read) and the
// 'post' glyph names (formats 1 and 2).
//
// Every read is bounded by the program's length; counts are checked against
// what remains, so a hostile count cannot make a loop run past the data.
#include <algorithm>
#include <cstring>

#include "font/font.h"
#include "font/glyph_names.h"
#include "font/source_font.h"

namespace zyk {

namespace {

// Glyphs read from one program at most (glyph ids are 16-bit).
constexpr std::size_t k_max_glyphs = 65536;

struct Reader {
  const unsigned char *p;
  std::size_t n;
  bool has(std::size_t off, std::size_t len) const { return off <= n && len <= n - off; }
  unsigned u8(std::size_t off) const { return off < n ? p[off] : 0; }
  unsigned u16(std::size_t off) const { return has(off, 2) ? static_cast<unsigned>(p[off] << 8 | p[off + 1]) : 0; }
  std::uint32_t u32(std::size_t off) const {
    return has(off, 4) ? (static_cast<std::uint32_t>(p[off]) << 24 | static_cast<std::uint32_t>(p[off + 1]) << 16 |
                          static_cast<std::uint32_t>(p[off + 2]) << 8 | p[off + 3])
                       : 0;
  }
  std::uint32_t uoff(std::size_t off, unsigned size) const {
    std::uint32_t v = 0;
    for (unsigned k = 0; k < size; k++) v = v << 8 | u8(off + k);
    return v;
  }
};

// ---- Type 1 -----------------------------------------------------------------------

bool is_ps_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0; }

std::size_t find_text(const unsigned char *p, std::size_t from, std::size_t n, std::string_view s) {
  if (s.size() > n) return n;
  for (std::size_t i = from; i + s.size() <= n; i++)
    if (std::memcmp(p + i, s.data(), s.size()) == 0) return i;
  return n;
}

}  // namespace

bool type1_builtin_encoding(const unsigned char *p, std::size_t n, std::string names[256], bool *standard) {
  *standard = false;
  for (int c = 0; c < 256; c++) names[c].clear();
  if (!p) return false;
  // Binary (PFB) segments start with 0x80 0x01 and a length; the clear text
  // follows the six-byte header.
  std::size_t start = 0;
  if (n > 6 && p[0] == 0x80 && p[1] == 0x01) start = 6;
  std::size_t end = find_text(p, start, n, "eexec");
  std::size_t at = find_text(p, start, end, "/Encoding");
  if (at >= end) return false;
  std::size_t i = at + 9;
  while (i < end && is_ps_space(p[i])) i++;
  if (find_text(p, i, std::min(end, i + 16), "StandardEncoding") == i) {
    *standard = true;
    return true;
  }
  // "dup <code> /<name> put" up to the "def" that closes the array.
  std::size_t stop = find_text(p, i, end, " def");
  bool any = false;
  while (true) {
    std::size_t d = find_text(p, i, stop, "dup ");
    if (d >= stop) break;
    std::size_t k = d + 4;
    while (k < stop && is_ps_space(p[k])) k++;
    int code = 0, digits = 0;
    while (k < stop && p[k] >= '0' && p[k] <= '9' && digits < 4) code = code * 10 + (p[k++] - '0'), digits++;
    while (k < stop && is_ps_space(p[k])) k++;
    if (digits && code < 256 && k < stop && p[k] == '/') {
      std::size_t s = ++k;
      while (k < stop && !is_ps_space(p[k]) && p[k] != '/' && p[k] != '[' && p[k] != '(') k++;
      names[code].assign(reinterpret_cast<const char *>(p) + s, k - s);
      any = true;
    }
    i = k > d ? k : d + 4;
  }
  return any;
}

namespace {

// ---- CFF --------------------------------------------------------------------------

// An INDEX at off: count, element offsets and the position after it.
struct Index {
  unsigned count = 0;
  unsigned off_size = 0;
  std::size_t offsets = 0;  // position of the offset array
  std::size_t data = 0;     // position before the first element (offsets are 1-based)
  std::size_t end = 0;
  bool ok = false;
};

Index read_index(const Reader &r, std::size_t off) {
  Index ix;
  if (!r.has(off, 2)) return ix;
  ix.count = r.u16(off);
  if (ix.count == 0) {
    ix.end = off + 2;
    ix.ok = true;
    return ix;
  }
  ix.off_size = r.u8(off + 2);
  if (ix.off_size < 1 || ix.off_size > 4) return ix;
  ix.offsets = off + 3;
  std::size_t table = static_cast<std::size_t>(ix.count + 1) * ix.off_size;
  if (!r.has(ix.offsets, table)) return ix;
  ix.data = ix.offsets + table - 1;
  std::uint32_t last = r.uoff(ix.offsets + static_cast<std::size_t>(ix.count) * ix.off_size, ix.off_size);
  if (!r.has(ix.data, last)) return ix;
  ix.end = ix.data + last;
  ix.ok = true;
  return ix;
}

bool index_item(const Reader &r, const Index &ix, unsigned k, std::size_t *s, std::size_t *e) {
  if (!ix.ok || k >= ix.count) return false;
  std::uint32_t a = r.uoff(ix.offsets + static_cast<std::size_t>(k) * ix.off_size, ix.off_size);
  std::uint32_t b = r.uoff(ix.offsets + static_cast<std::size_t>(k + 1) * ix.off_size, ix.off_size);
  if (a < 1 || b < a || !r.has(ix.data, b)) return false;
  *s = ix.data + a;
  *e = ix.data + b;
  return true;
}

// The Top DICT operators read here, with their last operands.
struct TopDict {
  long charset = 0, encoding = 0, charstrings = -1;
  long ros[3] = {-1, -1, -1};
  bool has_ros = false;
};

void read_top_dict(const Reader &r, std::size_t s, std::size_t e, TopDict *td) {
  long ops[48];
  int nops = 0;
  std::size_t i = s;
  while (i < e) {
    unsigned b = r.u8(i);
    long v = 0;
    if (b >= 32 && b <= 246) {
      v = static_cast<long>(b) - 139;
      i += 1;
    } else if (b >= 247 && b <= 250) {
      v = (static_cast<long>(b) - 247) * 256 + r.u8(i + 1) + 108;
      i += 2;
    } else if (b >= 251 && b <= 254) {
      v = -(static_cast<long>(b) - 251) * 256 - r.u8(i + 1) - 108;
      i += 2;
    } else if (b == 28) {
      v = static_cast<std::int16_t>(r.u16(i + 1));
      i += 3;
    } else if (b == 29) {
      v = static_cast<std::int32_t>(r.u32(i + 1));
      i += 5;
    } else if (b == 30) {  // a real: nibbles up to the terminator 0xf
      i++;
      while (i < e && (r.u8(i) & 0x0f) != 0x0f && (r.u8(i) >> 4) != 0x0f) i++;
      i++;
      v = 0;
    } else {  // an operator
      unsigned op = b;
      if (b == 12) op = 1200 + r.u8(i + 1), i++;
      i++;
      if (op == 15 && nops >= 1) td->charset = ops[nops - 1];
      if (op == 16 && nops >= 1) td->encoding = ops[nops - 1];
      if (op == 17 && nops >= 1) td->charstrings = ops[nops - 1];
      if (op == 1230 && nops >= 3) {
        td->has_ros = true;
        for (int k = 0; k < 3; k++) td->ros[k] = ops[nops - 3 + k];
      }
      nops = 0;
      continue;
    }
    if (nops < 48) ops[nops++] = v;
  }
}

std::string sid_name(const Reader &r, const Index &strings, long sid) {
  if (sid < 0) return {};
  if (sid < k_cff_std_string_count) return k_cff_std_strings[sid];
  std::size_t s = 0, e = 0;
  if (!index_item(r, strings, static_cast<unsigned>(sid - k_cff_std_string_count), &s, &e)) return {};
  return std::string(reinterpret_cast<const char *>(r.p) + s, e - s);
}

}  // namespace

bool cff_read(const unsigned char *p, std::size_t n, CffFont *out) {
  *out = CffFont{};
  std::fill(out->code_gid, out->code_gid + 256, -1);
  Reader r{p, p ? n : 0};
  if (!r.has(0, 4) || r.u8(0) != 1) return false;
  Index names = read_index(r, r.u8(2));
  if (!names.ok) return false;
  Index tops = read_index(r, names.end);
  if (!tops.ok) return false;
  Index strings = read_index(r, tops.end);
  if (!strings.ok) return false;
  std::size_t s = 0, e = 0;
  if (!index_item(r, tops, 0, &s, &e)) return false;
  TopDict td;
  read_top_dict(r, s, e, &td);
  if (td.charstrings <= 0) return false;
  Index cs = read_index(r, static_cast<std::size_t>(td.charstrings));
  if (!cs.ok || cs.count == 0) return false;
  unsigned ng = std::min<unsigned>(cs.count, k_max_glyphs);
  out->num_glyphs = static_cast<int>(ng);
  out->cid_keyed = td.has_ros;
  if (td.has_ros) {
    out->registry = sid_name(r, strings, td.ros[0]);
    out->ordering = sid_name(r, strings, td.ros[1]);
  }

  // Charset: the value (SID or CID) of every glyph after .notdef.
  std::vector<std::uint32_t> val(ng, 0);
  if (td.charset == 0) {
    for (unsigned g = 0; g < ng && g < 229; g++) val[g] = g;  // ISOAdobe: SID = glyph id
    if (td.has_ros) val.assign(ng, 0);
  } else if (td.charset > 2) {
    std::size_t o = static_cast<std::size_t>(td.charset);
    unsigned fmt = r.u8(o++);
    unsigned g = 1;
    if (fmt == 0) {
      for (; g < ng && r.has(o, 2); g++, o += 2) val[g] = r.u16(o);
    } else if (fmt == 1 || fmt == 2) {
      while (g < ng && r.has(o, fmt == 1 ? 3 : 4)) {
        unsigned first = r.u16(o);
        unsigned left = fmt == 1 ? r.u8(o + 2) : r.u16(o + 2);
        o += fmt == 1 ? 3 : 4;
        for (unsigned k = 0; k <= left && g < ng; k++, g++) val[g] = first + k;
      }
    }
  }
  if (td.has_ros) {
    out->gid_cid.assign(ng, 0);
    for (unsigned g = 0; g < ng; g++) out->gid_cid[g] = static_cast<std::uint16_t>(val[g]);
    return true;
  }
  out->glyph_names.resize(ng);
  for (unsigned g = 0; g < ng; g++) out->glyph_names[g] = g ? sid_name(r, strings, val[g]) : ".notdef";

  // Encoding: codes of glyphs 1, 2, ... in order, then supplements.
  if (td.encoding > 1) {
    out->standard_encoding = false;
    std::size_t o = static_cast<std::size_t>(td.encoding);
    unsigned fmt = r.u8(o++);
    if ((fmt & 0x7f) == 0) {
      unsigned nc = r.u8(o++);
      for (unsigned k = 0; k < nc && k + 1 < ng && r.has(o, 1); k++, o++) out->code_gid[r.u8(o)] = static_cast<int>(k + 1);
    } else if ((fmt & 0x7f) == 1) {
      unsigned nr = r.u8(o++);
      unsigned g = 1;
      for (unsigned k = 0; k < nr && r.has(o, 2); k++, o += 2) {
        unsigned first = r.u8(o), left = r.u8(o + 1);
        for (unsigned c = first; c <= first + left && c < 256 && g < ng; c++, g++) out->code_gid[c] = static_cast<int>(g);
      }
    }
    if (fmt & 0x80) {
      unsigned ns = r.u8(o++);
      for (unsigned k = 0; k < ns && r.has(o, 3); k++, o += 3) {
        unsigned code = r.u8(o), sid = r.u16(o + 1);
        for (unsigned g = 1; g < ng; g++)
          if (val[g] == sid) {
            out->code_gid[code] = static_cast<int>(g);
            break;
          }
      }
    }
  }
  return true;
}

namespace {

// ---- TrueType cmap and post --------------------------------------------------------

// Calls f(code, glyph) for the mappings of the subtable at off (formats 0, 4,
// 6, 12), at most k_max_glyphs * 4 of them.
template <class F>
void cmap_each(const Reader &r, std::size_t off, F f) {
  unsigned fmt = r.u16(off);
  std::size_t budget = k_max_glyphs * 4;
  if (fmt == 0) {
    for (unsigned c = 0; c < 256 && r.has(off + 6 + c, 1); c++) f(c, r.u8(off + 6 + c));
  } else if (fmt == 4) {
    unsigned segx2 = r.u16(off + 6);
    std::size_t ends = off + 14, starts = ends + segx2 + 2, deltas = starts + segx2, ranges = deltas + segx2;
    if (!r.has(ends, static_cast<std::size_t>(segx2) * 4 + 2)) return;
    for (unsigned s = 0; s < segx2 / 2; s++) {
      unsigned end = r.u16(ends + 2 * s), start = r.u16(starts + 2 * s);
      unsigned delta = r.u16(deltas + 2 * s), ro = r.u16(ranges + 2 * s);
      if (start > end) continue;
      for (unsigned c = start; c <= end && c != 0xFFFF; c++) {
        if (budget-- == 0) return;
        unsigned g;
        if (ro == 0) {
          g = (c + delta) & 0xFFFF;
        } else {
          std::size_t at = ranges + 2 * s + ro + 2 * (c - start);
          if (!r.has(at, 2)) break;
          g = r.u16(at);
          if (g) g = (g + delta) & 0xFFFF;
        }
        if (g) f(c, g);
      }
    }
  } else if (fmt == 6) {
    unsigned first = r.u16(off + 6), count = r.u16(off + 8);
    for (unsigned k = 0; k < count && r.has(off + 10 + 2 * k, 2); k++) {
      unsigned g = r.u16(off + 10 + 2 * k);
      if (g) f(first + k, g);
    }
  } else if (fmt == 12) {
    std::uint32_t groups = r.u32(off + 12);
    for (std::uint32_t k = 0; k < groups && r.has(off + 16 + 12 * static_cast<std::size_t>(k), 12); k++) {
      std::size_t gofs = off + 16 + 12 * static_cast<std::size_t>(k);
      std::uint32_t a = r.u32(gofs), b = r.u32(gofs + 4), g = r.u32(gofs + 8);
      for (std::uint32_t c = a; c <= b && c <= 0x10FFFF; c++) {
        if (budget-- == 0) return;
        f(c, g + (c - a));
      }
    }
  }
}

std::u32string pascal_name(const Reader &r, std::size_t off, std::size_t len) {
  return glyph_name_to_unicode(std::string_view(reinterpret_cast<const char *>(r.p) + off, len));
}

}  // namespace

bool ttf_read_cmaps(const unsigned char *font, std::size_t len, TtfCmaps *out) {
  *out = TtfCmaps{};
  TtfInfo info{};
  if (!font || !ttf_info(font, len, &info) || info.num_glyphs <= 0) return false;
  std::size_t ng = std::min<std::size_t>(static_cast<std::size_t>(info.num_glyphs), k_max_glyphs);
  std::uint32_t off = 0, tlen = 0;
  if (find_table(font, len, "cmap", &off, &tlen)) {
    Reader c{font + off, tlen};
    unsigned nt = c.u16(2);
    int uni_rank = 0;
    std::size_t uni_off = 0;
    for (unsigned k = 0; k < nt && c.has(4 + 8 * k, 8); k++) {
      unsigned plat = c.u16(4 + 8 * k), enc = c.u16(6 + 8 * k);
      std::uint32_t so = c.u32(8 + 8 * k);
      if (!c.has(so, 4)) continue;
      if (plat == 3 && enc == 0 && out->symbolic.empty()) {
        std::vector<std::int32_t> m(256, -1);
        // Symbol subtables put the codes at 0xF000 + code, some at the code.
        cmap_each(c, so, [&](std::uint32_t code, std::uint32_t g) {
          if (g >= ng) return;
          if (code >= 0xF000 && code <= 0xF0FF) m[code - 0xF000] = static_cast<std::int32_t>(g);
          else if (code < 256 && m[code] < 0) m[code] = static_cast<std::int32_t>(g);
        });
        out->symbolic = std::move(m);
      } else if (plat == 1 && enc == 0 && out->mac_roman.empty()) {
        std::vector<std::int32_t> m(256, -1);
        cmap_each(c, so, [&](std::uint32_t code, std::uint32_t g) {
          if (code < 256 && g < ng) m[code] = static_cast<std::int32_t>(g);
        });
        out->mac_roman = std::move(m);
      }
      int rank = plat == 3 && enc == 10 ? 4 : plat == 3 && enc == 1 ? 3 : plat == 0 ? 2 : 0;
      if (rank > uni_rank) uni_rank = rank, uni_off = so;
    }
    if (uni_rank) {
      out->gid_unicode.assign(ng, 0);
      cmap_each(c, uni_off, [&](std::uint32_t code, std::uint32_t g) {
        if (g < ng && (out->gid_unicode[g] == 0 || code < out->gid_unicode[g])) out->gid_unicode[g] = code;
      });
    }
  }
  if (find_table(font, len, "post", &off, &tlen)) {
    Reader pr{font + off, tlen};
    std::uint32_t ver = pr.u32(0);
    auto set = [&](std::size_t g, std::u32string u) {
      if (u.size() == 1) out->gid_post[g] = u[0];
    };
    if (ver == 0x00010000) {
      out->gid_post.assign(ng, 0);
      for (std::size_t g = 0; g < ng && g < static_cast<std::size_t>(k_mac_glyph_name_count); g++)
        set(g, glyph_name_to_unicode(k_mac_glyph_names[g]));
    } else if (ver == 0x00020000) {
      unsigned cnt = std::min<unsigned>(pr.u16(32), static_cast<unsigned>(ng));
      std::size_t idx = 34, strs = 34 + 2 * static_cast<std::size_t>(pr.u16(32));
      // Offsets of the Pascal strings, in order.
      std::vector<std::pair<std::size_t, std::size_t>> names;
      for (std::size_t o = strs; o < tlen && names.size() < k_max_glyphs;) {
        std::size_t l = pr.u8(o);
        if (!pr.has(o + 1, l)) break;
        names.push_back({o + 1, l});
        o += 1 + l;
      }
      out->gid_post.assign(ng, 0);
      for (unsigned g = 0; g < cnt && pr.has(idx + 2 * g, 2); g++) {
        unsigned ni = pr.u16(idx + 2 * g);
        if (ni < static_cast<unsigned>(k_mac_glyph_name_count))
          set(g, glyph_name_to_unicode(k_mac_glyph_names[ni]));
        else if (ni - k_mac_glyph_name_count < names.size())
          set(g, pascal_name(pr, names[ni - k_mac_glyph_name_count].first, names[ni - k_mac_glyph_name_count].second));
      }
    }
  }
  return true;
}

}  // namespace zyk
