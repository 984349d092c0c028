// Reading source CMaps: the code-space ranges of an embedded encoding CMap
// and the code -> Unicode entries of a ToUnicode CMap.
//
// CMap text is PostScript; only these shapes are read:
//   n begincodespacerange <lo> <hi> ... endcodespacerange
//   n beginbfchar <code> <utf16be> | <code> /glyphname ... endbfchar
//   n beginbfrange <lo> <hi> <utf16be> | <lo> <hi> [<d0> <d1> ...] ... endbfrange
// The counts in front of the operators are not trusted (producers get them
// wrong); the entries run to the matching end keyword. In the first bfrange
// form the last character of the destination counts up through the range,
// carrying into the high byte of a UTF-16 unit as producers expect (a range
// <00> <FF> <00FF> gives U+00FF, U+0100, ...). A range whose low and high
// code differ in length, or whose high is below its low, is dropped. Entries
// beyond k_cmap_max_entries are ignored, and a range is looked up without
// being expanded, so a hostile <0000> <FFFF> costs nothing; the ranges are
// indexed once, so a lookup costs log n however many ranges a CMap holds.
#include <algorithm>
#include <set>

#include "font/glyph_names.h"
#include "writer/text.h"
#include "writer/writer.h"

namespace zyk {

namespace {

enum class Tok { end, hex, name, open_array, close_array, word, other };

struct Token {
  Tok type;
  std::size_t start, end;  // text of the token (inside the delimiters for hex)
};

bool is_delim_byte(unsigned char c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
         c == '%';
}

Token next_token(const unsigned char *t, std::size_t len, std::size_t *pos) {
  // White space, comments and strings follow PDF's rules, so the pdf/
  // readers take them; the tokens between are PostScript's.
  const int ilen = static_cast<int>(len);
  std::size_t i = static_cast<std::size_t>(skip_ws_comments(t, static_cast<int>(*pos), ilen));
  if (i >= len) {
    *pos = len;
    return {Tok::end, len, len};
  }
  unsigned char c = t[i];
  Token tk{Tok::other, i, i + 1};
  if (c == '<' && i + 1 < len && t[i + 1] == '<') {
    tk.end = i + 2;
  } else if (c == '>' && i + 1 < len && t[i + 1] == '>') {
    tk.end = i + 2;
  } else if (c == '<') {
    std::size_t e = i + 1;
    while (e < len && t[e] != '>') e++;
    tk = {Tok::hex, i + 1, e};
    *pos = e < len ? e + 1 : len;
    return tk;
  } else if (c == '(') {  // passed over whole, nesting and escapes followed
    const int e = literal_end(t, ilen, static_cast<int>(i));
    tk.end = e < 0 ? len : static_cast<std::size_t>(e);
  } else if (c == '[') {
    tk.type = Tok::open_array;
  } else if (c == ']') {
    tk.type = Tok::close_array;
  } else if (c == '/') {
    std::size_t e = i + 1;
    while (e < len && !is_pdf_ws(t[e]) && !is_delim_byte(t[e])) e++;
    tk = {Tok::name, i + 1, e};
  } else if (!is_delim_byte(c)) {
    std::size_t e = i;
    while (e < len && !is_pdf_ws(t[e]) && !is_delim_byte(t[e])) e++;
    tk = {Tok::word, i, e};
  }
  *pos = tk.end;
  return tk;
}

// Bytes of a hexadecimal string (white space ignored, an odd last digit
// padded with 0). False for any other byte.
bool hex_bytes(const unsigned char *t, const Token &tk, std::string *out) {
  return hex_decode(t, tk.start, tk.end, false, out);
}

bool code_of(const std::string &b, std::uint32_t *code) {
  if (b.empty() || b.size() > static_cast<std::size_t>(k_max_code_bytes)) return false;
  std::uint32_t v = 0;
  for (char c : b) v = v << 8 | static_cast<unsigned char>(c);
  *code = v;
  return true;
}

std::u32string utf16_of(const std::string &b) {
  return utf16be_decode(reinterpret_cast<const unsigned char *>(b.data()), b.size());
}

bool word_is(const unsigned char *t, const Token &tk, const char *w) {
  std::string_view s(reinterpret_cast<const char *>(t) + tk.start, tk.end - tk.start);
  return tk.type == Tok::word && s == w;
}

// Splits the ranges into disjoint runs, each owned by the earliest range
// that covers it: one sweep over the sorted range ends, keeping the ranges
// open at each point in an ordered set whose first member owns the codes up
// to the next end. Adjacent runs of one range are joined. n log n for n
// ranges, and at most 2n - 1 runs.
void index_ranges(SourceCMap *m) {
  m->runs.clear();
  struct Edge {
    std::uint64_t at;  // first code of the change
    bool opens;
    std::uint32_t range;
  };
  std::vector<Edge> edges;
  edges.reserve(m->ranges.size() * 2);
  for (std::size_t i = 0; i < m->ranges.size(); i++) {
    const auto idx = static_cast<std::uint32_t>(i);
    edges.push_back({m->ranges[i].lo, true, idx});
    edges.push_back({std::uint64_t{m->ranges[i].hi} + 1, false, idx});
  }
  std::sort(edges.begin(), edges.end(), [](const Edge &a, const Edge &b) { return a.at < b.at; });
  std::set<std::uint32_t> open;
  for (std::size_t i = 0; i < edges.size();) {
    const std::uint64_t at = edges[i].at;
    for (; i < edges.size() && edges[i].at == at; i++) {
      if (edges[i].opens)
        open.insert(edges[i].range);
      else
        open.erase(edges[i].range);
    }
    if (open.empty() || i == edges.size()) continue;
    // Codes at .. edges[i].at - 1 belong to the earliest open range.
    const auto lo = static_cast<std::uint32_t>(at), hi = static_cast<std::uint32_t>(edges[i].at - 1);
    const std::uint32_t owner = *open.begin();
    if (!m->runs.empty() && m->runs.back().range == owner && std::uint64_t{m->runs.back().hi} + 1 == at)
      m->runs.back().hi = hi;
    else
      m->runs.push_back({lo, hi, owner});
  }
}

}  // namespace

std::u32string utf16be_decode(const unsigned char *p, std::size_t n) {
  std::u32string s;
  for (std::size_t i = 0; i + 1 < n; i += 2) {
    std::uint32_t u = static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
      std::uint32_t lo = static_cast<std::uint32_t>(p[i + 2] << 8 | p[i + 3]);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        s.push_back(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    s.push_back(u);
  }
  return s;
}

void cmap_parse(const unsigned char *t, std::size_t len, SourceCMap *out) {
  // The readers take int offsets; no CMap comes near 2 GiB (their streams
  // are decoded to at most k_font_stream_max bytes).
  len = std::min<std::size_t>(len, 0x7fffffff);
  std::size_t pos = 0;
  int entries = 0;
  std::string a, b, c;
  enum { none, space, bfchar, bfrange } mode = none;
  while (entries < k_cmap_max_entries) {
    Token tk = next_token(t, len, &pos);
    if (tk.type == Tok::end) break;
    if (tk.type == Tok::word) {
      if (word_is(t, tk, "begincodespacerange"))
        mode = space;
      else if (word_is(t, tk, "beginbfchar"))
        mode = bfchar;
      else if (word_is(t, tk, "beginbfrange"))
        mode = bfrange;
      else
        mode = none;  // any end keyword, or another operator
      continue;
    }
    if (mode == none || tk.type != Tok::hex || !hex_bytes(t, tk, &a)) continue;
    Token t2 = next_token(t, len, &pos);
    std::uint32_t lo = 0, hi = 0;
    if (mode == space) {
      if (t2.type != Tok::hex || !hex_bytes(t, t2, &b) || a.size() != b.size() || !code_of(a, &lo) ||
          !code_of(b, &hi) || static_cast<int>(out->spaces.size()) >= k_max_codespace)
        continue;
      CodeSpace cs{static_cast<int>(a.size()), lo, hi, {}, {}};
      for (std::size_t k = 0; k < a.size(); k++) {
        cs.lo_b[k] = static_cast<unsigned char>(a[k]);
        cs.hi_b[k] = static_cast<unsigned char>(b[k]);
      }
      out->spaces.push_back(cs);
      entries++;
    } else if (mode == bfchar) {
      if (!code_of(a, &lo)) continue;
      std::u32string dst;
      if (t2.type == Tok::hex && hex_bytes(t, t2, &b)) {
        dst = utf16_of(b);
      } else if (t2.type == Tok::name) {
        dst = glyph_name_to_unicode(std::string_view(reinterpret_cast<const char *>(t) + t2.start, t2.end - t2.start));
      } else {
        continue;
      }
      if (dst.size() > static_cast<std::size_t>(k_max_chars_per_code)) dst.resize(k_max_chars_per_code);
      out->chars[lo] = dst;
      entries++;
    } else if (mode == bfrange) {
      if (t2.type != Tok::hex || !hex_bytes(t, t2, &b) || a.size() != b.size() || !code_of(a, &lo) || !code_of(b, &hi))
        continue;
      Token t3 = next_token(t, len, &pos);
      SourceCMap::Range r{lo, hi, {}, {}};
      if (t3.type == Tok::hex && hex_bytes(t, t3, &c)) {
        r.base = utf16_of(c);
        if (r.base.empty() || r.base.size() > static_cast<std::size_t>(k_max_chars_per_code)) continue;
      } else if (t3.type == Tok::open_array) {
        while (entries < k_cmap_max_entries) {
          Token e = next_token(t, len, &pos);
          if (e.type != Tok::hex) break;  // the closing bracket, or junk
          if (hex_bytes(t, e, &c)) r.list.push_back(utf16_of(c));
          entries++;
        }
      } else {
        continue;
      }
      if (hi < lo) continue;
      out->ranges.push_back(std::move(r));
      entries++;
    }
  }
  index_ranges(out);
}

std::u32string cmap_lookup(const SourceCMap &m, std::uint32_t code) {
  auto it = m.chars.find(code);
  if (it != m.chars.end()) return it->second;
  // The last run starting at or below the code.
  auto run = std::upper_bound(m.runs.begin(), m.runs.end(), code,
                              [](std::uint32_t c, const SourceCMap::Run &r) { return c < r.lo; });
  if (run == m.runs.begin() || code > (--run)->hi) return {};
  const SourceCMap::Range &r = m.ranges[run->range];
  std::uint32_t k = code - r.lo;
  if (!r.base.empty()) {
    std::u32string s = r.base;
    s.back() += k;
    if (s.back() > 0x10FFFF || (s.back() >= 0xD800 && s.back() <= 0xDFFF)) return {};
    return s;
  }
  if (k < r.list.size()) return r.list[k];
  return {};
}

}  // namespace zyk
