// Document metadata: the XMP packet (B + 9) and the information dictionary
// (B + 10), carrying the source's catalogue data.
//
// An archive finds a document again by its title, authors, subject,
// keywords, creating application and creation date, so these come over from
// the source: from its information dictionary, or from its XMP packet where
// the dictionary lacks them. PDF/A requires the two places to agree, so each
// field is decoded once into Unicode and written to both:
//   /Title      dc:title, an x-default entry of a language alternative
//   /Author     dc:creator, a sequence of one entry
//   /Subject    dc:description, an x-default entry
//   /Keywords   pdf:Keywords
//   /Creator    xmp:CreatorTool
//   /CreationDate  xmp:CreateDate, the same instant in XMP form
// /Producer and pdf:Producer name this converter, and /ModDate and
// xmp:ModifyDate keep a fixed instant, so that the same input always gives
// the same bytes. A field the source lacks is not invented (the creating
// application and creation date fall back to the converter and the fixed
// instant, as before). A field whose bytes do not decode to characters XML
// can carry is dropped rather than garbled.
//
// Decoding: a text string starting with FE FF is UTF-16BE (language escape
// sequences between two U+001B are skipped), one starting with EF BB BF is
// UTF-8; any other is PDFDocEncoding, whose undefined codes make the field
// undecodable. Writing: Info strings stay literal when they are printable
// ASCII and become UTF-16BE with byte order mark otherwise; XMP values are
// UTF-8 with &, <, > and " escaped, and tab, line feed and carriage return
// as character references (an XML parser would otherwise fold them).
//
// Dates: any PDF date form ("D:" optional, from the year alone to seconds,
// time zone Z, +hh'mm' or -hh'mm', the apostrophes optional) or XMP date
// is read into one instant and written in full as "D:YYYYMMDDHHmmSS" with
// "Z" or "+hh'mm'" and as "YYYY-MM-DDThh:mm:ss" with "Z" or "+hh:mm"; a
// zero offset becomes Z (validators reject "Z00'00'"). A date without a time
// zone keeps none in both places.
//
// PDF/A-1 forbids a filtered catalog metadata stream, so part 1 writes the
// packet plain; part 2 compresses it, falling back to plain text when
// compression fails.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "flate/flate.h"
#include "writer/writer.h"

namespace zyk {

namespace {

struct FreeDeleter {
  void operator()(unsigned char *p) const { std::free(p); }
};

// PDFDocEncoding where it differs from Latin-1: 0x18..0x1F and 0x80..0xA0
// (0 = no character).
constexpr char16_t k_pdfdoc_18[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr char16_t k_pdfdoc_80[33] = {0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039,
                                      0x203A, 0x2212, 0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A,
                                      0x2122, 0xFB01, 0xFB02, 0x0141, 0x0152, 0x0160, 0x0178, 0x017D, 0x0131,
                                      0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC};

// Characters XML 1.0 carries that are no control characters (tab, line
// feed and carriage return excepted).
bool xml_char(std::uint32_t c) {
  if (c == 9 || c == 10 || c == 13) return true;
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  return c <= 0xFFFD || (c >= 0x10000 && c <= 0x10FFFF);
}

void put_utf8(std::uint32_t c, std::string *out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The code points of UTF-8 text, or false when it is malformed.
bool utf8_points(const std::string &s, std::vector<std::uint32_t> *out) {
  out->clear();
  static constexpr std::uint32_t k_min[4] = {0, 0x80, 0x800, 0x10000};
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    int n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (n < 0 || i + static_cast<std::size_t>(n) >= s.size()) return false;
    std::uint32_t c = n == 0 ? b : static_cast<std::uint32_t>(b & (0x3F >> n));
    for (int k = 1; k <= n; k++) {
      auto x = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((x & 0xC0) != 0x80) return false;
      c = c << 6 | (x & 0x3F);
    }
    if (c < k_min[n]) return false;  // overlong
    out->push_back(c);
    i += static_cast<std::size_t>(n) + 1;
  }
  return true;
}

}  // namespace

bool text_string_points(const std::string &bytes, std::vector<std::uint32_t> *points) {
  points->clear();
  // Producers often end a string with a NUL (a C string's terminator written
  // out, or a UTF-16 zero unit): it ends the text rather than making the field
  // undecodable.
  std::string b = bytes;
  bool utf16 = b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFE && static_cast<unsigned char>(b[1]) == 0xFF;
  if (utf16) {
    while (b.size() >= 4 && b[b.size() - 1] == 0 && b[b.size() - 2] == 0) b.resize(b.size() - 2);
  } else {
    while (!b.empty() && b.back() == 0) b.pop_back();
  }
  std::vector<std::uint32_t> cps;
  auto u = [&](std::size_t i) { return static_cast<unsigned char>(b[i]); };
  if (b.size() >= 2 && u(0) == 0xFE && u(1) == 0xFF) {
    if (b.size() % 2) return false;
    bool in_escape = false;
    for (std::size_t i = 2; i < b.size(); i += 2) {
      std::uint32_t c = static_cast<std::uint32_t>(u(i)) << 8 | u(i + 1);
      if (c == 0x1B) {
        in_escape = !in_escape;
        continue;
      }
      if (in_escape) continue;
      if (c >= 0xD800 && c <= 0xDBFF) {
        if (i + 3 >= b.size()) return false;
        std::uint32_t lo = static_cast<std::uint32_t>(u(i + 2)) << 8 | u(i + 3);
        if (lo < 0xDC00 || lo > 0xDFFF) return false;
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      } else if (c >= 0xDC00 && c <= 0xDFFF) {
        return false;
      }
      cps.push_back(c);
    }
    if (in_escape) return false;
  } else if (b.size() >= 3 && u(0) == 0xEF && u(1) == 0xBB && u(2) == 0xBF) {
    if (!utf8_points(b.substr(3), &cps)) return false;
  } else {
    for (std::size_t i = 0; i < b.size(); i++) {
      unsigned char c = u(i);
      std::uint32_t v = c;
      if (c >= 0x18 && c <= 0x1F) v = k_pdfdoc_18[c - 0x18];
      else if (c >= 0x80 && c <= 0xA0) v = k_pdfdoc_80[c - 0x80];
      else if (c == 0x7F || c == 0xAD) v = 0;
      else if (c < 0x20 && c != 9 && c != 10 && c != 13) v = 0;
      if (v == 0) return false;
      cps.push_back(v);
    }
  }
  *points = std::move(cps);
  return true;
}

bool text_string_utf8(const std::string &bytes, std::string *out) {
  out->clear();
  std::vector<std::uint32_t> cps;
  if (!text_string_points(bytes, &cps)) return false;
  for (std::uint32_t c : cps) {
    if (!xml_char(c)) return false;
    put_utf8(c, out);
  }
  return true;
}

namespace {

// ---- dates ------------------------------------------------------------------------

// Reads n digits at s[*i] within the limits; false when they are absent or
// out of range.
bool digits(const std::string &s, std::size_t *i, int n, int lo, int hi, int *v) {
  if (*i + static_cast<std::size_t>(n) > s.size()) return false;
  int x = 0;
  for (int k = 0; k < n; k++) {
    char c = s[*i + static_cast<std::size_t>(k)];
    if (c < '0' || c > '9') return false;
    x = x * 10 + (c - '0');
  }
  if (x < lo || x > hi) return false;
  *v = x;
  *i += static_cast<std::size_t>(n);
  return true;
}

bool at_digit(const std::string &s, std::size_t i) { return i < s.size() && s[i] >= '0' && s[i] <= '9'; }

// The time zone after the time: Z, or a sign with hours and optional
// minutes, each optionally followed by an apostrophe (PDF) or separated by
// a colon (XMP). A zero offset is Z.
bool read_zone(const std::string &s, std::size_t *i, Instant *t, bool xmp) {
  if (*i >= s.size()) return true;
  char c = s[*i];
  if (c == 'Z') {
    t->zone = 'Z';
    ++*i;
    // "Z00'00'" is written by some producers; the offset can only be zero.
    if (!xmp) {
      int h, m;
      if (digits(s, i, 2, 0, 0, &h)) {
        if (*i < s.size() && s[*i] == '\'') ++*i;
        if (digits(s, i, 2, 0, 0, &m) && *i < s.size() && s[*i] == '\'') ++*i;
      }
    }
    return true;
  }
  if (c != '+' && c != '-') return false;
  ++*i;
  int h = 0, m = 0;
  if (!digits(s, i, 2, 0, 23, &h)) return false;
  if (*i < s.size() && s[*i] == (xmp ? ':' : '\'')) ++*i;
  if (at_digit(s, *i)) {
    if (!digits(s, i, 2, 0, 59, &m)) return false;
    if (!xmp && *i < s.size() && s[*i] == '\'') ++*i;
  }
  t->zone = h == 0 && m == 0 ? 'Z' : c;
  t->zone_h = h;
  t->zone_m = m;
  return true;
}

int days_in(int y, int mo) {
  static constexpr int k_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return mo == 2 && leap ? 29 : k_days[mo - 1];
}

}  // namespace

bool parse_pdf_date(const std::string &text, Instant *t) {
  *t = Instant{};
  std::string s = text;
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  std::size_t i = s.compare(0, 2, "D:") == 0 ? 2 : 0;
  if (!digits(s, &i, 4, 1, 9999, &t->y)) return false;
  // Each further field is optional, but only in order.
  if (at_digit(s, i)) {
    if (!digits(s, &i, 2, 1, 12, &t->mo)) return false;
    if (at_digit(s, i)) {
      if (!digits(s, &i, 2, 1, days_in(t->y, t->mo), &t->d)) return false;
      if (at_digit(s, i) && !digits(s, &i, 2, 0, 23, &t->h)) return false;
      if (at_digit(s, i) && !digits(s, &i, 2, 0, 59, &t->mi)) return false;
      if (at_digit(s, i) && !digits(s, &i, 2, 0, 59, &t->s)) return false;
    }
  }
  if (!read_zone(s, &i, t, false)) return false;
  return i == s.size();
}

bool parse_xmp_date(const std::string &s, Instant *t) {
  *t = Instant{};
  std::size_t i = 0;
  if (!digits(s, &i, 4, 1, 9999, &t->y)) return false;
  if (i < s.size() && s[i] == '-') {
    i++;
    if (!digits(s, &i, 2, 1, 12, &t->mo)) return false;
    if (i < s.size() && s[i] == '-') {
      i++;
      if (!digits(s, &i, 2, 1, days_in(t->y, t->mo), &t->d)) return false;
      if (i < s.size() && s[i] == 'T') {
        i++;
        if (!digits(s, &i, 2, 0, 23, &t->h) || i >= s.size() || s[i++] != ':' ||
            !digits(s, &i, 2, 0, 59, &t->mi))
          return false;
        if (i < s.size() && s[i] == ':') {
          i++;
          if (!digits(s, &i, 2, 0, 59, &t->s)) return false;
          if (i < s.size() && s[i] == '.') {  // fractions of a second: not kept
            i++;
            if (!at_digit(s, i)) return false;
            while (at_digit(s, i)) i++;
          }
        }
        if (!read_zone(s, &i, t, true)) return false;
      }
    }
  }
  return i == s.size();
}

std::string pdf_date(const Instant &t) {
  char b[40];
  std::snprintf(b, sizeof b, "D:%04d%02d%02d%02d%02d%02d", t.y, t.mo, t.d, t.h, t.mi, t.s);
  std::string out = b;
  if (t.zone == 'Z') {
    out += 'Z';
  } else if (t.zone) {
    std::snprintf(b, sizeof b, "%c%02d'%02d'", t.zone, t.zone_h, t.zone_m);
    out += b;
  }
  return out;
}

std::string xmp_date(const Instant &t) {
  char b[40];
  std::snprintf(b, sizeof b, "%04d-%02d-%02dT%02d:%02d:%02d", t.y, t.mo, t.d, t.h, t.mi, t.s);
  std::string out = b;
  if (t.zone == 'Z') {
    out += 'Z';
  } else if (t.zone) {
    std::snprintf(b, sizeof b, "%c%02d:%02d", t.zone, t.zone_h, t.zone_m);
    out += b;
  }
  return out;
}

// ---- reading the source ------------------------------------------------------------

bool string_value(const Doc &d, const byte *t, int v, int ve, std::string *out, int depth) {
  if (v >= ve) return false;
  if (t[v] == '(') {
    literal_bytes(t, v, ve, out);
    return true;
  }
  if (t[v] == '<' && (v + 1 >= ve || t[v + 1] != '<')) {
    return hex_decode(t, static_cast<std::size_t>(v + 1), static_cast<std::size_t>(ve), true, out);
  }
  int num = depth > 0 ? -1 : value_ref(t, v, ve);
  int k = num > 0 ? obj_find(&d.objs, num) : -1;
  const byte *ot;
  int olen;
  if (k < 0 || !object_text(d, d.objs.elems[k], &ot, &olen)) return false;
  return string_value(d, ot, 0, olen, out, depth + 1);
}

namespace {

// The /Info reference of a trailer dictionary at t[s, e), or -1.
int info_ref(const byte *t, int s, int e) {
  std::vector<DictEntry> es;
  int close = 0;
  s = skip_ws_comments(t, s, e);
  if (s >= e || t[s] != '<' || !dict_entries(t, s, e, &es, &close)) return -1;
  const DictEntry *in = dict_find(t, es, "Info");
  if (!in) return -1;
  return value_ref(t, in->val, in->val_end);
}

// The information dictionary's object: the one the loader's trailer chain
// names, else, in a file whose cross-reference offsets lead nowhere (or to a
// section without /Info, as the last section of a linearized file often
// is), the one named by the trailer or cross-reference stream that comes
// last in the file.
int info_object(const Doc &d) {
  if (d.info_num > 0 && obj_find(&d.objs, d.info_num) >= 0) return obj_find(&d.objs, d.info_num);
  int best = -1, best_pos = -1;
  for (int p = find_kw(d.pdf, d.pdf_len, 0, "trailer"); p >= 0; p = find_kw(d.pdf, d.pdf_len, p + 7, "trailer")) {
    int n = info_ref(d.pdf, p + 7, d.pdf_len);
    if (n > 0 && obj_find(&d.objs, n) >= 0) best = n, best_pos = p;
  }
  for (int i = 0; i < d.objs.nelems; i++) {
    const ObjEntry &e = d.objs.elems[i];
    if (!e.is_stream || e.in_objstm || e.hdr_off <= best_pos || e.dict_off < 0) continue;
    std::vector<DictEntry> es;
    int close = 0;
    if (!dict_entries(d.pdf, e.dict_off, e.stream_off, &es, &close)) continue;
    const DictEntry *type = dict_find(d.pdf, es, "Type");
    if (!type || !token_is(d.pdf, type->val, type->val_end, "/XRef")) continue;
    int n = info_ref(d.pdf, e.dict_off, e.stream_off);
    if (n > 0 && obj_find(&d.objs, n) >= 0) best = n, best_pos = e.hdr_off;
  }
  return best > 0 ? obj_find(&d.objs, best) : -1;
}

// The source's information dictionary entries as UTF-8 ("" when absent or
// undecodable).
struct InfoReader {
  const Doc &d;
  const byte *t = nullptr;
  std::vector<DictEntry> entries;

  explicit InfoReader(const Doc &doc) : d(doc) {
    int k = info_object(d);
    int len, close;
    if (k < 0 || !object_text(d, d.objs.elems[k], &t, &len) || !dict_entries(t, 0, len, &entries, &close))
      entries.clear();
  }
  std::string text(const char *key) const {
    const DictEntry *e = dict_find(t, entries, key);
    std::string bytes, utf8;
    if (!e || !string_value(d, t, e->val, e->val_end, &bytes) || !text_string_utf8(bytes, &utf8)) return "";
    return utf8;
  }
  bool date(const char *key, Instant *when) const {
    const DictEntry *e = dict_find(t, entries, key);
    // A date is a text string too: some producers write it in UTF-16.
    std::string bytes, text;
    return e && string_value(d, t, e->val, e->val_end, &bytes) && text_string_utf8(bytes, &text) &&
           parse_pdf_date(text, when);
  }
};

// XML text with its five predefined entities and character references
// resolved, as UTF-8; false for anything else after '&' or characters XML
// does not carry.
bool xml_unescape(const std::string &s, std::string *out) {
  out->clear();
  std::vector<std::uint32_t> cps;
  if (!utf8_points(s, &cps)) return false;
  for (std::size_t i = 0; i < cps.size(); i++) {
    std::uint32_t c = cps[i];
    if (c == '&') {
      std::size_t j = i + 1;
      std::string name;
      while (j < cps.size() && cps[j] != ';' && name.size() < 12) name.push_back(static_cast<char>(cps[j++]));
      if (j >= cps.size() || cps[j] != ';') return false;
      if (name == "amp") c = '&';
      else if (name == "lt") c = '<';
      else if (name == "gt") c = '>';
      else if (name == "quot") c = '"';
      else if (name == "apos") c = '\'';
      else if (name.size() > 1 && name[0] == '#') {
        bool hex = name[1] == 'x';
        char *end = nullptr;
        unsigned long v = std::strtoul(name.c_str() + (hex ? 2 : 1), &end, hex ? 16 : 10);
        if (!end || *end || v > 0x10FFFF) return false;
        c = static_cast<std::uint32_t>(v);
      } else {
        return false;
      }
      i = j;
    }
    if (!xml_char(c)) return false;
    put_utf8(c, out);
  }
  return true;
}

// The text of the first element <tag ...>text</tag> of the packet, or of an
// attribute tag="text" of an element, with entities resolved; "" when absent.
std::string xmp_simple(const std::string &x, const std::string &tag) {
  for (std::size_t p = x.find(tag); p != std::string::npos; p = x.find(tag, p + 1)) {
    if (p == 0) continue;
    char before = x[p - 1];
    std::size_t q = p + tag.size();
    if (q >= x.size()) break;
    std::string value;
    if (before == '<' && (x[q] == '>' || x[q] == ' ')) {
      std::size_t open = x.find('>', q);
      if (open == std::string::npos || x[open - 1] == '/') continue;
      std::size_t close = x.find("</" + tag, open);
      if (close == std::string::npos) continue;
      value = x.substr(open + 1, close - open - 1);
      if (value.find('<') != std::string::npos) continue;  // structured, not simple
    } else if (before == ' ' || before == '\n' || before == '\t' || before == '\r') {
      while (q < x.size() && (x[q] == ' ' || x[q] == '\n' || x[q] == '\r' || x[q] == '\t')) q++;
      if (q >= x.size() || x[q] != '=') continue;
      q++;
      while (q < x.size() && (x[q] == ' ' || x[q] == '\n' || x[q] == '\r' || x[q] == '\t')) q++;
      if (q >= x.size() || (x[q] != '"' && x[q] != '\'')) continue;
      std::size_t end = x.find(x[q], q + 1);
      if (end == std::string::npos) continue;
      value = x.substr(q + 1, end - q - 1);
    } else {
      continue;
    }
    std::string out;
    return xml_unescape(value, &out) ? out : "";
  }
  return "";
}

// The items of the rdf:li list inside <tag>...</tag>; for a language
// alternative only the x-default item (or the first when none is marked).
std::vector<std::string> xmp_list(const std::string &x, const std::string &tag, bool alt) {
  std::vector<std::string> items;
  std::size_t p = x.find("<" + tag + ">");
  if (p == std::string::npos) return items;
  std::size_t end = x.find("</" + tag + ">", p);
  if (end == std::string::npos) return items;
  std::string body = x.substr(p, end - p);
  std::string first, preferred;
  for (std::size_t li = body.find("<rdf:li"); li != std::string::npos; li = body.find("<rdf:li", li + 1)) {
    std::size_t open = body.find('>', li);
    if (open == std::string::npos || body[open - 1] == '/') continue;
    std::size_t close = body.find("</rdf:li>", open);
    if (close == std::string::npos) break;
    std::string text;
    if (!xml_unescape(body.substr(open + 1, close - open - 1), &text) || text.empty()) continue;
    if (!alt) {
      items.push_back(text);
    } else {
      std::string attrs = body.substr(li, open - li);
      if (attrs.find("\"x-default\"") != std::string::npos || attrs.find("'x-default'") != std::string::npos)
        preferred = text;
      else if (first.empty())
        first = text;
    }
  }
  if (alt && !(preferred.empty() && first.empty())) items.push_back(preferred.empty() ? first : preferred);
  return items;
}

// The catalog's metadata stream, decoded, or "".
std::string source_xmp(const Doc &d) {
  int k = obj_find(&d.objs, d.catalog_num);
  const byte *t;
  int len, close = 0;
  std::vector<DictEntry> es;
  if (k < 0 || !object_text(d, d.objs.elems[k], &t, &len) || !dict_entries(t, 0, len, &es, &close)) return "";
  const DictEntry *md = dict_find(t, es, "Metadata");
  int num = md ? value_ref(t, md->val, md->val_end) : -1;
  int m = num > 0 ? obj_find(&d.objs, num) : -1;
  if (m < 0 || !d.objs.elems[m].is_stream) return "";
  std::string x;
  if (!stream_decode(d, d.objs.elems[m], DecodeLimits{k_metadata_max}, &x).ok()) return "";
  return x;
}

}  // namespace

DocMeta doc_meta(const Doc &d) {
  DocMeta m;
  InfoReader info(d);
  m.title = info.text("Title");
  m.author = info.text("Author");
  m.subject = info.text("Subject");
  m.keywords = info.text("Keywords");
  m.creator = info.text("Creator");
  m.has_created = info.date("CreationDate", &m.created);
  if (!m.title.empty() && !m.author.empty() && !m.subject.empty() && !m.keywords.empty() && !m.creator.empty() &&
      m.has_created)
    return m;
  std::string x = source_xmp(d);
  if (x.empty()) return m;
  auto first = [](const std::vector<std::string> &v) { return v.empty() ? std::string() : v[0]; };
  if (m.title.empty()) m.title = first(xmp_list(x, "dc:title", true));
  if (m.subject.empty()) m.subject = first(xmp_list(x, "dc:description", true));
  if (m.author.empty()) {
    for (const std::string &a : xmp_list(x, "dc:creator", false)) m.author += (m.author.empty() ? "" : "; ") + a;
  }
  if (m.keywords.empty()) m.keywords = xmp_simple(x, "pdf:Keywords");
  if (m.creator.empty()) m.creator = xmp_simple(x, "xmp:CreatorTool");
  if (!m.has_created) m.has_created = parse_xmp_date(xmp_simple(x, "xmp:CreateDate"), &m.created);
  return m;
}

namespace {

// ---- writing ------------------------------------------------------------------------

// XML text: &, <, > and (in attributes) " escaped; tab, line feed and
// carriage return as character references.
std::string xml_escape(const std::string &s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// A PDF text string: literal when printable ASCII, else UTF-16BE with byte
// order mark in hexadecimal.
std::string pdf_text(const std::string &utf8) {
  std::vector<std::uint32_t> cps;
  utf8_points(utf8, &cps);
  bool ascii = true;
  for (std::uint32_t c : cps) ascii = ascii && c >= 0x20 && c < 0x7F;
  std::string out;
  if (ascii) {
    out = "(";
    for (std::uint32_t c : cps) {
      if (c == '(' || c == ')' || c == '\\') out.push_back('\\');
      out.push_back(static_cast<char>(c));
    }
    return out + ")";
  }
  static const char hex[] = "0123456789ABCDEF";
  out = "<FEFF";
  auto unit = [&](std::uint32_t u) {
    for (int sh = 12; sh >= 0; sh -= 4) out.push_back(hex[u >> sh & 15]);
  };
  for (std::uint32_t c : cps) {
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out + ">";
}

}  // namespace

std::string xmp_packet(int part, const DocMeta &m) {
  const std::string creator = m.creator.empty() ? std::string(k_producer) : m.creator;
  const std::string created = m.has_created ? xmp_date(m.created) : std::string(k_xmp_date);
  char ident[96];
  std::snprintf(ident, sizeof ident, "   pdfaid:part=\"%d\" pdfaid:conformance=\"B\"\n", part);
  std::string x;
  x += "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
  x += "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"";
  x += k_producer;
  x += "\">\n";
  x += " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
  x += "  <rdf:Description rdf:about=\"\"\n";
  x += "    xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\"\n";
  x += "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n";
  x += "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n";
  x += "    xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"\n";
  x += ident;
  x += "   dc:format=\"application/pdf\" xmp:CreatorTool=\"";
  x += xml_escape(creator);
  x += "\"\n   xmp:CreateDate=\"";
  x += created;
  x += "\" xmp:ModifyDate=\"";
  x += k_xmp_date;
  x += "\"\n   pdf:Producer=\"";
  x += k_producer;
  x += "\"";
  if (!m.keywords.empty()) x += "\n   pdf:Keywords=\"" + xml_escape(m.keywords) + "\"";
  if (m.title.empty() && m.author.empty() && m.subject.empty()) {
    x += "/>\n";
  } else {
    x += ">\n";
    if (!m.title.empty())
      x += "   <dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + xml_escape(m.title) +
           "</rdf:li></rdf:Alt></dc:title>\n";
    if (!m.author.empty())
      x += "   <dc:creator><rdf:Seq><rdf:li>" + xml_escape(m.author) + "</rdf:li></rdf:Seq></dc:creator>\n";
    if (!m.subject.empty())
      x += "   <dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">" + xml_escape(m.subject) +
           "</rdf:li></rdf:Alt></dc:description>\n";
    x += "  </rdf:Description>\n";
  }
  x += " </rdf:RDF>\n";
  x += "</x:xmpmeta>\n";
  x += "<?xpacket end=\"w\"?>\n";
  return x;
}

void write_metadata(const Numbering &nb, int part, const DocMeta &m, Out *out) {
  std::string xmp = xmp_packet(part, m);
  unsigned char *packed = nullptr;
  std::uint64_t packed_len = 0;
  char dict[160];
  if (part != 1 &&
      sx_deflate(reinterpret_cast<const unsigned char *>(xmp.data()), xmp.size(), &packed, &packed_len) == 0) {
    std::unique_ptr<unsigned char, FreeDeleter> owner(packed);
    std::snprintf(dict, sizeof dict, "<< /Type /Metadata /Subtype /XML /Length %llu /Filter /FlateDecode >>",
                  static_cast<unsigned long long>(packed_len));
    out->stream_obj(nb.metadata(), dict, packed, packed_len);
  } else {
    std::snprintf(dict, sizeof dict, "<< /Type /Metadata /Subtype /XML /Length %zu >>", xmp.size());
    out->stream_obj(nb.metadata(), dict, xmp.data(), xmp.size());
  }

  std::string info = "<<";
  if (!m.title.empty()) info += " /Title " + pdf_text(m.title) + "\n  ";
  if (!m.author.empty()) info += " /Author " + pdf_text(m.author) + "\n  ";
  if (!m.subject.empty()) info += " /Subject " + pdf_text(m.subject) + "\n  ";
  if (!m.keywords.empty()) info += " /Keywords " + pdf_text(m.keywords) + "\n  ";
  info += std::string(" /Producer (") + k_producer + ")\n   /Creator ";
  info += m.creator.empty() ? std::string("(") + k_producer + ")" : pdf_text(m.creator);
  info += "\n   /CreationDate (" + (m.has_created ? pdf_date(m.created) : std::string(k_pdf_date)) + ") /ModDate (" +
          k_pdf_date + ") >>\nendobj\n";
  out->begin_obj(nb.info());
  out->str(info.c_str());
}

}  // namespace zyk
