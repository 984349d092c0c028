// Conformance of the copied objects: what a PDF/A file of the requested part
// may not hold, treated in the dictionaries where it stands.
//
// A conversion writes a file only when it is PDF/A of its part, so every
// copied dictionary (and every dictionary nested in it, and every page's
// resource text) is walked once when it is reached, and once more when it is
// written. The first walk decides: it refuses what cannot be kept without
// changing what the page shows, naming the page that first reached the
// object; the second applies the treatments that change nothing visible:
//
//   ExtGState /TR, /TR2   /Identity and /Default are what a viewer does
//                         anyway: dropped. A real transfer function refuses
//                         (neither part allows one).
//   ExtGState CA, ca < 1, a soft mask, a blend mode other than /Normal or
//                         /Compatible: real transparency. Part 2 keeps it;
//                         part 1 refuses and says so.
//   image /SMask          a mask whose every sample is opaque masks nothing:
//                         dropped (both parts). A real mask is transparency.
//   form /Group           in part 1 a transparency group can only hold
//                         opaque painting (anything else refused above), so
//                         the group changes nothing: dropped.
//   /JPXDecode            PDF/A-1 has no JPEG 2000: refused. Part 2 keeps
//                         the image when its JP2 header meets that part's
//                         rules (checked by jpx_problem).
//   /LZWDecode            forbidden in both parts: the stream is decoded and
//                         compressed with Flate when it is copied
//                         (transfer.cpp); data that does not decode refuses.
//   numbers               part 1 knows reals up to 32767 in magnitude and
//                         both parts integers of 32 bits: a value beyond is
//                         clamped to the limit (it stood for "very large";
//                         boxes and matrices stay as far out as they may).
//   /Font resources       a font that names an object that does not exist
//                         refuses: its text would be drawn with no font.
//   /DeviceCMYK           the output intent is RGB, so device CMYK may not
//                         stand where a colour space is named: image and
//                         shading spaces, colour space resources, the
//                         alternate of Separation and DeviceN, the base of
//                         Indexed and Pattern spaces, a transparency
//                         group's blending space. It becomes the
//                         ICC-based CMYK space of the embedded CMYK profile,
//                         written directly (some validators ignore
//                         /DefaultCMYK in those places). Painting operators
//                         in CMYK are turned into RGB in the content.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "writer/writer.h"

namespace zyk {

namespace {

bool value_is(const byte *t, const DictEntry *e, const char *tok) {
  return e && token_is(t, e->val, e->val_end, tok);
}

// The object a value "N G R" names, or -1 (also for direct values).
int ref_target(const byte *t, int s, int e) {
  std::vector<RefHit> refs;
  find_refs(t + s, e - s, &refs);
  if (refs.size() != 1 || refs[0].start != 0) return -1;
  int end = skip_ws_comments(t, s + refs[0].end, e);
  return end == e ? refs[0].num : -1;
}

// A value as text, with an indirect one replaced by its object's text.
bool resolved_value(const Doc &d, const byte **t, int *s, int *e) {
  int num = ref_target(*t, *s, *e);
  if (num < 0) return true;
  int k = num > 0 ? obj_find(&d.objs, num) : -1;
  if (k < 0) return false;
  const byte *text;
  int len;
  if (!object_text(d, d.objs.elems[k], &text, &len)) return false;
  *t = text;
  *s = 0;
  *e = len;
  return true;
}

// A number token: its value, and whether it is written as a real.
bool number_token(const byte *t, int s, int e, double *v, bool *real) {
  if (e <= s || e - s > 400) return false;
  int i = s;
  if (t[i] == '+' || t[i] == '-') i++;
  bool digit = false, dot = false;
  for (; i < e; i++) {
    if (is_digit(t[i])) {
      digit = true;
    } else if (t[i] == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  std::string s_num(reinterpret_cast<const char *>(t) + s, static_cast<std::size_t>(e - s));
  *v = std::strtod(s_num.c_str(), nullptr);
  *real = dot;
  return true;
}

struct Edit {
  int s;
  int e;
  std::string with;
};

struct Walk {
  const Transfer &x;
  Transfer *decide;  // the first walk: records decisions and the refusal
  std::vector<Edit> edits;
  std::string refusal;
  bool gstate_root = false;  // the walked object is named as a graphics state

  void refuse(const char *why) {
    if (refusal.empty()) refusal = why;
  }
};

bool transparency_ok(const Walk &w) { return w.x.part != 1; }

void walk_value(Walk *w, const byte *t, int s, int e, int depth);
void walk_dict(Walk *w, const byte *t, int s, int e, int depth, bool outer, bool gstate);
void gstate_resources(Walk *w, const byte *t, int s, int e, int depth);

// The object number when [s, e) is one reference "N G R", else 0.
int single_ref(const byte *t, int s, int e) {
  std::vector<RefHit> refs;
  find_refs(t + s, e - s, &refs);
  return refs.size() == 1 && refs[0].start == 0 ? refs[0].num : 0;
}

// Replaces the colour space value [s, e) when it is device CMYK.
void cmyk_space(Walk *w, const byte *t, int s, int e) {
  if (!token_is(t, s, e, "/DeviceCMYK")) return;
  w->edits.push_back({s, e, std::to_string(k_cmyk_space_key) + " 0 R"});
  if (w->decide) w->decide->cmyk_used = true;
}

// A colour space array whose base or alternate space is device CMYK.
void cmyk_in_array(Walk *w, const byte *t, int s, int e) {
  std::vector<std::pair<int, int>> items;
  for (int i = skip_ws_comments(t, s + 1, e); i < e && t[i] != ']'; i = skip_ws_comments(t, i, e)) {
    int ve = value_end(t, i, e);
    if (ve < 0) return;
    items.push_back({i, ve});
    i = ve;
  }
  if (items.empty()) return;
  auto [fs, fe] = items[0];
  std::size_t at = 0;
  if (token_is(t, fs, fe, "/Separation") || token_is(t, fs, fe, "/DeviceN"))
    at = 2;
  else if (token_is(t, fs, fe, "/Indexed") || token_is(t, fs, fe, "/I") || token_is(t, fs, fe, "/Pattern"))
    at = 1;
  if (at && at < items.size()) cmyk_space(w, t, items[at].first, items[at].second);
}

// The keys of an extended graphics state.
void ext_gstate(Walk *w, const byte *t, const std::vector<DictEntry> &es) {
  for (const DictEntry &x : es) {
    if (key_is(t, x, "TR") || key_is(t, x, "TR2")) {
      // One name for all components, or an array of one per component.
      bool identity = true;
      int s = x.val, e = x.val_end;
      if (t[s] == '[') s++, e--;
      for (int i = skip_ws_comments(t, s, e); i < e; i = skip_ws_comments(t, i, e)) {
        int ve = value_end(t, i, e);
        if (ve < 0 || !(token_is(t, i, ve, "/Identity") || token_is(t, i, ve, "/Default"))) {
          identity = false;
          break;
        }
        i = ve;
      }
      if (identity)
        w->edits.push_back({x.key, x.val_end, ""});
      else
        w->refuse("transfer function cannot be kept in PDF/A");
    } else if (key_is(t, x, "CA") || key_is(t, x, "ca")) {
      double v = 1;
      bool real = false;
      if (number_token(t, x.val, x.val_end, &v, &real) && v < 1 && !transparency_ok(*w))
        w->refuse("transparency cannot be kept in PDF/A-1 (use part 2)");
    } else if (key_is(t, x, "BM")) {
      bool plain = true;
      int s = x.val, e = x.val_end;
      if (t[s] == '[') s++, e--;
      for (int i = skip_ws_comments(t, s, e); i < e; i = skip_ws_comments(t, i, e)) {
        int ve = value_end(t, i, e);
        if (ve < 0) break;
        if (!token_is(t, i, ve, "/Normal") && !token_is(t, i, ve, "/Compatible")) plain = false;
        i = ve;
      }
      if (!plain && !transparency_ok(*w)) w->refuse("transparency cannot be kept in PDF/A-1 (use part 2)");
    } else if (key_is(t, x, "SMask")) {
      if (!token_is(t, x.val, x.val_end, "/None") && !transparency_ok(*w))
        w->refuse("transparency cannot be kept in PDF/A-1 (use part 2)");
    }
  }
}

// True when every sample of the soft-mask image `num` is fully opaque.
bool mask_opaque(const Doc &d, int num) {
  int k = num > 0 ? obj_find(&d.objs, num) : -1;
  if (k < 0) return false;
  const ObjEntry &e = d.objs.elems[k];
  std::vector<DictEntry> es;
  int close = 0;
  if (!e.is_stream || e.in_objstm || e.dict_off < 0 || !dict_entries(d.pdf, e.dict_off, e.stream_off, &es, &close))
    return false;
  const byte *t = d.pdf;
  auto int_of = [&](const char *key, int dflt) {
    const DictEntry *x = dict_find(t, es, key);
    if (!x) return dflt;
    int pos = x->val;
    int v = parse_int_at(t, x->val_end, &pos);
    return pos == x->val ? dflt : v;
  };
  const int width = int_of("Width", -1), height = int_of("Height", -1), bpc = int_of("BitsPerComponent", -1);
  if (width <= 0 || height <= 0 || !(bpc == 1 || bpc == 2 || bpc == 4 || bpc == 8 || bpc == 16)) return false;
  if (dict_find(t, es, "Matte")) return false;
  // /Decode [1 0] turns the stored 0 into opacity 1.
  bool inverted = false;
  if (const DictEntry *dec = dict_find(t, es, "Decode")) {
    double a = 0, b = 1;
    const std::string decode(reinterpret_cast<const char *>(t) + dec->val,
                             static_cast<std::size_t>(dec->val_end - dec->val));
    if (std::sscanf(decode.c_str(), "[ %lf %lf ]", &a, &b) != 2)
      return false;
    if (a == 1 && b == 0)
      inverted = true;
    else if (!(a == 0 && b == 1))
      return false;
  }
  const std::uint64_t row = (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bpc) + 7) / 8;
  // The samples the mask's size asks for, and a little padding: data that
  // decodes to far more is not read (the mask then counts as transparency).
  const std::uint64_t want = row * static_cast<std::uint64_t>(height);
  std::string data;
  if (want > k_mask_samples_max || !stream_decode(d, e, DecodeLimits{want + 65536}, &data).ok()) return false;
  if (data.size() < want) return false;
  const unsigned full = bpc == 16 ? 0xFFFFu : (1u << bpc) - 1u;
  const unsigned opaque = inverted ? 0 : full;
  for (int y = 0; y < height; y++) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(data.data()) + row * static_cast<std::uint64_t>(y);
    for (int xx = 0; xx < width; xx++) {
      unsigned v;
      if (bpc == 16) {
        v = (static_cast<unsigned>(p[2 * xx]) << 8) | p[2 * xx + 1];
      } else if (bpc == 8) {
        v = p[xx];
      } else {
        std::uint64_t bit = static_cast<std::uint64_t>(xx) * static_cast<std::uint64_t>(bpc);
        v = static_cast<unsigned>(p[bit / 8] >> (static_cast<std::uint64_t>(8 - bpc) - bit % 8)) & full;
      }
      if (v != opaque) return false;
    }
  }
  return true;
}

void image_or_form(Walk *w, const byte *t, const std::vector<DictEntry> &es, bool form) {
  const Doc &d = *w->x.doc;
  if (const DictEntry *m = dict_find(t, es, "SMask"); m && !form) {
    int num = ref_target(t, m->val, m->val_end);
    if (num > 0 && w->decide && !w->decide->opaque_masks.count(num) && mask_opaque(d, num))
      w->decide->opaque_masks.insert(num);
    if (num > 0 && w->x.opaque_masks.count(num))
      w->edits.push_back({m->key, m->val_end, ""});
    else if (!transparency_ok(*w))
      w->refuse("transparency cannot be kept in PDF/A-1 (use part 2)");
  }
  if (const DictEntry *m = dict_find(t, es, "SMaskInData"); m && !form && !token_is(t, m->val, m->val_end, "0")) {
    if (!transparency_ok(*w)) w->refuse("transparency cannot be kept in PDF/A-1 (use part 2)");
  }
  if (const DictEntry *g = dict_find(t, es, "Group"); g && form && w->x.part == 1) w->edits.push_back({g->key, g->val_end, ""});
}

// A resource dictionary's fonts must all exist.
void font_resources(Walk *w, const byte *t, const DictEntry &fe) {
  const Doc &d = *w->x.doc;
  const byte *ft = t;
  int s = fe.val, e = fe.val_end;
  if (!resolved_value(d, &ft, &s, &e)) return;
  std::vector<DictEntry> fonts;
  int close = 0;
  if (s >= e || ft[s] != '<' || !dict_entries(ft, s, e, &fonts, &close)) return;
  for (const DictEntry &f : fonts) {
    int num = ref_target(ft, f.val, f.val_end);
    if (num < 0 || (num > 0 && obj_find(&d.objs, num) >= 0) || num == k_substitute_font_key) continue;
    std::string name(reinterpret_cast<const char *>(ft) + f.key, static_cast<std::size_t>(f.key_end - f.key));
    if (w->refusal.empty()) {
      char msg[256];
      std::snprintf(msg, sizeof msg, "font %.100s names object %ld, which does not exist", name.c_str(),
                    static_cast<long>(num));
      w->refusal = msg;
    }
  }
}

void walk_dict(Walk *w, const byte *t, int s, int e, int depth, bool outer, bool gstate) {
  std::vector<DictEntry> es;
  int close = 0;
  if (!dict_entries(t, s, e, &es, &close)) return;
  const DictEntry *type = dict_find(t, es, "Type");
  const DictEntry *subtype = dict_find(t, es, "Subtype");
  const bool image = value_is(t, subtype, "/Image");
  const bool form = value_is(t, subtype, "/Form");
  // A graphics state need not say /Type: it is one because a resource
  // dictionary's /ExtGState names it. Keys such as /TR or /CA elsewhere (a
  // font resource called /TR, say) are left alone.
  if (value_is(t, type, "/ExtGState") || (gstate && !subtype) || (outer && w->gstate_root && !subtype))
    ext_gstate(w, t, es);
  if (outer && (image || form)) image_or_form(w, t, es, form);
  if (const DictEntry *f = dict_find(t, es, "Font")) font_resources(w, t, *f);
  if (const DictEntry *cs = dict_find(t, es, "ColorSpace")) {
    // An image's or shading's own space, or a resource dictionary's spaces.
    if (t[cs->val] == '<') {
      std::vector<DictEntry> spaces;
      int sclose = 0;
      if (dict_entries(t, cs->val, cs->val_end, &spaces, &sclose))
        for (const DictEntry &sp : spaces) cmyk_space(w, t, sp.val, sp.val_end);
    } else if (image || dict_find(t, es, "ShadingType")) {
      cmyk_space(w, t, cs->val, cs->val_end);
    }
  }
  // A transparency group's blending space is a colour space like any other.
  if (const DictEntry *cs = dict_find(t, es, "CS"); cs && value_is(t, dict_find(t, es, "S"), "/Transparency"))
    cmyk_space(w, t, cs->val, cs->val_end);
  for (const DictEntry &x : es) {
    if (key_is(t, x, "ExtGState")) {
      if (t[x.val] == '<') {
        gstate_resources(w, t, x.val, x.val_end, depth + 1);
      } else if (int num = single_ref(t, x.val, x.val_end); num > 0 && w->decide) {
        w->decide->gstate_dicts.insert(num);
      }
      continue;
    }
    walk_value(w, t, x.val, x.val_end, depth + 1);
  }
}

// The graphics-state resources << /GS1 ... >>: direct ones are walked as
// graphics states here, referenced ones when their object is copied.
void gstate_resources(Walk *w, const byte *t, int s, int e, int depth) {
  std::vector<DictEntry> states;
  int close = 0;
  if (!dict_entries(t, s, e, &states, &close)) return;
  for (const DictEntry &g : states) {
    if (t[g.val] == '<')
      walk_dict(w, t, g.val, g.val_end, depth + 1, false, true);
    else if (int num = single_ref(t, g.val, g.val_end); num > 0 && w->decide)
      w->decide->gstate_objs.insert(num);
  }
}

void walk_value(Walk *w, const byte *t, int s, int e, int depth) {
  if (depth > k_inline_font_depth || s >= e) return;
  if (t[s] == '<' && s + 1 < e && t[s + 1] == '<') {
    walk_dict(w, t, s, e, depth, depth == 0, false);
    return;
  }
  if (t[s] == '[') {
    cmyk_in_array(w, t, s, e);
    for (int i = s + 1;;) {
      i = skip_ws_comments(t, i, e);
      if (i >= e || t[i] == ']') return;
      int ve = value_end(t, i, e);
      if (ve < 0) return;
      walk_value(w, t, i, ve, depth + 1);
      i = ve;
    }
  }
  double v;
  bool real;
  if (!number_token(t, s, e, &v, &real)) return;
  if (real && w->x.part == 1 && std::fabs(v) > 32767.0) {
    w->edits.push_back({s, e, v < 0 ? "-32767" : "32767"});
  } else if (!real && (v > 2147483647.0 || v < -2147483648.0)) {
    w->edits.push_back({s, e, v < 0 ? "-2147483648" : "2147483647"});
  }
}

std::string apply(const byte *t, int len, std::vector<Edit> edits) {
  std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.s < b.s; });
  std::string out;
  out.reserve(static_cast<std::size_t>(len));
  int from = 0;
  for (const Edit &ed : edits) {
    if (ed.s < from) continue;  // nested in an edit already made
    out.append(reinterpret_cast<const char *>(t) + from, static_cast<std::size_t>(ed.s - from));
    if (ed.with.empty()) {
      if (!out.empty() && !is_pdf_ws(static_cast<byte>(out.back()))) out += ' ';
    } else {
      // A replacement must not run into the tokens around it: "/All" then
      // a reference would otherwise read as the name /All99999997.
      if (!out.empty() && is_regular(static_cast<byte>(out.back()))) out += ' ';
      out += ed.with;
      if (ed.e < len && is_regular(t[ed.e])) out += ' ';
    }
    from = ed.e;
  }
  out.append(reinterpret_cast<const char *>(t) + from, static_cast<std::size_t>(len - from));
  return out;
}

// The JP2 header of a JPEG 2000 image, checked against what PDF/A-2 allows.
struct Box {
  std::uint64_t start;  // of the contents
  std::uint64_t end;
  std::uint32_t type;
};

bool next_box(const unsigned char *p, std::uint64_t pos, std::uint64_t end, Box *b) {
  if (end - pos < 8) return false;
  std::uint64_t len = (std::uint64_t{p[pos]} << 24) | (std::uint64_t{p[pos + 1]} << 16) |
                      (std::uint64_t{p[pos + 2]} << 8) | p[pos + 3];
  b->type = (std::uint32_t{p[pos + 4]} << 24) | (std::uint32_t{p[pos + 5]} << 16) | (std::uint32_t{p[pos + 6]} << 8) |
            p[pos + 7];
  std::uint64_t head = 8;
  if (len == 1) {
    if (end - pos < 16) return false;
    len = 0;
    for (std::uint64_t i = 0; i < 8; i++) len = (len << 8) | p[pos + 8 + i];
    head = 16;
  } else if (len == 0) {
    len = end - pos;
  }
  if (len < head || len > end - pos) return false;
  b->start = pos + head;
  b->end = pos + len;
  return true;
}

constexpr std::uint32_t box_id(const char (&s)[5]) {
  return (std::uint32_t(static_cast<unsigned char>(s[0])) << 24) | (std::uint32_t(static_cast<unsigned char>(s[1])) << 16) |
         (std::uint32_t(static_cast<unsigned char>(s[2])) << 8) | std::uint32_t(static_cast<unsigned char>(s[3]));
}

}  // namespace

const char *jpx_problem(const unsigned char *p, std::uint64_t n) {
  // A bare codestream (no JP2 boxes) has no colour specification at all.
  Box b{};
  std::uint64_t pos = 0;
  bool header = false;
  while (pos < n && next_box(p, pos, n, &b)) {
    if (b.type == box_id("jp2h")) {
      header = true;
      break;
    }
    pos = b.end;
  }
  if (!header) return "has no JP2 header";
  int channels = -1, colour_channels = -1, depth = -1, specs = 0, approx_one = 0;
  bool bad_method = false, cie_jab = false, mixed_depth = false;
  for (std::uint64_t q = b.start; q < b.end;) {
    Box c{};
    if (!next_box(p, q, b.end, &c)) break;
    const unsigned char *v = p + c.start;
    const std::uint64_t len = c.end - c.start;
    if (c.type == box_id("ihdr") && len >= 14) {
      channels = (v[8] << 8) | v[9];
      if (v[10] == 0xFF)
        mixed_depth = true;
      else
        depth = (v[10] & 0x7F) + 1;
    } else if (c.type == box_id("cdef") && len >= 2) {
      // Channel definitions: alpha and premultiplied channels (type 1, 2)
      // are no colour channels.
      const std::uint64_t count = (std::uint64_t{v[0]} << 8) | v[1];
      colour_channels = 0;
      for (std::uint64_t k = 0; k < count && 2 + 6 * k + 6 <= len; k++)
        if (((v[2 + 6 * k + 2] << 8) | v[2 + 6 * k + 3]) == 0) colour_channels++;
    } else if (c.type == box_id("colr") && len >= 3) {
      specs++;
      if (v[1] == 1) approx_one++;
      if (v[0] < 1 || v[0] > 3) bad_method = true;
      if (v[0] == 1 && len >= 7) {
        std::uint32_t cs = (std::uint32_t{v[3]} << 24) | (std::uint32_t{v[4]} << 16) | (std::uint32_t{v[5]} << 8) | v[6];
        if (cs == 19) cie_jab = true;
      }
    }
    q = c.end;
  }
  if (colour_channels >= 0) channels = colour_channels;
  if (channels != 1 && channels != 3 && channels != 4) return "has a number of colour channels other than 1, 3 or 4";
  if (mixed_depth) return "has colour channels of different bit depths";
  if (depth < 1 || depth > 38) return "has a bit depth outside 1 to 38";
  if (specs > 1 && approx_one != 1) return "has several colour specifications and not exactly one exact one";
  if (bad_method) return "has a colour specification of an unknown method";
  if (cie_jab) return "uses the CIEJab colour space";
  return nullptr;
}

namespace {

// Walks an object's text (or a page's resources); an object that is the
// /ExtGState dictionary of some resources holds graphics states.
void walk_root(Walk *w, const byte *t, int len, bool gstate_dict) {
  int s = skip_ws_comments(t, 0, len);
  int e = value_end(t, s, len);
  if (e <= s) return;
  if (gstate_dict && t[s] == '<')
    gstate_resources(w, t, s, e, 0);
  else
    walk_value(w, t, s, e, 0);
}

}  // namespace

bool conform_check(Transfer *x, const byte *t, int len, int num, std::string *why) {
  Walk w{*x, x, {}, {}};
  w.gstate_root = num > 0 && x->gstate_objs.count(num) > 0;
  walk_root(&w, t, len, num > 0 && x->gstate_dicts.count(num) > 0);
  if (w.refusal.empty()) return true;
  *why = w.refusal;
  return false;
}

std::string conform_text(const Transfer &x, const byte *t, int len, int num) {
  Walk w{x, nullptr, {}, {}};
  w.gstate_root = num > 0 && x.gstate_objs.count(num) > 0;
  walk_root(&w, t, len, num > 0 && x.gstate_dicts.count(num) > 0);
  return apply(t, len, std::move(w.edits));
}

bool conform_stream(Transfer *x, const ObjEntry &e, std::string *why) {
  const Doc &d = *x->doc;
  std::vector<FilterStep> steps;
  if (!e.is_stream || stream_filters(d, e, &steps) != DecodeStatus::done) return true;
  for (const FilterStep &f : steps) {
    if (f.kind != FilterKind::jpx) continue;
    if (x->part == 1) {
      *why = "JPEG 2000 image cannot be kept in PDF/A-1 (use part 2)";
      return false;
    }
    if (e.data_off < 0 || e.data_end > d.pdf_len || e.data_end < e.data_off) return true;
    if (const char *p = jpx_problem(d.pdf + e.data_off, static_cast<std::uint64_t>(e.data_end - e.data_off))) {
      *why = std::string("JPEG 2000 image ") + std::to_string(e.num) + " cannot be kept in PDF/A-2: it " + p;
      return false;
    }
  }
  return true;
}

bool stream_needs_reencoding(const Doc &d, const ObjEntry &e) {
  std::vector<FilterStep> steps;
  if (!e.is_stream || stream_filters(d, e, &steps) != DecodeStatus::done) return false;
  for (const FilterStep &f : steps)
    if (f.kind == FilterKind::lzw) return true;
  return false;
}

}  // namespace zyk
