// Source fonts: how the codes of a replaced font become characters, and the
// glyph use of the substitute font for those characters.
//
// Reading a font dictionary never fails: every entry that cannot be read
// (missing object, stream that does not decode, malformed array) is simply
// no answer, and the next source in line answers instead (see text.h). Only
// one level of indirection is followed for each entry (/Encoding 12 0 R,
// /ToUnicode 13 0 R, /Differences 14 0 R), which is all the format allows.
#include <cstring>

#include "font/glyph_names.h"
#include "writer/text.h"
#include "writer/writer.h"

namespace zyk {

namespace {

// The text of a value: itself, or the object it references (a stream's
// dictionary). The entry of the object is returned for streams.
bool value_text(const Doc &d, const byte *t, int s, int e, const byte **vt, int *vlen, const ObjEntry **obj) {
  *obj = nullptr;
  s = skip_ws_comments(t, s, e);
  int p = s;
  int n = parse_int_at(t, e, &p);
  if (n > 0) {
    int q = skip_ws(t, p, e);
    if (q < e && is_digit(t[q])) {
      parse_int_at(t, e, &q);
      q = skip_ws(t, q, e);
      if (q < e && t[q] == 'R') {
        int k = obj_find(&d.objs, n);
        if (k < 0) return false;
        *obj = &d.objs.elems[k];
        return object_text(d, **obj, vt, vlen);
      }
    }
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

void set_base(SourceFont *f, int encoding) {
  for (int c = 0; c < 256; c++) {
    int u = encoding == ENC_MACROMAN ? macroman_to_unicode(c) : winansi_to_unicode(c);
    f->simple[c] = u > 0 ? std::u32string(1, static_cast<char32_t>(u)) : std::u32string();
  }
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
      if (code >= 0 && code < 256) {
        std::string n = unescape_name({reinterpret_cast<const char *>(t) + i + 1, static_cast<std::size_t>(e - i - 1)});
        std::u32string u = glyph_name_to_unicode(n);
        // A name without meaning leaves the base encoding's answer.
        if (!u.empty()) f->simple[code] = u.substr(0, k_max_chars_per_code);
      }
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
  if (!stream_decode(d, *obj, DecodeLimits{}, &data).ok()) return false;
  cmap_parse(reinterpret_cast<const unsigned char *>(data.data()), data.size(), m);
  return true;
}

bool contains(std::string_view s, const char *part) { return s.find(part) != std::string_view::npos; }

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
    if (enc && value_text(d, t, enc->val, enc->val_end, &vt, &vlen, &obj)) {
      std::string_view n = name_of(vt, vlen);
      if (!n.empty()) {
        // Predefined Unicode CMaps: the codes are UTF-16BE (UCS-2 is its
        // two-byte subset).
        if (contains(n, "UCS2") || contains(n, "UTF16")) f->code_is_utf16 = true;
        if (contains(n, "UTF16")) {
          f->spaces.push_back({2, 0x0000, 0xD7FF, {0x00, 0x00}, {0xD7, 0xFF}});
          f->spaces.push_back({4, 0xD800DC00, 0xDBFFDFFF, {0xD8, 0x00, 0xDC, 0x00}, {0xDB, 0xFF, 0xDF, 0xFF}});
          f->spaces.push_back({2, 0xE000, 0xFFFF, {0xE0, 0x00}, {0xFF, 0xFF}});
        } else if (!n.starts_with("Identity") && !f->code_is_utf16 && f->has_to_unicode) {
          // Another predefined CMap, whose ranges are not carried here:
          // the ToUnicode CMap states the same code space.
          f->spaces = f->to_unicode.spaces;
        }
      } else {
        SourceCMap m;
        if (read_cmap_stream(d, obj, &m)) f->spaces = m.spaces;
      }
    }
    return;
  }

  if (enc && value_text(d, t, enc->val, enc->val_end, &vt, &vlen, &obj)) {
    std::vector<DictEntry> ees;
    if (entries_of(vt, vlen, &ees)) {
      const DictEntry *be = dict_find(vt, ees, "BaseEncoding");
      if (be)
        set_base(f, name_of(vt + be->val, be->val_end - be->val) == "MacRomanEncoding" ? ENC_MACROMAN : ENC_WINANSI);
      const DictEntry *df = dict_find(vt, ees, "Differences");
      const byte *dt = nullptr;
      int dlen = 0;
      const ObjEntry *dobj = nullptr;
      if (df && value_text(d, vt, df->val, df->val_end, &dt, &dlen, &dobj)) apply_differences(dt, dlen, f);
    }
  }
  if (f->has_to_unicode) {
    for (int c = 0; c < 256; c++) {
      std::u32string u = cmap_lookup(f->to_unicode, static_cast<std::uint32_t>(c));
      // A mapping to U+0000 or to nothing is no answer.
      if (!u.empty() && !(u.size() == 1 && u[0] == 0)) f->simple[c] = u;
    }
  }
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

void source_font_decode(const SourceFont &f, const unsigned char *s, std::size_t n, std::vector<TextCode> *out) {
  out->clear();
  if (f.kind != TextKind::composite) {
    for (std::size_t i = 0; i < n; i++) out->push_back({s[i], 1, f.simple[s[i]]});
    return;
  }
  std::size_t i = 0;
  while (i < n) {
    // The code is the shortest byte sequence that lies in a code-space
    // range; with no match, the shortest length of any range (two bytes
    // when the font states none), as readers do.
    int len = 0;
    int shortest = k_max_code_bytes + 1;
    for (const CodeSpace &cs : f.spaces) {
      if (cs.nbytes < shortest) shortest = cs.nbytes;
      if (len && cs.nbytes >= len) continue;
      if (i + static_cast<std::size_t>(cs.nbytes) > n) continue;
      bool in = true;
      for (int k = 0; k < cs.nbytes && in; k++) in = s[i + k] >= cs.lo_b[k] && s[i + k] <= cs.hi_b[k];
      if (in) len = cs.nbytes;
    }
    if (!len) len = f.spaces.empty() ? 2 : shortest;
    if (i + static_cast<std::size_t>(len) > n) len = static_cast<int>(n - i);
    std::uint32_t code = 0;
    for (int k = 0; k < len; k++) code = code << 8 | s[i + k];
    TextCode tc{code, len, {}};
    if (f.has_to_unicode) tc.chars = cmap_lookup(f.to_unicode, code);
    if (tc.chars.empty() && f.code_is_utf16) tc.chars = utf16be_decode(s + i, static_cast<std::size_t>(len));
    if (tc.chars.size() == 1 && tc.chars[0] == 0) tc.chars.clear();
    if (tc.chars.size() > static_cast<std::size_t>(k_max_chars_per_code)) tc.chars.resize(k_max_chars_per_code);
    out->push_back(std::move(tc));
    i += static_cast<std::size_t>(len);
  }
}

void resource_fonts(const Doc &d, const byte *res, int res_len, ResourceFonts *out) {
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
  std::map<int, std::shared_ptr<const SourceFont>> by_num;
  for (const DictEntry &x : fonts) {
    if (static_cast<int>(out->by_name.size()) >= k_font_cache_max) break;
    std::string name = unescape_name({reinterpret_cast<const char *>(ft) + x.key + 1,
                                      static_cast<std::size_t>(x.key_end - x.key - 1)});
    if (out->by_name.count(name)) continue;  // the first entry of a name counts
    const byte *vt = nullptr;
    int vlen = 0;
    if (!value_text(d, ft, x.val, x.val_end, &vt, &vlen, &obj)) continue;
    FontInfo fi{};
    auto f = std::make_shared<SourceFont>();
    if (obj) {
      auto known = by_num.find(obj->num);
      if (known != by_num.end()) {
        out->by_name[name] = known->second;
        continue;
      }
      if (!analyse_font(&d, *obj, &fi)) continue;
      source_font_read(d, fi, f.get());
      by_num[obj->num] = f;
    } else {
      ObjEntry direct{0, -1, -1, -1, -1, -1, -1, 0, 1, vt, vlen};
      if (!analyse_font(&d, direct, &fi)) continue;
      source_font_from_dict(d, vt, vlen, fi.kind, fi.encoding, f.get());
    }
    out->by_name[name] = std::move(f);
  }
}

namespace {

void mark(int g, std::uint32_t u) {
  g_tu_used[g >> 3] = static_cast<unsigned char>(g_tu_used[g >> 3] | 1u << (g & 7));
  if (u != 0 && g_tu_uni[g] == 0) g_tu_uni[g] = u;
}

}  // namespace

int text_glyph(std::uint32_t u) {
  if (g_ttf_ready != 1 || u == 0) return -1;
  auto font = font_liberation_sans();
  int g = ttf_unicode_to_gid(font.data(), font.size(), u);
  if (g <= 0 || g >= k_tu_glyphs) return -1;
  mark(g, u);
  return g;
}

int text_standin_glyph() { return text_glyph(k_standin_char); }

}  // namespace zyk
