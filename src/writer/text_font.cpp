// Source fonts: how the codes of a replaced font become characters, and the
// glyph use of the substitute font for those characters.
//
// Reading a font dictionary never fails: every entry that cannot be read
// (missing object, stream that does not decode, malformed array) is simply
// no answer, and the next source in line answers instead (see text.h). Only
// one level of indirection is followed for each entry (/Encoding 12 0 R,
// /ToUnicode 13 0 R, /Differences 14 0 R), which is all the format allows.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "font/glyph_names.h"
#include "font/source_font.h"
#include "writer/text.h"
#include "writer/writer.h"

namespace zyk {

namespace {

// The text of a value: itself, or the object it references (a stream's
// dictionary). The entry of the object is returned for streams.
bool value_text(const Doc &d, const byte *t, int s, int e, const byte **vt, int *vlen, const ObjEntry **obj) {
  *obj = nullptr;
  s = skip_ws_comments(t, s, e);
  int n = value_ref(t, s, e);
  if (n >= 0) {
    int k = n > 0 ? obj_find(&d.objs, n) : -1;
    if (k < 0) return false;
    *obj = &d.objs.elems[k];
    return object_text(d, **obj, vt, vlen);
  }
  *vt = t + s;
  *vlen = e - s;
  return e > s;
}

bool entries_of(const byte *t, int len, std::vector<DictEntry> *es) {
  int s = skip_ws_comments(t, 0, len);
  int close = 0;
  return dict_entries(t, s, len, es, &close);
}

std::string_view name_of(const byte *t, int len) {
  int s = skip_ws_comments(t, 0, len);
  if (s >= len || t[s] != '/') return {};
  int e = s + 1;
  while (e < len && is_regular(t[e])) e++;
  return {reinterpret_cast<const char *>(t) + s + 1, static_cast<std::size_t>(e - s - 1)};
}

// A name with its #xx escapes resolved.
std::string unescape_name(std::string_view n) {
  std::string s;
  for (std::size_t i = 0; i < n.size(); i++) {
    auto hx = [](char c) {
      return c >= '0' && c <= '9'   ? c - '0'
             : c >= 'a' && c <= 'f' ? c - 'a' + 10
             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                    : -1;
    };
    if (n[i] == '#' && i + 2 < n.size() && hx(n[i + 1]) >= 0 && hx(n[i + 2]) >= 0) {
      s.push_back(static_cast<char>(hx(n[i + 1]) << 4 | hx(n[i + 2])));
      i += 2;
    } else {
      s.push_back(n[i]);
    }
  }
  return s;
}

// A code point that is no text: C0 and C1 controls and DEL. Codes mapped to
// them (WinAnsi reads codes below 32 as controls; producers write <000C> in
// ToUnicode CMaps for glyphs they could not name) are unknown instead: a form
// feed in extracted text is a false page break, and no glyph shows a control.
bool is_control(std::uint32_t u) { return u < 0x20 || (u >= 0x7F && u <= 0x9F); }

bool has_control(const std::u32string &s) {
  for (char32_t u : s)
    if (is_control(u)) return true;
  return false;
}

// A ToUnicode entry's characters made fit for text: tab, line feed and
// carriage return (which producers write for glyphs that show white space)
// become spaces; any other control makes the whole entry unknown. The base
// encoding is no better answer then: the entry says the code is no letter.
std::u32string text_of_entry(std::u32string s) {
  for (char32_t &u : s)
    if (u == 9 || u == 10 || u == 13) u = 0x20;
  return has_control(s) ? std::u32string() : s;
}

std::u32string one_char(std::uint32_t u) {
  return u == 0 || is_control(u) ? std::u32string() : std::u32string(1, static_cast<char32_t>(u));
}

// Base encodings a simple font can fall back on.
enum class Base { winansi, macroman, standard, symbol, dingbats };

void set_base(SourceFont *f, Base b) {
  for (int c = 0; c < 256; c++) {
    std::uint32_t u = 0;
    switch (b) {
      case Base::winansi: u = static_cast<std::uint32_t>(std::max(0, winansi_to_unicode(c))); break;
      case Base::macroman: u = static_cast<std::uint32_t>(std::max(0, macroman_to_unicode(c))); break;
      case Base::standard: u = k_standard_encoding[c]; break;
      case Base::symbol: u = k_symbol_encoding[c]; break;
      case Base::dingbats: u = k_dingbats_encoding[c]; break;
    }
    f->simple[c] = one_char(u);
  }
}

void set_base(SourceFont *f, int encoding) { set_base(f, encoding == ENC_MACROMAN ? Base::macroman : Base::winansi); }

void set_name(SourceFont *f, int code, std::string_view name) {
  std::u32string u = glyph_name_to_unicode(name);
  // A name without meaning leaves the base encoding's answer.
  if (!u.empty() && !has_control(u)) f->simple[code] = u.substr(0, k_max_chars_per_code);
}

// /Differences [code /name /name code /name ...]: each name stands for the
// code after the last number, counting up.
void apply_differences(const byte *t, int len, SourceFont *f) {
  int i = skip_ws_comments(t, 0, len);
  if (i >= len || t[i] != '[') return;
  i++;
  long code = -1;
  while (i < len) {
    i = skip_ws_comments(t, i, len);
    if (i >= len || t[i] == ']') return;
    int e = value_end(t, i, len);
    if (e <= i) return;
    if (t[i] == '/') {
      if (code >= 0 && code < 256)
        set_name(f, static_cast<int>(code),
                 unescape_name({reinterpret_cast<const char *>(t) + i + 1, static_cast<std::size_t>(e - i - 1)}));
      if (code >= 0) code++;
    } else if (is_digit(t[i])) {
      int p = i;
      code = parse_int_at(t, e, &p);
    }
    i = e;
  }
}

bool read_cmap_stream(const Doc &d, const ObjEntry *obj, SourceCMap *m) {
  if (!obj || !obj->is_stream) return false;
  std::string data;
  if (!stream_decode(d, *obj, DecodeLimits{k_font_stream_max}, &data).ok()) return false;
  cmap_parse(reinterpret_cast<const unsigned char *>(data.data()), data.size(), m);
  return true;
}

bool contains(std::string_view s, const char *part) { return s.find(part) != std::string_view::npos; }

// A number token at [s, e): integer or real.
bool number_of(const byte *t, int s, int e, double *v) {
  if (e <= s || e - s > 40) return false;
  char buf[48];
  int n = 0;
  for (int i = s; i < e; i++) {
    byte c = t[i];
    if (!(is_digit(c) || c == '.' || c == '-' || c == '+')) return false;
    buf[n++] = static_cast<char>(c);
  }
  buf[n] = 0;
  char *end = nullptr;
  *v = std::strtod(buf, &end);
  return end != buf && std::isfinite(*v);
}

// The entries of a dictionary value (inline or referenced) with its text.
struct DictView {
  const byte *t = nullptr;
  int len = 0;
  const ObjEntry *obj = nullptr;
  std::vector<DictEntry> es;
  bool ok = false;
  const DictEntry *find(const char *k) const { return ok ? dict_find(t, es, k) : nullptr; }
};

DictView dict_value(const Doc &d, const byte *t, const DictEntry *e) {
  DictView v;
  if (e && value_text(d, t, e->val, e->val_end, &v.t, &v.len, &v.obj)) v.ok = entries_of(v.t, v.len, &v.es);
  return v;
}

// The text of an entry's value, references followed once.
bool entry_text(const Doc &d, const byte *t, const DictEntry *e, const byte **vt, int *vlen, const ObjEntry **obj) {
  return e && value_text(d, t, e->val, e->val_end, vt, vlen, obj);
}

// The numbers of an array value, in order; a non-number item ends it.
std::vector<double> number_array(const Doc &d, const byte *t, const DictEntry *e) {
  std::vector<double> out;
  const byte *at = nullptr;
  int alen = 0;
  const ObjEntry *obj = nullptr;
  if (!entry_text(d, t, e, &at, &alen, &obj)) return out;
  int i = skip_ws_comments(at, 0, alen);
  if (i >= alen || at[i] != '[') return out;
  i++;
  while (i < alen && out.size() < 65536) {
    i = skip_ws_comments(at, i, alen);
    if (i >= alen || at[i] == ']') break;
    int ve = value_end(at, i, alen);
    double v = 0;
    if (ve <= i) break;
    if (number_of(at, i, ve, &v)) {
      out.push_back(v);
    } else {
      // An indirect number (rare but allowed) is followed once.
      const byte *rt = nullptr;
      int rlen = 0;
      const ObjEntry *ro = nullptr;
      int s = 0;
      if (!value_text(d, at, i, ve, &rt, &rlen, &ro) || !ro) break;
      s = skip_ws_comments(rt, 0, rlen);
      int re = s;
      while (re < rlen && is_regular(rt[re])) re++;
      if (!number_of(rt, s, re, &v)) break;
      out.push_back(v);
    }
    i = ve;
  }
  return out;
}

double number_entry(const Doc &d, const byte *t, const DictEntry *e, double fallback) {
  const byte *vt = nullptr;
  int vlen = 0;
  const ObjEntry *obj = nullptr;
  if (!entry_text(d, t, e, &vt, &vlen, &obj)) return fallback;
  int s = skip_ws_comments(vt, 0, vlen);
  int x = s;
  while (x < vlen && is_regular(vt[x])) x++;
  double v = 0;
  return number_of(vt, s, x, &v) ? v : fallback;
}

// A decoded font program stream named by the descriptor's entry.
bool program_of(const Doc &d, const DictView &desc, const char *key, std::string *data, std::string_view *subtype) {
  const DictEntry *e = desc.find(key);
  const byte *vt = nullptr;
  int vlen = 0;
  const ObjEntry *obj = nullptr;
  if (!entry_text(d, desc.t, e, &vt, &vlen, &obj) || !obj || !obj->is_stream) return false;
  if (subtype) {
    std::vector<DictEntry> es;
    const DictEntry *st = entries_of(vt, vlen, &es) ? dict_find(vt, es, "Subtype") : nullptr;
    *subtype = st ? name_of(vt + st->val, st->val_end - st->val) : std::string_view();
  }
  return stream_decode(d, *obj, DecodeLimits{k_font_stream_max}, data).ok() && !data->empty();
}

// The CFF table of an OpenType font with PostScript outlines ("OTTO"), or
// the program itself.
std::string_view cff_bytes(const std::string &prog) {
  if (prog.size() >= 4 && prog.compare(0, 4, "OTTO") == 0) {
    std::uint32_t off = 0, len = 0;
    auto p = reinterpret_cast<const unsigned char *>(prog.data());
    if (find_table(p, prog.size(), "CFF ", &off, &len)) return std::string_view(prog).substr(off, len);
    return {};
  }
  return prog;
}

bool is_sfnt(const std::string &prog) {
  return prog.size() >= 4 && (prog.compare(0, 4, std::string("\0\1\0\0", 4)) == 0 || prog.compare(0, 4, "true") == 0);
}

// The built-in encoding of the font's embedded program, over the base
// already set. Returns true when the program gave one.
bool builtin_from_program(const Doc &d, const DictView &desc, bool symbolic, SourceFont *f) {
  std::string prog;
  std::string_view sub;
  if (program_of(d, desc, "FontFile", &prog, nullptr)) {
    std::string names[256];
    bool standard = false;
    if (!type1_builtin_encoding(reinterpret_cast<const unsigned char *>(prog.data()), prog.size(), names, &standard))
      return false;
    set_base(f, Base::standard);
    if (!standard) {
      for (int c = 0; c < 256; c++) {
        f->simple[c].clear();
        if (!names[c].empty() && names[c] != ".notdef") set_name(f, c, names[c]);
      }
    }
    return true;
  }
  if (program_of(d, desc, "FontFile3", &prog, &sub)) {
    // A TrueType program under FontFile3 /OpenType is read below.
    if (!is_sfnt(prog)) {
      std::string_view c = cff_bytes(prog);
      CffFont cff;
      if (c.empty() || !cff_read(reinterpret_cast<const unsigned char *>(c.data()), c.size(), &cff) || cff.cid_keyed)
        return false;
      set_base(f, Base::standard);
      if (!cff.standard_encoding) {
        for (int code = 0; code < 256; code++) {
          f->simple[code].clear();
          int g = cff.code_gid[code];
          if (g > 0 && g < static_cast<int>(cff.glyph_names.size())) set_name(f, code, cff.glyph_names[static_cast<std::size_t>(g)]);
        }
      }
      return true;
    }
  } else if (!program_of(d, desc, "FontFile2", &prog, nullptr)) {
    return false;
  }
  // TrueType: only a symbolic font is read through its own cmap; a
  // non-symbolic one keeps its base encoding.
  if (!symbolic) return false;
  TtfCmaps cm;
  if (!ttf_read_cmaps(reinterpret_cast<const unsigned char *>(prog.data()), prog.size(), &cm)) return false;
  const std::vector<std::int32_t> &m = !cm.symbolic.empty() ? cm.symbolic : cm.mac_roman;
  if (m.empty()) return false;
  for (int c = 0; c < 256; c++) {
    std::int32_t g = m[static_cast<std::size_t>(c)];
    if (g <= 0) continue;  // no glyph: the base answer (the code read as WinAnsi) stays
    std::uint32_t u = 0;
    if (static_cast<std::size_t>(g) < cm.gid_post.size()) u = cm.gid_post[static_cast<std::size_t>(g)];
    if (!u && static_cast<std::size_t>(g) < cm.gid_unicode.size()) u = cm.gid_unicode[static_cast<std::size_t>(g)];
    // A Unicode subtable entry in the symbol area (U+F0xx) is the same
    // code again, not a character.
    if (u >= 0xF000 && u <= 0xF0FF) u = 0;
    if (u) f->simple[c] = one_char(u);
  }
  return true;
}

// Source advances of a simple font: /Widths from /FirstChar, /MissingWidth
// of the descriptor for the codes outside; for a standard font without
// /Widths, its metrics by character.
void simple_widths(const Doc &d, const byte *t, const std::vector<DictEntry> &es, const DictView &desc, SourceFont *f) {
  std::vector<double> w = number_array(d, t, dict_find(t, es, "Widths"));
  if (!w.empty()) {
    double first = number_entry(d, t, dict_find(t, es, "FirstChar"), 0);
    double missing = number_entry(d, desc.t, desc.find("MissingWidth"), 0);
    for (int c = 0; c < 256; c++) {
      double k = c - first;
      f->width[c] = static_cast<float>(k >= 0 && k < static_cast<double>(w.size()) ? w[static_cast<std::size_t>(k)] : missing);
    }
    f->widths_known = true;
    return;
  }
  const DictEntry *bf = dict_find(t, es, "BaseFont");
  int s14 = bf ? std14_index(unescape_name(name_of(t + bf->val, bf->val_end - bf->val))) : -1;
  if (s14 < 0) return;
  for (int c = 0; c < 256; c++) {
    if (f->simple[c].empty()) continue;
    int aw = std14_width(s14, f->simple[c][0]);
    if (aw >= 0) f->width[c] = static_cast<float>(aw);
  }
  f->widths_known = true;
}

// /W [c [w1 w2 ...] c_first c_last w ...] (or /W2, whose entries carry three
// numbers per CID: the vertical advance first). Sorted by first CID.
void cid_widths(const Doc &d, const byte *t, const DictEntry *e, bool vertical, SourceFont *f) {
  const byte *at = nullptr;
  int alen = 0;
  const ObjEntry *obj = nullptr;
  if (!entry_text(d, t, e, &at, &alen, &obj)) return;
  int i = skip_ws_comments(at, 0, alen);
  if (i >= alen || at[i] != '[') return;
  i++;
  std::vector<double> pend;  // numbers since the last entry
  const std::size_t step = vertical ? 3 : 1;
  while (i < alen && f->cid_widths.size() < 65536) {
    i = skip_ws_comments(at, i, alen);
    if (i >= alen || at[i] == ']') break;
    int ve = value_end(at, i, alen);
    if (ve <= i) break;
    double v = 0;
    if (at[i] == '[') {
      if (pend.size() != 1) break;
      std::vector<double> list;
      for (int k = i + 1; k < ve - 1;) {
        k = skip_ws_comments(at, k, ve - 1);
        if (k >= ve - 1) break;
        int ke = value_end(at, k, ve - 1);
        if (ke <= k || !number_of(at, k, ke, &v)) break;
        list.push_back(v);
        k = ke;
      }
      std::uint32_t c0 = static_cast<std::uint32_t>(std::max(0.0, pend[0]));
      for (std::size_t k = 0; k + step <= list.size(); k += step)
        f->cid_widths.push_back({c0 + static_cast<std::uint32_t>(k / step), c0 + static_cast<std::uint32_t>(k / step),
                                 static_cast<float>(list[k])});
      pend.clear();
    } else if (number_of(at, i, ve, &v)) {
      pend.push_back(v);
      if (pend.size() == 2 + step) {
        if (pend[0] >= 0 && pend[1] >= pend[0])
          f->cid_widths.push_back({static_cast<std::uint32_t>(pend[0]), static_cast<std::uint32_t>(pend[1]),
                                   static_cast<float>(pend[2])});
        pend.clear();
      }
    } else {
      break;
    }
    i = ve;
  }
  std::stable_sort(f->cid_widths.begin(), f->cid_widths.end(),
                   [](const CidWidth &a, const CidWidth &b) { return a.lo < b.lo; });
}

// The string value of an entry ("(Japan1)"), escapes not needed for the
// names compared here.
std::string string_entry(const byte *t, const DictEntry *e) {
  if (!e) return {};
  int s = skip_ws_comments(t, e->val, e->val_end);
  if (s >= e->val_end || t[s] != '(') return {};
  int x = s + 1;
  while (x < e->val_end && t[x] != ')') x++;
  return std::string(reinterpret_cast<const char *>(t) + s + 1, static_cast<std::size_t>(x - s - 1));
}

// The descendant CIDFont: widths, and the characters of its CIDs when the
// font carries no ToUnicode (its ordering's table, or its embedded program).
void read_descendant(const Doc &d, const byte *t, const std::vector<DictEntry> &es, SourceFont *f) {
  const byte *at = nullptr;
  int alen = 0;
  const ObjEntry *obj = nullptr;
  if (!entry_text(d, t, dict_find(t, es, "DescendantFonts"), &at, &alen, &obj)) return;
  int i = skip_ws_comments(at, 0, alen);
  if (i >= alen || at[i] != '[') return;
  i = skip_ws_comments(at, i + 1, alen);
  int ve = value_end(at, i, alen);
  if (ve <= i) return;
  DictEntry one{0, 0, i, ve};
  DictView cf = dict_value(d, at, &one);
  if (!cf.ok) return;
  f->default_width = static_cast<float>(f->vertical ? -1000 : 1000);
  if (f->vertical) {
    std::vector<double> dw2 = number_array(d, cf.t, cf.find("DW2"));
    if (dw2.size() >= 2) f->default_width = static_cast<float>(dw2[1]);
    cid_widths(d, cf.t, cf.find("W2"), true, f);
  } else {
    f->default_width = static_cast<float>(number_entry(d, cf.t, cf.find("DW"), 1000));
    cid_widths(d, cf.t, cf.find("W"), false, f);
  }
  f->widths_known = true;
  DictView si = dict_value(d, cf.t, cf.find("CIDSystemInfo"));
  std::string ordering = si.ok ? string_entry(si.t, si.find("Ordering")) : std::string();
  std::string registry = si.ok ? string_entry(si.t, si.find("Registry")) : std::string();
  if (registry == "Adobe" && cid_ordering_chars(ordering, &f->cid_chars)) return;

  DictView desc = dict_value(d, cf.t, cf.find("FontDescriptor"));
  if (!desc.ok) return;
  std::string prog;
  std::string_view sub;
  if (program_of(d, desc, "FontFile2", &prog, nullptr) ||
      (program_of(d, desc, "FontFile3", &prog, &sub) && is_sfnt(prog))) {
    TtfCmaps cm;
    if (!ttf_read_cmaps(reinterpret_cast<const unsigned char *>(prog.data()), prog.size(), &cm)) return;
    // CID -> glyph id: /CIDToGIDMap /Identity (or absent), or a stream of
    // two-byte glyph ids indexed by CID.
    std::string map;
    const byte *mt = nullptr;
    int mlen = 0;
    const ObjEntry *mo = nullptr;
    bool mapped = entry_text(d, cf.t, cf.find("CIDToGIDMap"), &mt, &mlen, &mo) && mo && mo->is_stream &&
                  stream_decode(d, *mo, DecodeLimits{k_font_stream_max}, &map).ok();
    std::size_t ng = std::max(cm.gid_unicode.size(), cm.gid_post.size());
    std::size_t ncid = mapped ? map.size() / 2 : ng;
    ncid = std::min<std::size_t>(ncid, 65536);
    f->cid_chars.assign(ncid, 0);
    for (std::size_t cid = 0; cid < ncid; cid++) {
      std::size_t g = mapped ? static_cast<std::size_t>(static_cast<unsigned char>(map[2 * cid]) << 8 |
                                                        static_cast<unsigned char>(map[2 * cid + 1]))
                             : cid;
      if (g == 0) continue;
      std::uint32_t u = g < cm.gid_unicode.size() ? cm.gid_unicode[g] : 0;
      if (!u && g < cm.gid_post.size()) u = cm.gid_post[g];
      if (u >= 0xF000 && u <= 0xF0FF) u = 0;
      if (!is_control(u)) f->cid_chars[cid] = u;
    }
    return;
  }
  if (program_of(d, desc, "FontFile3", &prog, &sub)) {
    std::string_view c = cff_bytes(prog);
    CffFont cff;
    if (c.empty() || !cff_read(reinterpret_cast<const unsigned char *>(c.data()), c.size(), &cff)) return;
    if (cff.cid_keyed) {
      // A CID-keyed program with a known ordering: its CIDs are that
      // ordering's, whatever the dictionary's CIDSystemInfo says.
      // An ordering not known here leaves the CIDs without characters.
      if (cff.registry == "Adobe") (void)cid_ordering_chars(cff.ordering, &f->cid_chars);
      return;
    }
    // A name-keyed CFF under a CIDFont: CIDs are glyph ids.
    f->cid_chars.assign(cff.glyph_names.size(), 0);
    for (std::size_t g = 1; g < cff.glyph_names.size(); g++) {
      std::u32string u = glyph_name_to_unicode(cff.glyph_names[g]);
      if (u.size() == 1 && !is_control(u[0])) f->cid_chars[g] = u[0];
    }
  }
}

}  // namespace

void source_font_base(SourceFont *f, int encoding) {
  f->kind = TextKind::simple;
  set_base(f, encoding);
}

void source_font_from_dict(const Doc &d, const byte *t, int len, int kind, int encoding, SourceFont *f) {
  source_font_base(f, encoding);
  if (kind == FONT_TYPE3) {
    f->kind = TextKind::keep;
    return;
  }
  std::vector<DictEntry> es;
  if (!entries_of(t, len, &es)) return;
  const ObjEntry *obj = nullptr;
  const byte *vt = nullptr;
  int vlen = 0;

  const DictEntry *tu = dict_find(t, es, "ToUnicode");
  if (tu && value_text(d, t, tu->val, tu->val_end, &vt, &vlen, &obj))
    f->has_to_unicode = read_cmap_stream(d, obj, &f->to_unicode);

  const DictEntry *enc = dict_find(t, es, "Encoding");
  if (kind == FONT_TYPE0) {
    f->kind = TextKind::composite;
    bool cids_known = true;
    if (enc && value_text(d, t, enc->val, enc->val_end, &vt, &vlen, &obj)) {
      std::string_view n = name_of(vt, vlen);
      if (!n.empty()) {
        f->vertical = n.ends_with("-V");
        // Predefined Unicode CMaps: the codes are UTF-16BE (UCS-2 is its
        // two-byte subset).
        if (contains(n, "UCS2") || contains(n, "UTF16")) f->code_is_utf16 = true;
        if (contains(n, "UTF16")) {
          f->spaces.push_back({2, 0x0000, 0xD7FF, {0x00, 0x00}, {0xD7, 0xFF}});
          f->spaces.push_back({4, 0xD800DC00, 0xDBFFDFFF, {0xD8, 0x00, 0xDC, 0x00}, {0xDB, 0xFF, 0xDF, 0xFF}});
          f->spaces.push_back({2, 0xE000, 0xFFFF, {0xE0, 0x00}, {0xFF, 0xFF}});
        }
        if (!n.starts_with("Identity")) {
          PredefinedCMap pc;
          if (predefined_cmap(unescape_name(n), &pc)) {
            // The CMap's own code space and CIDs (for the widths, and for
            // the characters of non-Unicode CMaps through the ordering).
            if (!contains(n, "UTF16")) {
              f->spaces.clear();
              for (const PredefinedCMap::Space &s : pc.spaces) {
                CodeSpace cs{s.nbytes, s.lo, s.hi, {}, {}};
                for (int k = 0; k < s.nbytes; k++) {
                  cs.lo_b[k] = static_cast<unsigned char>(s.lo >> (8 * (s.nbytes - 1 - k)));
                  cs.hi_b[k] = static_cast<unsigned char>(s.hi >> (8 * (s.nbytes - 1 - k)));
                }
                f->spaces.push_back(cs);
              }
            }
            f->cid_identity = false;
            f->cid_ranges.reserve(pc.ranges.size());
            for (const PredefinedCMap::Range &r : pc.ranges) f->cid_ranges.push_back({r.lo, r.hi, r.cid});
          } else {
            // A predefined CMap not carried here: its codes are not CIDs,
            // so neither the CIDs' characters nor their widths apply. The
            // ToUnicode CMap states the same code space.
            cids_known = false;
            if (!f->code_is_utf16 && f->has_to_unicode) f->spaces = f->to_unicode.spaces;
          }
        }
      } else {
        SourceCMap m;
        if (read_cmap_stream(d, obj, &m)) f->spaces = m.spaces;
      }
    }
    read_descendant(d, t, es, f);
    if (!cids_known) {
      f->cid_chars.clear();
      f->widths_known = false;
    }
    return;
  }

  // Simple fonts. The base encoding: the one named, else the font's own.
  const DictEntry *fd = dict_find(t, es, "FontDescriptor");
  DictView desc = dict_value(d, t, fd);
  int flags = static_cast<int>(number_entry(d, desc.t, desc.find("Flags"), 0));
  bool symbolic = (flags & 4) != 0;
  const DictEntry *st = dict_find(t, es, "Subtype");
  bool type1 = st && name_of(t + st->val, st->val_end - st->val) != "TrueType";
  const DictEntry *bf = dict_find(t, es, "BaseFont");
  int s14 = bf ? std14_index(unescape_name(name_of(t + bf->val, bf->val_end - bf->val))) : -1;

  bool named_base = false;
  std::vector<DictEntry> ees;
  const byte *et = nullptr;
  int elen = 0;
  if (enc && value_text(d, t, enc->val, enc->val_end, &et, &elen, &obj)) {
    std::string_view n = name_of(et, elen);
    if (!n.empty()) {
      named_base = true;
      set_base(f, n == "MacRomanEncoding" ? Base::macroman : n == "StandardEncoding" ? Base::standard : Base::winansi);
    } else if (entries_of(et, elen, &ees)) {
      const DictEntry *be = dict_find(et, ees, "BaseEncoding");
      if (be) {
        named_base = true;
        std::string_view bn = name_of(et + be->val, be->val_end - be->val);
        set_base(f, bn == "MacRomanEncoding" ? Base::macroman : bn == "StandardEncoding" ? Base::standard : Base::winansi);
      }
    }
  }
  if (!named_base) {
    bool builtin = desc.ok && builtin_from_program(d, desc, symbolic, f);
    if (!builtin) {
      if (s14 == 8)
        set_base(f, Base::symbol);
      else if (s14 == 13)
        set_base(f, Base::dingbats);
      else if (type1)
        set_base(f, Base::standard);
    }
  }
  if (!ees.empty()) {
    const DictEntry *df = dict_find(et, ees, "Differences");
    const byte *dt = nullptr;
    int dlen = 0;
    const ObjEntry *dobj = nullptr;
    if (df && value_text(d, et, df->val, df->val_end, &dt, &dlen, &dobj)) apply_differences(dt, dlen, f);
  }
  if (f->has_to_unicode) {
    for (int c = 0; c < 256; c++) {
      std::u32string u = cmap_lookup(f->to_unicode, static_cast<std::uint32_t>(c));
      // A mapping to U+0000 or to nothing is no answer; one to a control
      // makes the code unknown.
      if (u.empty() || (u.size() == 1 && u[0] == 0)) continue;
      f->simple[c] = text_of_entry(u);
    }
  }
  simple_widths(d, t, es, desc, f);
}

void source_font_read(const Doc &d, const FontInfo &info, SourceFont *f) {
  source_font_base(f, info.encoding);
  if (info.kind == FONT_TYPE3) {
    f->kind = TextKind::keep;
    return;
  }
  int k = obj_find(&d.objs, info.obj_num);
  const byte *t = nullptr;
  int len = 0;
  if (k < 0 || !object_text(d, d.objs.elems[k], &t, &len)) {
    if (info.kind == FONT_TYPE0) f->kind = TextKind::composite;
    return;
  }
  source_font_from_dict(d, t, len, info.kind, info.encoding, f);
}

namespace {

std::uint32_t code_cid(const SourceFont &f, std::uint32_t code) {
  if (f.cid_identity) return code;
  auto it = std::upper_bound(f.cid_ranges.begin(), f.cid_ranges.end(), code,
                             [](std::uint32_t c, const CidRange &r) { return c < r.lo; });
  if (it == f.cid_ranges.begin()) return 0;
  --it;
  return code <= it->hi ? it->cid + (code - it->lo) : 0;
}

float cid_advance(const SourceFont &f, std::uint32_t cid) {
  auto it = std::upper_bound(f.cid_widths.begin(), f.cid_widths.end(), cid,
                             [](std::uint32_t c, const CidWidth &r) { return c < r.lo; });
  // Entries may overlap; the last one starting at or before cid that covers
  // it answers, as later entries are the more specific ones in practice.
  while (it != f.cid_widths.begin()) {
    --it;
    if (cid <= it->hi) return f.vertical ? -it->w : it->w;
    if (it->lo + 65536 < cid) break;
  }
  return f.vertical ? -f.default_width : f.default_width;
}

}  // namespace

std::size_t source_font_decode(const SourceFont &f, const unsigned char *s, std::size_t n, std::vector<TextCode> *out,
                               std::size_t max_codes) {
  out->clear();
  if (f.kind != TextKind::composite) {
    const std::size_t m = std::min(n, max_codes);
    out->reserve(m);
    for (std::size_t i = 0; i < m; i++) out->push_back({s[i], 1, f.simple[s[i]], f.width[s[i]]});
    return m;
  }
  std::size_t i = 0;
  while (i < n && out->size() < max_codes) {
    // The code is the shortest byte sequence that lies in a code-space
    // range; with no match, the shortest length of any range (two bytes
    // when the font states none), as readers do.
    const unsigned char *at = s + i;
    int len = 0;
    int shortest = k_max_code_bytes + 1;
    for (const CodeSpace &cs : f.spaces) {
      if (cs.nbytes < shortest) shortest = cs.nbytes;
      if (len && cs.nbytes >= len) continue;
      if (i + static_cast<std::size_t>(cs.nbytes) > n) continue;
      bool in = true;
      for (int k = 0; k < cs.nbytes && in; k++) in = at[k] >= cs.lo_b[k] && at[k] <= cs.hi_b[k];
      if (in) len = cs.nbytes;
    }
    if (!len) len = f.spaces.empty() ? 2 : shortest;
    if (i + static_cast<std::size_t>(len) > n) len = static_cast<int>(n - i);
    std::uint32_t code = 0;
    for (int k = 0; k < len; k++) code = code << 8 | at[k];
    TextCode tc{code, len, {}, -1};
    std::uint32_t cid = code_cid(f, code);
    bool from_to_unicode = false;
    if (f.has_to_unicode) {
      tc.chars = cmap_lookup(f.to_unicode, code);
      from_to_unicode = !tc.chars.empty() && !(tc.chars.size() == 1 && tc.chars[0] == 0);
      if (from_to_unicode) tc.chars = text_of_entry(tc.chars);
    }
    if (tc.chars.empty() && !from_to_unicode && f.code_is_utf16) tc.chars = utf16be_decode(s + i, static_cast<std::size_t>(len));
    if (tc.chars.empty() && !from_to_unicode && cid < f.cid_chars.size() && f.cid_chars[cid]) tc.chars = one_char(f.cid_chars[cid]);
    if (tc.chars.size() == 1 && tc.chars[0] == 0) tc.chars.clear();
    if (has_control(tc.chars)) tc.chars.clear();
    if (tc.chars.size() > static_cast<std::size_t>(k_max_chars_per_code)) tc.chars.resize(k_max_chars_per_code);
    if (f.widths_known) tc.width = cid_advance(f, cid);
    out->push_back(std::move(tc));
    i += static_cast<std::size_t>(len);
  }
  return i;
}

void resource_fonts(const Doc &d, const byte *res, int res_len, ResourceFonts *out, SourceFontCache *cache) {
  out->by_name.clear();
  std::vector<DictEntry> es;
  const ObjEntry *obj = nullptr;
  // The resources may be given as a reference (a form's /Resources 12 0 R).
  if (!res || !value_text(d, res, 0, res_len, &res, &res_len, &obj) || !entries_of(res, res_len, &es)) return;
  const DictEntry *fe = dict_find(res, es, "Font");
  const byte *ft = nullptr;
  int flen = 0;
  if (!fe || !value_text(d, res, fe->val, fe->val_end, &ft, &flen, &obj)) return;
  std::vector<DictEntry> fonts;
  if (!entries_of(ft, flen, &fonts)) return;
  // Fonts read before, by this conversion or (past the cache's limit) by
  // this call.
  SourceFontCache local;
  auto read_before = [&](int num) -> const std::shared_ptr<const SourceFont> * {
    if (auto it = local.by_num.find(num); it != local.by_num.end()) return &it->second;
    if (!cache) return nullptr;
    auto it = cache->by_num.find(num);
    return it != cache->by_num.end() ? &it->second : nullptr;
  };
  for (const DictEntry &x : fonts) {
    if (static_cast<int>(out->by_name.size()) >= k_font_cache_max) break;
    std::string name = unescape_name({reinterpret_cast<const char *>(ft) + x.key + 1,
                                      static_cast<std::size_t>(x.key_end - x.key - 1)});
    if (out->by_name.count(name)) continue;  // the first entry of a name counts
    const byte *vt = nullptr;
    int vlen = 0;
    if (!value_text(d, ft, x.val, x.val_end, &vt, &vlen, &obj)) continue;
    if (obj) {
      if (const std::shared_ptr<const SourceFont> *known = read_before(obj->num)) {
        if (*known) out->by_name[name] = *known;
        continue;
      }
    }
    FontInfo fi{};
    auto f = std::make_shared<SourceFont>();
    if (obj) {
      SourceFontCache &keep = cache && cache->by_num.size() < k_font_doc_cache_max ? *cache : local;
      if (!analyse_font(&d, *obj, &fi)) {
        keep.by_num[obj->num] = nullptr;
        continue;
      }
      source_font_read(d, fi, f.get());
      keep.by_num[obj->num] = f;
    } else {
      ObjEntry direct{0, -1, -1, -1, -1, -1, -1, 0, 1, vt, vlen};
      if (!analyse_font(&d, direct, &fi)) continue;
      source_font_from_dict(d, vt, vlen, fi.kind, fi.encoding, f.get());
    }
    out->by_name[name] = std::move(f);
  }
}

int text_glyph(GlyphUse &use, std::uint32_t u) {
  const SubstituteFont &sub = substitute_font();
  if (!sub.ready || u == 0) return -1;
  int g = sub.gid(u);
  if (g <= 0 || g >= k_tu_glyphs) return -1;
  use.mark(g, u);
  return g;
}

int text_standin_glyph(GlyphUse &use) { return text_glyph(use, k_standin_char); }

}  // namespace zyk
