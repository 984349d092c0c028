// Builds small TrueType files in memory for the reader's tests: a directory
// whose records can be made to lie (offset, length, duplicate tags), and the
// few tables the reader looks at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sfnt {

inline void put16(std::string &s, std::uint32_t v) {
  s += static_cast<char>(v >> 8 & 0xFF);
  s += static_cast<char>(v & 0xFF);
}
inline void put32(std::string &s, std::uint32_t v) {
  put16(s, v >> 16);
  put16(s, v & 0xFFFF);
}
inline std::string be16(std::uint32_t v) {
  std::string s;
  put16(s, v);
  return s;
}

struct Table {
  std::string tag;
  std::string data;
  long long off = -1;  // directory offset to write instead of the real one
  long long len = -1;  // directory length to write instead of the real one
};

// The font as an exactly sized byte vector, so that a read past its end is
// caught by AddressSanitizer. Tables follow the directory, 4-byte aligned.
inline std::vector<unsigned char> build(const std::vector<Table> &tables, std::string version = std::string("\0\1\0\0", 4)) {
  std::string out = version;
  put16(out, static_cast<std::uint32_t>(tables.size()));
  put16(out, 0);
  put16(out, 0);
  put16(out, 0);
  std::size_t data_at = 12 + 16 * tables.size();
  std::string body;
  for (const Table &t : tables) {
    while ((data_at + body.size()) % 4) body += '\0';
    std::size_t off = data_at + body.size();
    body += t.data;
    out += t.tag.substr(0, 4);
    put32(out, 0);  // checksum, never verified
    put32(out, static_cast<std::uint32_t>(t.off >= 0 ? t.off : static_cast<long long>(off)));
    put32(out, static_cast<std::uint32_t>(t.len >= 0 ? t.len : static_cast<long long>(t.data.size())));
  }
  out += body;
  return {out.begin(), out.end()};
}

inline std::string head(std::uint32_t upm, std::size_t size = 54) {
  std::string h(size, '\0');
  if (size >= 20) {
    h[18] = static_cast<char>(upm >> 8);
    h[19] = static_cast<char>(upm & 0xFF);
  }
  return h;
}

inline std::string maxp(std::uint32_t glyphs) {
  std::string m;
  put32(m, 0x00005000);
  put16(m, glyphs);
  return m;
}

inline std::string hhea(std::uint32_t metrics, std::size_t size = 36) {
  std::string h(34, '\0');
  put16(h, metrics);
  h.resize(size, '\0');
  return h;
}

inline std::string hmtx(const std::vector<std::uint32_t> &advances) {
  std::string s;
  for (std::uint32_t a : advances) {
    put16(s, a);
    put16(s, 0);
  }
  return s;
}

struct NameRec {
  std::uint32_t platform, encoding, language, name_id;
  std::string text;          // bytes as stored
  long long off = -1;        // string offset to write instead of the real one
  long long len = -1;        // string length to write instead of the real one
};

inline std::string utf16be(const std::u16string &s) {
  std::string o;
  for (char16_t c : s) put16(o, c);
  return o;
}

// A name table; `count` overrides the record count (to claim more records
// than the table holds).
inline std::string name(const std::vector<NameRec> &recs, long long count = -1) {
  std::string t;
  put16(t, 0);
  put16(t, static_cast<std::uint32_t>(count >= 0 ? count : static_cast<long long>(recs.size())));
  put16(t, static_cast<std::uint32_t>(6 + 12 * recs.size()));
  std::string strings;
  for (const NameRec &r : recs) {
    put16(t, r.platform);
    put16(t, r.encoding);
    put16(t, r.language);
    put16(t, r.name_id);
    put16(t, static_cast<std::uint32_t>(r.len >= 0 ? r.len : static_cast<long long>(r.text.size())));
    put16(t, static_cast<std::uint32_t>(r.off >= 0 ? r.off : static_cast<long long>(strings.size())));
    strings += r.text;
  }
  return t + strings;
}

// Format 4 subtable from segments (start, end, delta) with idRangeOffset 0,
// plus the closing 0xFFFF segment.
struct Seg {
  std::uint32_t start, end, delta;
};
inline std::string cmap4(std::vector<Seg> segs) {
  segs.push_back({0xFFFF, 0xFFFF, 1});
  std::string s;
  std::uint32_t n = static_cast<std::uint32_t>(segs.size());
  put16(s, 4);
  put16(s, static_cast<std::uint32_t>(16 + 8 * n));
  put16(s, 0);
  put16(s, 2 * n);
  put16(s, 0);
  put16(s, 0);
  put16(s, 0);
  for (auto &g : segs) put16(s, g.end);
  put16(s, 0);
  for (auto &g : segs) put16(s, g.start);
  for (auto &g : segs) put16(s, g.delta & 0xFFFF);
  for (std::uint32_t i = 0; i < n; i++) put16(s, 0);
  return s;
}

// Format 6 subtable: first code and glyph array.
inline std::string cmap6(std::uint32_t first, const std::vector<std::uint32_t> &glyphs) {
  std::string s;
  put16(s, 6);
  put16(s, static_cast<std::uint32_t>(10 + 2 * glyphs.size()));
  put16(s, 0);
  put16(s, first);
  put16(s, static_cast<std::uint32_t>(glyphs.size()));
  for (auto g : glyphs) put16(s, g);
  return s;
}

struct Group {
  std::uint32_t start, end, glyph;
};
inline std::string cmap12(const std::vector<Group> &groups, long long claimed = -1) {
  std::string s;
  put16(s, 12);
  put16(s, 0);
  put32(s, static_cast<std::uint32_t>(16 + 12 * groups.size()));
  put32(s, 0);
  put32(s, static_cast<std::uint32_t>(claimed >= 0 ? claimed : static_cast<long long>(groups.size())));
  for (auto &g : groups) {
    put32(s, g.start);
    put32(s, g.end);
    put32(s, g.glyph);
  }
  return s;
}

struct Encoding {
  std::uint32_t platform, encoding;
  std::string subtable;
  long long off = -1;  // subtable offset to write instead of the real one
};

inline std::string cmap(const std::vector<Encoding> &encs) {
  std::string t;
  put16(t, 0);
  put16(t, static_cast<std::uint32_t>(encs.size()));
  std::string subs;
  std::size_t base = 4 + 8 * encs.size();
  for (const Encoding &e : encs) {
    put16(t, e.platform);
    put16(t, e.encoding);
    put32(t, static_cast<std::uint32_t>(e.off >= 0 ? e.off : static_cast<long long>(base + subs.size())));
    subs += e.subtable;
  }
  return t + subs;
}

// A minimal valid font around a cmap and a name table.
inline std::vector<Table> minimal(const std::string &cmap_table = {}, const std::string &name_table = {}) {
  std::vector<Table> t = {{"head", head(1000)}, {"maxp", maxp(10)}};
  if (!cmap_table.empty()) t.push_back({"cmap", cmap_table});
  if (!name_table.empty()) t.push_back({"name", name_table});
  return t;
}

}  // namespace sfnt
