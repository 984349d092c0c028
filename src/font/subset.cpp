// A subset of a TrueType font program: the outlines of the glyphs a
// conversion uses, nothing else.
//
// The rules, and the decisions taken:
//  - Glyph ids stay as they are. Every glyph keeps its slot in loca and hmtx;
//    a glyph left out gets an empty outline (two equal loca offsets) and a
//    zero metric, a kept one its outline and metric unchanged. The PDF font
//    addresses glyphs by id through /CIDToGIDMap /Identity and its /W widths
//    are the advances of the glyphs it shows, so neither changes.
//  - Kept: glyph 0 (.notdef, drawn for anything missing), the glyphs asked
//    for, and every component a kept composite glyph refers to, followed to
//    any depth (each glyph is looked at once, so the walk ends).
//  - Tables: those a TrueType rasteriser needs (head, hhea, maxp, hmtx, loca,
//    glyf; cvt, fpgm and prep for the hinting instructions the outlines
//    call; gasp), and cmap, name, OS/2 and post that readers of the program
//    expect. post becomes format 3 (no glyph names: PDF text reaches glyphs
//    by id). The cmap is either the source's or, when the caller gives the
//    characters of the glyphs, one Windows Unicode format 4 subtable mapping
//    just those (a PDF reader of an Identity-H font never consults it; it
//    is there for the font's own consistency). Layout and kerning tables (GDEF, GPOS, GSUB, kern) and
//    anything else are dropped: a PDF positions every glyph itself.
//  - Each outline is copied whole and padded with zeros to four bytes; loca
//    is written short when the new glyf allows it (offsets / 2 fit 16 bits),
//    long otherwise, and head says which.
//  - Tables are sorted by tag and four-byte aligned, each with its checksum;
//    head's checkSumAdjustment makes the file sum to 0xB1B0AFBA.
// Every read is bounded by the table it reads from; a font whose required
// tables are missing or inconsistent is refused (false), never guessed at.
#include <algorithm>
#include <cstring>

#include "font/font.h"

namespace zyk {
namespace {

constexpr std::uint16_t k_arg_words = 0x0001;
constexpr std::uint16_t k_have_scale = 0x0008;
constexpr std::uint16_t k_more_components = 0x0020;
constexpr std::uint16_t k_have_xy_scale = 0x0040;
constexpr std::uint16_t k_have_2x2 = 0x0080;
constexpr std::uint32_t k_checksum_magic = 0xB1B0AFBA;
constexpr std::size_t k_head_min = 54;
constexpr std::size_t k_head_adjust = 8;
constexpr std::size_t k_head_loca_format = 50;
constexpr std::size_t k_post_header = 32;

std::uint16_t rd16(const unsigned char *p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint32_t rd32(const unsigned char *p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
void put16(std::string *s, std::uint32_t v) {
  s->push_back(static_cast<char>(v >> 8 & 0xFF));
  s->push_back(static_cast<char>(v & 0xFF));
}
void put32(std::string *s, std::uint32_t v) {
  put16(s, v >> 16);
  put16(s, v & 0xFFFF);
}
void set32(std::string *s, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; k++) (*s)[at + static_cast<std::size_t>(k)] = static_cast<char>(v >> (24 - 8 * k) & 0xFF);
}

// Sum of the big-endian 32-bit words of the data, zero-padded to four bytes.
std::uint32_t checksum(const std::string &t) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < t.size(); i += 4) {
    std::uint32_t w = 0;
    for (std::size_t k = 0; k < 4; k++)
      w = w << 8 | (i + k < t.size() ? static_cast<unsigned char>(t[i + k]) : 0u);
    sum += w;
  }
  return sum;
}

struct Table {
  const unsigned char *p = nullptr;
  std::uint32_t len = 0;
  bool found = false;
};

Table table(const unsigned char *font, std::uint64_t len, const char *tag) {
  Table t;
  std::uint32_t off = 0, n = 0;
  if (find_table(font, len, tag, &off, &n) == 1) {
    t.p = font + off;
    t.len = n;
    t.found = true;
  }
  return t;
}

// Glyph ids a composite outline refers to. A record cut short ends the list.
void components(const unsigned char *g, std::uint32_t n, std::vector<int> *out) {
  if (n < 10 || static_cast<std::int16_t>(rd16(g)) >= 0) return;
  std::uint32_t at = 10;
  for (;;) {
    if (at + 4 > n) return;
    const std::uint16_t flags = rd16(g + at);
    out->push_back(rd16(g + at + 2));
    at += 4 + ((flags & k_arg_words) ? 4 : 2);
    if (flags & k_have_scale)
      at += 2;
    else if (flags & k_have_xy_scale)
      at += 4;
    else if (flags & k_have_2x2)
      at += 8;
    if (!(flags & k_more_components)) return;
  }
}

// A cmap with one (3,1) format 4 subtable: segments of consecutive code
// points whose glyph ids are consecutive too (idDelta, no glyph array), and
// the closing segment at U+FFFF that format 4 requires.
std::string small_cmap(std::vector<std::pair<std::uint32_t, int>> pairs) {
  std::sort(pairs.begin(), pairs.end());
  struct Seg {
    std::uint32_t start, end;
    int delta;
  };
  std::vector<Seg> segs;
  for (auto [c, g] : pairs) {
    if (c >= 0xFFFF) continue;
    const int delta = static_cast<int>((static_cast<std::uint32_t>(g) - c) & 0xFFFF);
    if (!segs.empty() && segs.back().end == c) continue;  // a code point given twice keeps its first glyph
    if (!segs.empty() && segs.back().end + 1 == c && segs.back().delta == delta)
      segs.back().end = c;
    else
      segs.push_back({c, c, delta});
  }
  segs.push_back({0xFFFF, 0xFFFF, 1});
  const std::uint32_t n = static_cast<std::uint32_t>(segs.size());
  std::uint32_t pow2 = 1, log2 = 0;
  while (pow2 * 2 <= n) {
    pow2 *= 2;
    log2++;
  }
  std::string t;
  put16(&t, 0);   // version
  put16(&t, 1);   // one encoding record
  put16(&t, 3);   // Windows
  put16(&t, 1);   // Unicode BMP
  put32(&t, 12);  // subtable offset
  put16(&t, 4);
  put16(&t, 16 + 8 * n);  // length
  put16(&t, 0);           // language
  put16(&t, 2 * n);
  put16(&t, 2 * pow2);
  put16(&t, log2);
  put16(&t, 2 * n - 2 * pow2);
  for (const Seg &s : segs) put16(&t, s.end);
  put16(&t, 0);  // reserved pad
  for (const Seg &s : segs) put16(&t, s.start);
  for (const Seg &s : segs) put16(&t, static_cast<std::uint32_t>(s.delta));
  for (std::uint32_t k = 0; k < n; k++) put16(&t, 0);  // idRangeOffset
  return t;
}

}  // namespace

bool ttf_subset(const unsigned char *font, std::uint64_t len, const std::vector<int> &used, TtfSubset *out,
                const std::vector<std::pair<std::uint32_t, int>> *chars) {
  const Table head = table(font, len, "head"), maxp = table(font, len, "maxp"), loca = table(font, len, "loca"),
              glyf = table(font, len, "glyf"), hhea = table(font, len, "hhea"), hmtx = table(font, len, "hmtx");
  if (!head.found || head.len < k_head_min || !maxp.found || maxp.len < 6 || !loca.found || !glyf.found ||
      !hhea.found || !hmtx.found)
    return false;
  const int num_glyphs = rd16(maxp.p + 4);
  const bool long_loca = rd16(head.p + k_head_loca_format) != 0;
  if (num_glyphs < 1 || loca.len < static_cast<std::uint64_t>(num_glyphs + 1) * (long_loca ? 4 : 2) ||
      hmtx.len < static_cast<std::uint64_t>(num_glyphs) * 4)
    return false;
  auto glyph_at = [&](int g) -> std::uint32_t {
    return long_loca ? rd32(loca.p + 4 * g) : 2u * rd16(loca.p + 2 * g);
  };
  std::vector<std::uint32_t> start(static_cast<std::size_t>(num_glyphs) + 1);
  for (int g = 0; g <= num_glyphs; g++) {
    start[static_cast<std::size_t>(g)] = glyph_at(g);
    if (start[static_cast<std::size_t>(g)] > glyf.len || (g > 0 && start[static_cast<std::size_t>(g)] < start[static_cast<std::size_t>(g) - 1]))
      return false;
  }

  // The glyphs kept: .notdef, the ones asked for, their components.
  std::vector<char> keep(static_cast<std::size_t>(num_glyphs), 0);
  std::vector<int> todo{0};
  for (int g : used)
    if (g >= 0 && g < num_glyphs) todo.push_back(g);
  std::vector<int> parts;
  while (!todo.empty()) {
    const int g = todo.back();
    todo.pop_back();
    if (keep[static_cast<std::size_t>(g)]) continue;
    keep[static_cast<std::size_t>(g)] = 1;
    parts.clear();
    const std::uint32_t s = start[static_cast<std::size_t>(g)];
    components(glyf.p + s, start[static_cast<std::size_t>(g) + 1] - s, &parts);
    for (int c : parts)
      if (c < num_glyphs && !keep[static_cast<std::size_t>(c)]) todo.push_back(c);
  }
  out->glyphs.clear();
  for (int g = 0; g < num_glyphs; g++)
    if (keep[static_cast<std::size_t>(g)]) out->glyphs.push_back(g);

  // glyf and the offsets of the new outlines.
  std::string new_glyf;
  std::vector<std::uint32_t> new_start(static_cast<std::size_t>(num_glyphs) + 1);
  for (int g = 0; g < num_glyphs; g++) {
    new_start[static_cast<std::size_t>(g)] = static_cast<std::uint32_t>(new_glyf.size());
    if (!keep[static_cast<std::size_t>(g)]) continue;
    const std::uint32_t s = start[static_cast<std::size_t>(g)], e = start[static_cast<std::size_t>(g) + 1];
    new_glyf.append(reinterpret_cast<const char *>(glyf.p) + s, e - s);
    new_glyf.resize((new_glyf.size() + 3) & ~std::size_t{3}, '\0');
  }
  new_start[static_cast<std::size_t>(num_glyphs)] = static_cast<std::uint32_t>(new_glyf.size());
  const bool short_loca = new_glyf.size() / 2 <= 0xFFFF;
  std::string new_loca;
  for (std::uint32_t o : new_start) {
    if (short_loca)
      put16(&new_loca, o / 2);
    else
      put32(&new_loca, o);
  }
  std::string new_head(reinterpret_cast<const char *>(head.p), head.len);
  set32(&new_head, k_head_adjust, 0);
  new_head[k_head_loca_format] = 0;
  new_head[k_head_loca_format + 1] = short_loca ? 0 : 1;

  struct OutTable {
    char tag[5];
    std::string data;
  };
  std::vector<OutTable> tables;
  auto copy = [&](const char *tag) {
    Table t = table(font, len, tag);
    if (!t.found) return;
    OutTable o{};
    std::memcpy(o.tag, tag, 4);
    o.data.assign(reinterpret_cast<const char *>(t.p), t.len);
    if (std::strcmp(tag, "cmap") == 0 && chars) {
      std::vector<std::pair<std::uint32_t, int>> kept_chars;
      for (auto [c, g] : *chars)
        if (g > 0 && g < num_glyphs && keep[static_cast<std::size_t>(g)]) kept_chars.emplace_back(c, g);
      o.data = small_cmap(std::move(kept_chars));
    }
    if (std::strcmp(tag, "hmtx") == 0) {
      for (int g = 0; g < num_glyphs; g++)
        if (!keep[static_cast<std::size_t>(g)]) std::memset(&o.data[4 * static_cast<std::size_t>(g)], 0, 4);
    }
    if (std::strcmp(tag, "post") == 0) {
      if (o.data.size() < k_post_header) return;
      o.data.resize(k_post_header);
      set32(&o.data, 0, 0x00030000);
    }
    tables.push_back(std::move(o));
  };
  for (const char *tag : {"OS/2", "cmap", "cvt ", "fpgm", "gasp", "hhea", "hmtx", "maxp", "name", "post", "prep"})
    copy(tag);
  tables.push_back({{'g', 'l', 'y', 'f', 0}, std::move(new_glyf)});
  tables.push_back({{'h', 'e', 'a', 'd', 0}, std::move(new_head)});
  tables.push_back({{'l', 'o', 'c', 'a', 0}, std::move(new_loca)});
  std::sort(tables.begin(), tables.end(),
            [](const OutTable &a, const OutTable &b) { return std::memcmp(a.tag, b.tag, 4) < 0; });

  // The offset table, the directory, then the tables in the same order.
  std::string &f = out->program;
  f.clear();
  const std::uint32_t n = static_cast<std::uint32_t>(tables.size());
  std::uint32_t pow2 = 1, log2 = 0;
  while (pow2 * 2 <= n) {
    pow2 *= 2;
    log2++;
  }
  f.append(reinterpret_cast<const char *>(font), 4);  // sfnt version, as the source font has it
  put16(&f, n);
  put16(&f, pow2 * 16);
  put16(&f, log2);
  put16(&f, n * 16 - pow2 * 16);
  std::uint32_t at = 12 + 16 * n;
  std::size_t head_at = 0;
  for (const OutTable &t : tables) {
    f.append(t.tag, 4);
    put32(&f, checksum(t.data));
    put32(&f, at);
    put32(&f, static_cast<std::uint32_t>(t.data.size()));
    if (std::memcmp(t.tag, "head", 4) == 0) head_at = at;
    at += static_cast<std::uint32_t>((t.data.size() + 3) & ~std::size_t{3});
  }
  for (const OutTable &t : tables) {
    f += t.data;
    f.resize((f.size() + 3) & ~std::size_t{3}, '\0');
  }
  set32(&f, head_at + k_head_adjust, k_checksum_magic - checksum(f));
  return true;
}

std::string subset_tag(const std::vector<int> &glyphs) {
  std::uint64_t h = 14695981039346656037ULL;  // FNV-1a over the ids, two bytes each
  for (int g : glyphs)
    for (int shift : {8, 0}) {
      h ^= static_cast<std::uint64_t>(g >> shift & 0xFF);
      h *= 1099511628211ULL;
    }
  std::string tag(6, 'A');
  for (char &c : tag) {
    c = static_cast<char>('A' + h % 26);
    h /= 26;
  }
  return tag;
}

}  // namespace zyk
