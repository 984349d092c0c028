// The output check: the last look at a finished output before it reaches the
// disk. The conversion treats every cause of non-conformance it knows where
// it copies or rewrites something; this check does not trust that. It loads
// the output with the library's own reader, as any reader of the archived
// file would, and verifies what PDF/A of the part requires and what can be
// decided from the file alone:
//
//   objects      every reference names an object of the file; numbers,
//                names, strings, arrays and dictionaries within the part's
//                limits; no external streams (/F, /FFilter, /FDecodeParms);
//                no LZW or Crypt filter, no JPEG 2000 in part 1; images
//                without /Alternates, /OPI or /Interpolate true; no
//                PostScript XObjects; every font but Type 0 and Type 3 with
//                an embedded program; no /AA, no forbidden action, no
//                JavaScript or embedded files in the name tree; annotations
//                of permitted types, printed, visible, with appearances in
//                part 2; device CMYK never named as a colour space (the
//                output intent is RGB);
//   graphics     graphics states without transfer functions or halftone
//                states, with a known rendering intent;
//   transparency (part 1) no soft mask, constant alpha below 1, blend mode
//                other than Normal or Compatible, transparency group or
//                soft-masked image;
//   content      every content stream a page paints (its own, forms,
//                tiling patterns, Type 3 glyphs) and every annotation
//                appearance: defined operators only, q nesting within 28 as
//                a reader's stack counts it through the forms and patterns
//                painted, numbers, strings and names within the limits, no
//                device CMYK, inline images without LZW, CMYK or
//                interpolation, a known rendering intent, and every font,
//                XObject, pattern and graphics state the content names held
//                by its resources; a form or pattern that paints itself
//                fails.
//
// The first rule broken refuses the conversion with the page it was found
// on (the first page whose objects reach it).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "writer/writer.h"

namespace zyk {

namespace {

// Dictionaries and arrays looked into below one object's value.
constexpr int k_value_depth = 64;

// How a value is used where it stands, for the rules that depend on it.
enum class Role { any, gstate, gstates, colour_space, colour_spaces, action };

// One resource dictionary in force, with the one it inherits from (a form
// without resources uses those of what paints it).
struct Scope {
  const byte *t = nullptr;
  std::vector<DictEntry> es;
  const Scope *outer = nullptr;
};

std::string token_text(const byte *t, int s, int e) {
  return std::string(reinterpret_cast<const char *>(t) + s, static_cast<std::size_t>(e - s));
}

// Bytes of a name token after its slash, #xx counted as one.
int name_bytes(const byte *t, int s, int e) {
  int n = 0;
  for (int i = s + 1; i < e; i++, n++)
    if (t[i] == '#' && i + 2 < e) i += 2;
  return n;
}

// A number token past the part's limits: integers beyond 32 bits in both
// parts, reals beyond 32767 in magnitude in part 1 (part 2 allows what a
// 32-bit float holds, which a number text hardly passes).
bool number_beyond(const byte *t, int s, int e, int part) {
  int i = s;
  if (i < e && (t[i] == '+' || t[i] == '-')) i++;
  while (i < e && t[i] == '0') i++;
  int digits = 0;
  bool real = false;
  for (int j = i; j < e && !real; j++) {
    if (t[j] == '.')
      real = true;
    else
      digits++;
  }
  if (digits <= 4) return false;
  const double v = std::strtod(token_text(t, s, e).c_str(), nullptr);
  if (real) return part == 1 ? std::fabs(v) > 32767.0 : std::fabs(v) > 3.403e38;
  return v > 2147483647.0 || v < -2147483648.0;
}

bool is_number_token(const byte *t, int s, int e) {
  if (s >= e) return false;
  bool digit = false;
  for (int i = s; i < e; i++) {
    byte c = t[i];
    if (c >= '0' && c <= '9')
      digit = true;
    else if (!(c == '.' || ((c == '+' || c == '-') && i == s)))
      return false;
  }
  return digit;
}

// Bytes a string token stands for: literal strings decoded (only when the
// token is long enough to matter), hexadecimal ones by their digits.
std::size_t string_bytes(const byte *t, int s, int e, std::size_t limit) {
  if (t[s] == '<') {
    std::size_t digits = 0;
    for (int i = s + 1; i < e; i++)
      if (!is_pdf_ws(t[i]) && t[i] != '>') digits++;
    return (digits + 1) / 2;
  }
  if (static_cast<std::size_t>(e - s) <= limit + 2) return 0;
  std::string b;
  literal_bytes(t, s, e, &b);
  return b.size();
}

bool in_list(std::string_view v, std::initializer_list<std::string_view> list) {
  return std::find(list.begin(), list.end(), v) != list.end();
}

class Checker {
 public:
  Checker(const Doc &d, int part) : d_(d), part_(part) {
    walked_.assign(static_cast<std::size_t>(d.max_num) + 1, 0);
  }

  bool run(std::string *why);

 private:
  friend class ContentRules;

  // -- failing --
  bool failed() const { return !fail_.empty(); }
  void fail(const char *fmt, ...) __attribute__((format(printf, 2, 3)));

  // -- objects --
  bool text_of(int num, const byte **t, int *len) const;
  bool resolve(const byte **t, int *s, int *e) const;
  void walk_object(int num);
  void value(const byte *t, int s, int e, int depth, Role role);
  void dict(const byte *t, int s, int e, int depth, Role role);
  void role_check(const byte *t, int s, int e, Role role, int depth);
  void gstate(const byte *t, const std::vector<DictEntry> &es);
  void colour_space(const byte *t, int s, int e, int depth);
  void action(const byte *t, const std::vector<DictEntry> &es);
  void annotation(const byte *t, const std::vector<DictEntry> &es, const std::string &subtype);
  void font(const byte *t, const std::vector<DictEntry> &es, const std::string &subtype);
  void stream_dict(const byte *t, const std::vector<DictEntry> &es, const std::string &subtype);
  void optional_content(const byte *t, int s, int e);
  bool dict_value(const byte **t, int *s, int *e, std::vector<DictEntry> *es) const;
  void drain();

  // -- content --
  int paint(int num, const Scope *outer, const char *what);
  int content(int num, const std::string &data, const Scope &scope, const char *what);
  bool scope_of(const byte *t, const std::vector<DictEntry> &es, const Scope *outer, Scope *out) const;
  bool lookup(const Scope &sc, const char *category, const std::string &name, const byte **t, int *s,
              int *e) const;
  bool page_content(int page_num);

  const Doc &d_;
  int part_;
  std::string fail_;
  int page_ = 0;  // the page being checked, from 1; 0: the rest of the file
  std::vector<unsigned char> walked_;
  bool stream_ = false;  // the object walked is a stream
  std::vector<int> queue_;
  std::set<std::pair<int, int>> roles_done_;
  // Content streams: the deepest q nesting reached inside (with what they
  // paint), or -1 while the stream is being walked.
  std::map<int, int> nesting_;
};

void Checker::fail(const char *fmt, ...) {
  if (failed()) return;
  char msg[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  char head[64];
  if (page_ > 0)
    std::snprintf(head, sizeof head, "page %ld: output check: ", static_cast<long>(page_));
  else
    std::snprintf(head, sizeof head, "output check: ");
  fail_ = std::string(head) + msg;
}

bool Checker::text_of(int num, const byte **t, int *len) const {
  int k = num > 0 ? obj_find(&d_.objs, num) : -1;
  return k >= 0 && object_text(d_, d_.objs.elems[k], t, len);
}

// Follows a reference value to the value of the object it names; direct
// values stay as they are. False when the object does not exist.
bool Checker::resolve(const byte **t, int *s, int *e) const {
  for (int hops = 0; hops < 8; hops++) {
    *s = skip_ws_comments(*t, *s, *e);
    int num = value_ref(*t, *s, *e);
    if (num < 0) return true;
    int len = 0;
    if (!text_of(num, t, &len)) return false;
    *s = 0;
    *e = len;
    int ve = value_end(*t, 0, len);
    if (ve > 0) *e = ve;
  }
  return false;
}

// The dictionary a value is or names, with its entries.
bool Checker::dict_value(const byte **t, int *s, int *e, std::vector<DictEntry> *es) const {
  int close = 0;
  es->clear();
  return resolve(t, s, e) && *s < *e && (*t)[*s] == '<' && dict_entries(*t, *s, *e, es, &close);
}

// Optional content properties: a default configuration, and each
// configuration named, uniquely, without /AS, and with every group in its
// /Order when it has one.
void Checker::optional_content(const byte *t, int s, int e) {
  std::vector<DictEntry> es;
  if (!dict_value(&t, &s, &e, &es)) return fail("optional content properties that are not a dictionary");
  const DictEntry *groups = dict_find(t, es, "OCGs");
  const DictEntry *dflt = dict_find(t, es, "D");
  if (!groups || !dflt) return fail("optional content properties without /OCGs or /D");
  std::vector<int> all;
  {
    const byte *gt = t;
    int gs = groups->val, ge = groups->val_end;
    if (resolve(&gt, &gs, &ge) && gs < ge && gt[gs] == '[')
      for (auto [is, ie] : value_items(gt, gs, ge)) all.push_back(value_ref(gt, is, ie));
  }
  std::vector<std::pair<int, int>> configs = {{dflt->val, dflt->val_end}};
  const byte *ct = t;
  if (const DictEntry *c = dict_find(t, es, "Configs")) {
    int cs = c->val, ce = c->val_end;
    if (!resolve(&ct, &cs, &ce) || cs >= ce || ct[cs] != '[') return fail("optional content /Configs not an array");
    for (auto item : value_items(ct, cs, ce)) configs.push_back(item);
  }
  std::set<std::string> names;
  for (std::size_t j = 0; j < configs.size() && !failed(); j++) {
    const byte *xt = j ? ct : t;
    int xs = configs[j].first, xe = configs[j].second;
    std::vector<DictEntry> xes;
    if (!dict_value(&xt, &xs, &xe, &xes)) return fail("an optional content configuration that is not a dictionary");
    if (dict_find(xt, xes, "AS")) return fail("an optional content configuration with /AS");
    const DictEntry *n = dict_find(xt, xes, "Name");
    std::string name;
    if (!n || !string_value(d_, xt, skip_ws_comments(xt, n->val, n->val_end), n->val_end, &name))
      return fail("an optional content configuration without /Name");
    if (!names.insert(name).second) return fail("two optional content configurations with one /Name");
    if (const DictEntry *o = dict_find(xt, xes, "Order")) {
      const byte *ot = xt;
      int os = o->val, oe = o->val_end;
      if (!resolve(&ot, &os, &oe)) continue;
      std::vector<RefHit> refs;
      find_refs(ot + os, oe - os, &refs);
      std::set<int> listed;
      for (const RefHit &r : refs) listed.insert(r.num);
      for (int g : all)
        if (g > 0 && !listed.count(g)) return fail("an optional content /Order without group %d", g);
    }
  }
}

void Checker::walk_object(int num) {
  if (num <= 0 || num > d_.max_num || walked_[static_cast<std::size_t>(num)]) return;
  walked_[static_cast<std::size_t>(num)] = 1;
  const byte *t;
  int len;
  int k = obj_find(&d_.objs, num);
  if (k < 0 || !object_text(d_, d_.objs.elems[k], &t, &len)) return;
  stream_ = d_.objs.elems[k].is_stream != 0;
  value(t, skip_ws_comments(t, 0, len), len, 0, Role::any);
  stream_ = false;
}

void Checker::drain() {
  while (!queue_.empty() && !failed()) {
    int num = queue_.back();
    queue_.pop_back();
    walk_object(num);
  }
}

void Checker::value(const byte *t, int s, int e, int depth, Role role) {
  if (failed()) return;
  s = skip_ws_comments(t, s, e);
  if (s >= e) return;
  if (depth > k_value_depth) {
    fail("objects nested deeper than %d levels", k_value_depth);
    return;
  }
  if (role != Role::any) role_check(t, s, e, role, depth);
  const byte c = t[s];
  if (c == '<' && s + 1 < e && t[s + 1] == '<') {
    dict(t, s, e, depth, role);
    return;
  }
  if (c == '[') {
    int n = 0;
    for (int i = s + 1;;) {
      i = skip_ws_comments(t, i, e);
      if (i >= e || t[i] == ']') break;
      int ve = value_end(t, i, e);
      if (ve < 0) break;
      value(t, i, ve, depth + 1, Role::any);
      n++;
      i = ve;
    }
    if (part_ == 1 && n > k_max_array) fail("an array of %d entries (PDF/A-1 allows %d)", n, k_max_array);
    return;
  }
  if (c == '(' || c == '<') {
    const std::size_t limit = part_ == 1 ? 65535 : 32767;
    const std::size_t n = string_bytes(t, s, e, limit);
    if (n > limit) fail("a string of %zu bytes (PDF/A-%d allows %zu)", n, part_, limit);
    return;
  }
  if (c == '/') {
    if (name_bytes(t, s, e) > 127) fail("a name longer than 127 bytes");
    return;
  }
  int num = value_ref(t, s, e);
  if (num >= 0) {
    if (num == 0 || obj_find(&d_.objs, num) < 0) {
      fail("a reference to object %d, which the file does not hold", num);
      return;
    }
    if (!walked_[static_cast<std::size_t>(num)]) queue_.push_back(num);
    return;
  }
  if (is_number_token(t, s, e) && number_beyond(t, s, e, part_))
    fail("the number %s is beyond PDF/A-%d's limits", token_text(t, s, std::min(e, s + 40)).c_str(), part_);
}

// The rules that depend on where a value stands, applied to the value a
// reference names too (once per object and use).
void Checker::role_check(const byte *t, int s, int e, Role role, int depth) {
  if (int num = value_ref(t, s, e); num > 0) {
    if (!roles_done_.insert({num, static_cast<int>(role)}).second) return;
    const byte *rt = t;
    int rs = s, re = e;
    if (!resolve(&rt, &rs, &re)) return;  // reported by the reference rule
    role_check(rt, rs, re, role, depth + 1);
    return;
  }
  if (depth > k_value_depth) return;
  std::vector<DictEntry> es;
  int close = 0;
  const bool is_dict = t[s] == '<' && s + 1 < e && t[s + 1] == '<' && dict_entries(t, s, e, &es, &close);
  switch (role) {
    case Role::gstate:
      if (is_dict) gstate(t, es);
      break;
    case Role::gstates:
    case Role::colour_spaces:
      if (is_dict)
        for (const DictEntry &x : es)
          role_check(t, x.val, x.val_end, role == Role::gstates ? Role::gstate : Role::colour_space, depth + 1);
      break;
    case Role::colour_space:
      colour_space(t, s, e, depth);
      break;
    case Role::action:
      if (is_dict) {
        action(t, es);
      } else if (t[s] == '[') {
        for (auto [is, ie] : value_items(t, s, e)) role_check(t, is, ie, Role::action, depth + 1);
      }
      break;
    case Role::any:
      break;
  }
}

void Checker::gstate(const byte *t, const std::vector<DictEntry> &es) {
  for (const DictEntry &x : es) {
    const std::string key = token_text(t, x.key, x.key_end);
    const std::string val = token_text(t, skip_ws_comments(t, x.val, x.val_end), x.val_end);
    if (key == "/TR")
      fail("a graphics state with a transfer function (/TR)");
    else if (key == "/TR2" && val != "/Default")
      fail("a graphics state with a transfer function (/TR2)");
    else if (key == "/HTP" || (key == "/HTO" && part_ == 2))
      fail("a graphics state with %s", key.c_str());
    else if (key == "/RI" &&
             !in_list(val, {"/RelativeColorimetric", "/AbsoluteColorimetric", "/Perceptual", "/Saturation"}))
      fail("a rendering intent %.60s", val.c_str());
    else if (part_ == 1 && key == "/SMask" && val != "/None")
      fail("a soft mask (transparency, which PDF/A-1 does not allow)");
    else if (part_ == 1 && (key == "/CA" || key == "/ca") && std::strtod(val.c_str(), nullptr) != 1.0)
      fail("constant alpha %s %.20s (transparency, which PDF/A-1 does not allow)", key.c_str(), val.c_str());
    else if (part_ == 1 && key == "/BM")
      for (auto [is, ie] : value_items(t, x.val, x.val_end))
        if (!token_is(t, is, ie, "/Normal") && !token_is(t, is, ie, "/Compatible"))
          fail("blend mode %.60s (transparency, which PDF/A-1 does not allow)", val.c_str());
  }
}

// A colour space value: device CMYK may not stand anywhere in it (as the
// space, a Separation or DeviceN alternate, an Indexed or Pattern base).
void Checker::colour_space(const byte *t, int s, int e, int depth) {
  if (depth > k_value_depth) return;
  const byte *rt = t;
  int rs = s, re = e;
  if (!resolve(&rt, &rs, &re) || rs >= re) return;
  if (token_is(rt, rs, re, "/DeviceCMYK") || token_is(rt, rs, re, "/CMYK")) {
    fail("device CMYK named as a colour space while the output intent is RGB");
    return;
  }
  if (rt[rs] != '[') return;
  auto items = value_items(rt, rs, re);
  if (items.empty()) return;
  auto [fs, fe] = items[0];
  auto item = [&](std::size_t k) {
    if (k < items.size()) colour_space(rt, items[k].first, items[k].second, depth + 1);
  };
  if (token_is(rt, fs, fe, "/Separation") || token_is(rt, fs, fe, "/DeviceN"))
    item(2);
  else if (token_is(rt, fs, fe, "/Indexed") || token_is(rt, fs, fe, "/I") || token_is(rt, fs, fe, "/Pattern"))
    item(1);
}

void Checker::action(const byte *t, const std::vector<DictEntry> &es) {
  const DictEntry *s = dict_find(t, es, "S");
  if (!s) return;
  const std::string type = token_text(t, skip_ws_comments(t, s->val, s->val_end), s->val_end);
  if (in_list(type, {"/Launch", "/Sound", "/Movie", "/ResetForm", "/ImportData", "/JavaScript", "/Hide",
                     "/SetOCGState", "/Rendition", "/Trans", "/GoTo3DView", "/RichMediaExecute"}))
    fail("an action of type %.60s", type.c_str() + 1);
  if (type == "/Named") {
    const DictEntry *n = dict_find(t, es, "N");
    const std::string name = n ? token_text(t, skip_ws_comments(t, n->val, n->val_end), n->val_end) : "";
    if (!in_list(name, {"/NextPage", "/PrevPage", "/FirstPage", "/LastPage"}))
      fail("a named action %.60s", name.c_str());
  }
  if (const DictEntry *next = dict_find(t, es, "Next")) role_check(t, next->val, next->val_end, Role::action, 1);
}

void Checker::annotation(const byte *t, const std::vector<DictEntry> &es, const std::string &subtype) {
  if (in_list(subtype, {"/Sound", "/Movie", "/Screen", "/3D", "/RichMedia", "/FileAttachment"}) ||
      !in_list(subtype, {"/Text", "/Link", "/FreeText", "/Line", "/Square", "/Circle", "/Polygon", "/PolyLine",
                         "/Highlight", "/Underline", "/Squiggly", "/StrikeOut", "/Stamp", "/Caret", "/Ink", "/Popup",
                         "/Widget", "/PrinterMark", "/TrapNet", "/Watermark", "/Redact"})) {
    fail("an annotation of type %.60s", subtype.c_str());
    return;
  }
  if (subtype == "/Popup") return;
  const DictEntry *f = dict_find(t, es, "F");
  int pos = f ? f->val : 0;
  const int flags = f ? parse_int_at(t, f->val_end, &pos) : 0;
  if (!(flags & 4) || (flags & (1 | 2 | 32)))
    fail("a %.40s annotation that is not printed or not visible (/F %d)", subtype.c_str() + 1, flags);
  if (const DictEntry *ca = dict_find(t, es, "CA"); ca && part_ == 1) {
    if (std::strtod(token_text(t, ca->val, ca->val_end).c_str(), nullptr) != 1.0)
      fail("an annotation with constant alpha below 1 (transparency, which PDF/A-1 does not allow)");
  }
  if (part_ == 2 && subtype != "/Link" && !dict_find(t, es, "AP"))
    fail("a %.40s annotation without an appearance", subtype.c_str() + 1);
}

void Checker::font(const byte *t, const std::vector<DictEntry> &es, const std::string &subtype) {
  if (subtype == "/Type0" || subtype == "/Type3") return;
  const DictEntry *fd = dict_find(t, es, "FontDescriptor");
  const byte *ft = t;
  int s = fd ? fd->val : 0, e = fd ? fd->val_end : 0;
  std::vector<DictEntry> des;
  int close = 0;
  if (fd && resolve(&ft, &s, &e) && s < e && ft[s] == '<' && dict_entries(ft, s, e, &des, &close) &&
      (dict_find(ft, des, "FontFile") || dict_find(ft, des, "FontFile2") || dict_find(ft, des, "FontFile3")))
    return;
  const DictEntry *base = dict_find(t, es, "BaseFont");
  fail("font %.80s is not embedded", base ? token_text(t, base->val, base->val_end).c_str() : subtype.c_str());
}

void Checker::stream_dict(const byte *t, const std::vector<DictEntry> &es, const std::string &subtype) {
  for (const char *key : {"F", "FFilter", "FDecodeParms"})
    if (dict_find(t, es, key)) fail("a stream with /%s (external data)", key);
  if (const DictEntry *f = dict_find(t, es, "Filter")) {
    const byte *ft = t;
    int s = f->val, e = f->val_end;
    if (resolve(&ft, &s, &e))
      for (auto [is, ie] : value_items(ft, s, e)) {
        if (token_is(ft, is, ie, "/LZWDecode") || token_is(ft, is, ie, "/LZW"))
          fail("a stream compressed with LZW");
        else if (token_is(ft, is, ie, "/Crypt"))
          fail("a stream with the Crypt filter");
        else if (part_ == 1 && token_is(ft, is, ie, "/JPXDecode"))
          fail("a JPEG 2000 image (PDF/A-1 has none)");
      }
  }
  if (subtype == "/Image") {
    if (dict_find(t, es, "Alternates") || dict_find(t, es, "OPI")) fail("an image with alternates or OPI");
    if (const DictEntry *i = dict_find(t, es, "Interpolate"); i && token_is(t, i->val, i->val_end, "true"))
      fail("an image with /Interpolate true");
    if (part_ == 1) {
      if (const DictEntry *m = dict_find(t, es, "SMask"); m && !token_is(t, m->val, m->val_end, "/None"))
        fail("a soft-masked image (transparency, which PDF/A-1 does not allow)");
      if (const DictEntry *m = dict_find(t, es, "SMaskInData"); m && !token_is(t, m->val, m->val_end, "0"))
        fail("an image with its soft mask in its data (transparency, which PDF/A-1 does not allow)");
    }
  } else if (subtype == "/PS") {
    fail("a PostScript XObject");
  } else if (subtype == "/Form") {
    if (dict_find(t, es, "PS") || dict_find(t, es, "OPI")) fail("a form XObject with PostScript or OPI");
    if (const DictEntry *s2 = dict_find(t, es, "Subtype2"); s2 && token_is(t, s2->val, s2->val_end, "/PS"))
      fail("a PostScript XObject");
  }
}

void Checker::dict(const byte *t, int s, int e, int depth, Role) {
  std::vector<DictEntry> es;
  int close = 0;
  if (!dict_entries(t, s, e, &es, &close)) {
    fail("a dictionary that does not parse");
    return;
  }
  if (part_ == 1 && es.size() > 4095) fail("a dictionary of %zu entries (PDF/A-1 allows 4095)", es.size());
  auto val_of = [&](const char *key) {
    const DictEntry *x = dict_find(t, es, key);
    return x ? token_text(t, skip_ws_comments(t, x->val, x->val_end), x->val_end) : std::string();
  };
  const std::string type = val_of("Type"), subtype = val_of("Subtype");
  if (depth == 0 && stream_) stream_dict(t, es, subtype);
  if (type == "/ExtGState") gstate(t, es);
  if (type == "/Font") font(t, es, subtype);
  if (type == "/Annot") annotation(t, es, subtype);
  if (type == "/Action") action(t, es);
  if (part_ == 1 && (type == "/Page" || subtype == "/Form"))
    if (const DictEntry *g = dict_find(t, es, "Group")) {
      const byte *gt = t;
      int gs = g->val, ge = g->val_end;
      std::vector<DictEntry> ges;
      int gclose = 0;
      if (resolve(&gt, &gs, &ge) && gs < ge && gt[gs] == '<' && dict_entries(gt, gs, ge, &ges, &gclose)) {
        const DictEntry *sv = dict_find(gt, ges, "S");
        if (sv && token_is(gt, sv->val, sv->val_end, "/Transparency"))
          fail("a transparency group (transparency, which PDF/A-1 does not allow)");
      }
    }
  if (type == "/Catalog") {
    if (const DictEntry *oc = dict_find(t, es, "OCProperties")) {
      if (part_ == 1) fail("optional content (PDF/A-1 has none)");
      optional_content(t, oc->val, oc->val_end);
    }
    if (const DictEntry *n = dict_find(t, es, "Names")) {
      const byte *nt = t;
      int ns = n->val, ne = n->val_end;
      std::vector<DictEntry> nes;
      int nclose = 0;
      if (resolve(&nt, &ns, &ne) && ns < ne && nt[ns] == '<' && dict_entries(nt, ns, ne, &nes, &nclose)) {
        if (dict_find(nt, nes, "JavaScript")) fail("JavaScript in the document's name tree");
        if (dict_find(nt, nes, "EmbeddedFiles")) fail("embedded files");
      }
    }
  }
  for (const DictEntry &x : es) {
    if (name_bytes(t, x.key, x.key_end) > 127) fail("a name longer than 127 bytes");
    const std::string key = token_text(t, x.key, x.key_end);
    if (key == "/AA") {
      fail("additional actions (/AA)");
      continue;
    }
    // Links the rest of the file walks from its own end: the page tree
    // upwards, an annotation's page, outline neighbours.
    const bool follow_free = key == "/Parent" || key == "/P" || key == "/Prev" || key == "/Next" ||
                             key == "/First" || key == "/Last" || key == "/Dest" || key == "/D";
    Role r = Role::any;
    if (key == "/ExtGState")
      r = Role::gstates;
    else if (key == "/ColorSpace")
      r = (subtype == "/Image" || dict_find(t, es, "ShadingType")) ? Role::colour_space : Role::colour_spaces;
    else if (key == "/CS" && type == "/Group")
      r = Role::colour_space;
    else if (key == "/A" || key == "/OpenAction" || (key == "/Next" && (type == "/Action" || dict_find(t, es, "S"))))
      r = Role::action;
    // An ICC profile's alternate names the device space it stands in for.
    if (key == "/Alternate" && dict_find(t, es, "N")) r = Role::any;
    if (follow_free && value_ref(t, x.val, x.val_end) >= 0) {
      if (r != Role::any) role_check(t, x.val, x.val_end, r, depth + 1);
      int num = value_ref(t, x.val, x.val_end);
      if (num == 0 || obj_find(&d_.objs, num) < 0) fail("a reference to object %d, which the file does not hold", num);
      continue;
    }
    value(t, x.val, x.val_end, depth + 1, r);
  }
}

// ---- content ----------------------------------------------------------------------



// The rules for one content stream's operations.
class ContentRules : public ContentHandler {
 public:
  ContentRules(Checker &c, const Scope &scope, int num) : c_(c), scope_(scope), num_(num) {}
  int deepest = 0;  // q nesting with what is painted at each level

  void op(ContentOp &o) override {
    if (c_.failed()) return;
    const std::string_view name = o.name();
    if (!defined_operator(name)) {
      c_.fail("content of object %d uses the undefined operator \"%.40s\"", num_, std::string(name).c_str());
      return;
    }
    if (const int need = operands_needed(name); need > 0 && o.size() < static_cast<std::size_t>(need)) {
      c_.fail("content of object %d gives the operator %.3s %zu operands (it takes %d)", num_,
              std::string(name).c_str(), o.size(), need);
      return;
    }
    if (name == "q") {
      level_++;
      deepest = std::max(deepest, level_);
    } else if (name == "Q") {
      if (level_ > 0) level_--;
    }
    for (std::size_t i = 0; i < o.size(); i++) operand(o, o.operand(i), i);
    if (name == "BI") {
      inline_image(o);
    } else if (name == "k" || name == "K") {
      cmyk(name);
    } else if ((name == "cs" || name == "CS") && o.size() == 1) {
      const std::string cs = o.name_text(0);
      if (cs == "DeviceCMYK")
        cmyk(name);
      else if (cs != "DeviceRGB" && cs != "DeviceGray" && cs != "Pattern")
        resource(o, "ColorSpace", cs, nullptr);
    } else if (name == "ri" && o.size() == 1) {
      const std::string ri = o.name_text(0);
      if (!in_list(ri, {"RelativeColorimetric", "AbsoluteColorimetric", "Perceptual", "Saturation"}))
        c_.fail("content of object %d uses the rendering intent %.60s", num_, ri.c_str());
    } else if (name == "Tf" && o.size() == 2) {
      const byte *t;
      int s, e;
      if (resource(o, "Font", o.name_text(0), &t, &s, &e) == 1) type3(t, s, e);
    } else if (name == "gs" && o.size() == 1) {
      resource(o, "ExtGState", o.name_text(0), nullptr);
    } else if (name == "sh" && o.size() == 1) {
      resource(o, "Shading", o.name_text(0), nullptr);
    } else if (name == "Do" && o.size() == 1) {
      const byte *t;
      int s, e;
      if (resource(o, "XObject", o.name_text(0), &t, &s, &e)) painted(t, s, e, "form XObject");
    } else if ((name == "scn" || name == "SCN") && o.size() >= 1 && o.operand(o.size() - 1).type == OperandType::name) {
      const byte *t;
      int s, e;
      if (resource(o, "Pattern", o.name_text(o.size() - 1), &t, &s, &e)) painted(t, s, e, "pattern");
    }
  }
  void save() override {}
  void restore() override {}

 private:
  void cmyk(std::string_view op) {
    c_.fail("content of object %d paints in device CMYK (%.3s) while the output intent is RGB", num_,
            std::string(op).c_str());
  }

  // Operand `index` of the operation, or a member of an array operand when
  // index is npos (arrays nested in arrays are not looked into).
  void operand(const ContentOp &o, const Operand &a, std::size_t index) {
    const byte *t = o.source();
    switch (a.type) {
      case OperandType::number:
        if (number_beyond(t, a.start, a.end, c_.part_))
          c_.fail("content of object %d holds the number %.40s, beyond PDF/A-%d's limits", num_,
                  token_text(t, a.start, a.end).c_str(), c_.part_);
        break;
      case OperandType::string:
      case OperandType::hex_string: {
        const std::size_t limit = c_.part_ == 1 ? 65535 : 32767;
        if (string_bytes(t, a.start, a.end, limit) > limit)
          c_.fail("content of object %d holds a string longer than %zu bytes", num_, limit);
        break;
      }
      case OperandType::name:
        if (name_bytes(t, a.start, a.end) > 127) c_.fail("content of object %d holds a name over 127 bytes", num_);
        break;
      case OperandType::array: {
        if (index == std::string::npos || !array_worth_walking(t, a.start, a.end)) break;
        int n = 0;
        for (const Operand &m : o.array_items(index)) {
          operand(o, m, std::string::npos);
          n++;
        }
        if (c_.part_ == 1 && n > k_max_array)
          c_.fail("content of object %d holds an array of %d entries (PDF/A-1 allows %d)", num_, n, k_max_array);
        break;
      }
      default:
        break;
    }
  }

  // Whether an array operand (a TJ array, mostly) can break a limit: only
  // one with a number of five digits or more outside its strings, a long
  // string, or enough bytes to hold more entries than part 1 allows needs
  // its members looked at.
  bool array_worth_walking(const byte *t, int s, int e) const {
    const std::size_t limit = c_.part_ == 1 ? 65535 : 32767;
    if (e - s >= 2 * k_max_array) return true;
    int run = 0;
    for (int i = s + 1; i < e - 1; i++) {
      const byte c = t[i];
      if (c == '%') {
        // A comment: to the end of its line (digits or brackets in it
        // count for nothing).
        while (i + 1 < e && t[i + 1] != '\r' && t[i + 1] != '\n') i++;
        run = 0;
      } else if (c == '(') {
        // A literal string, read by the tokenizer: i moves to its closing
        // parenthesis (or the end of an unclosed one).
        const int from = i, after = literal_end(t, e, i);
        i = after < 0 ? e - 1 : after - 1;
        if (static_cast<std::size_t>(i - from) > limit) return true;
        run = 0;
      } else if (c == '<') {
        const int from = i;
        while (i < e && t[i] != '>') i++;
        if (static_cast<std::size_t>(i - from) / 2 > limit) return true;
        run = 0;
      } else if (c >= '0' && c <= '9') {
        if (++run > 4) return true;
      } else {
        run = 0;
      }
    }
    return false;
  }

  void inline_image(const ContentOp &o) {
    const byte *t = o.source();
    for (std::size_t i = 0; i + 1 < o.size(); i += 2) {
      const std::string key = o.name_text(i);
      const Operand &v = o.operand(i + 1);
      const std::string val = token_text(t, v.start, v.end);
      if (key == "F" || key == "Filter") {
        for (auto [is, ie] : value_items(t, v.start, v.end))
          if (token_is(t, is, ie, "/LZW") || token_is(t, is, ie, "/LZWDecode"))
            c_.fail("content of object %d holds an inline image compressed with LZW", num_);
      } else if (key == "CS" || key == "ColorSpace") {
        if (val == "/CMYK" || val == "/DeviceCMYK")
          c_.fail("content of object %d holds an inline image in device CMYK", num_);
        else if (v.type == OperandType::name && val != "/RGB" && val != "/G" && val != "/DeviceRGB" &&
                 val != "/DeviceGray")
          resource(o, "ColorSpace", o.name_text(i + 1), nullptr);
        else if (v.type == OperandType::array)
          c_.colour_space(t, v.start, v.end, 0);
      } else if ((key == "I" || key == "Interpolate") && val == "true") {
        c_.fail("content of object %d holds an inline image with interpolation", num_);
      }
    }
  }

  // Looks the name up in the resources in force; fails when they do not
  // hold it. A colour space found this way is checked as one.
  // Returns 0 when the resources do not hold the name, 1 on its first
  // use in this stream, 2 after (answers are kept per stream: content
  // selects the same few fonts and states over and over).
  int resource(const ContentOp &, const char *category, const std::string &name, const byte **t, int *s = nullptr,
               int *e = nullptr) {
    const std::string key = std::string(category) + '/' + name;
    int seen = 2;
    auto it = held_.find(key);
    if (it == held_.end()) {
      seen = 1;
      Held h;
      h.found = c_.lookup(scope_, category, name, &h.t, &h.s, &h.e);
      it = held_.emplace(key, h).first;
      if (!h.found)
        c_.fail("content of object %d names the %s /%.60s, which its resources do not hold", num_, category,
                name.c_str());
      else if (std::strcmp(category, "ColorSpace") == 0)
        c_.colour_space(h.t, h.s, h.e, 0);
    }
    if (!it->second.found) return 0;
    if (t) {
      *t = it->second.t;
      *s = it->second.s;
      *e = it->second.e;
    }
    return seen;
  }

  // A form or tiling pattern painted at the current level adds its own
  // nesting below it.
  void painted(const byte *t, int s, int e, const char *what) {
    int num = value_ref(t, s, e);
    if (num <= 0) return;  // a direct pattern dictionary has no content
    int inside = c_.paint(num, &scope_, what);
    if (inside >= 0) deepest = std::max(deepest, level_ + inside);
  }

  // A Type 3 font's glyph procedures are content painted by the text.
  void type3(const byte *t, int s, int e) {
    const byte *ft = t;
    int fs = s, fe = e;
    if (!c_.resolve(&ft, &fs, &fe) || fs >= fe || ft[fs] != '<') return;
    std::vector<DictEntry> es;
    int close = 0;
    if (!dict_entries(ft, fs, fe, &es, &close)) return;
    const DictEntry *sub = dict_find(ft, es, "Subtype");
    if (!sub || !token_is(ft, sub->val, sub->val_end, "/Type3")) return;
    int font_num = value_ref(t, s, e);
    if (font_num > 0 && !type3_done_.insert(font_num).second) return;
    Scope own;
    const Scope *sc = c_.scope_of(ft, es, &scope_, &own) ? &own : &scope_;
    const DictEntry *cp = dict_find(ft, es, "CharProcs");
    if (!cp) return;
    const byte *pt = ft;
    int ps = cp->val, pe = cp->val_end;
    std::vector<DictEntry> procs;
    int pclose = 0;
    if (!c_.resolve(&pt, &ps, &pe) || ps >= pe || pt[ps] != '<' || !dict_entries(pt, ps, pe, &procs, &pclose)) return;
    for (const DictEntry &p : procs) {
      int num = value_ref(pt, p.val, p.val_end);
      if (num <= 0) continue;
      int inside = c_.paint(num, sc, "Type 3 glyph");
      if (inside >= 0) deepest = std::max(deepest, level_ + inside);
    }
  }

  struct Held {
    bool found = false;
    const byte *t = nullptr;
    int s = 0, e = 0;
  };
  Checker &c_;
  const Scope &scope_;
  int num_;
  int level_ = 0;
  std::set<int> type3_done_;
  std::map<std::string, Held> held_;
};

bool Checker::scope_of(const byte *t, const std::vector<DictEntry> &es, const Scope *outer, Scope *out) const {
  const DictEntry *r = dict_find(t, es, "Resources");
  if (!r) return false;
  const byte *rt = t;
  int rs = r->val, re = r->val_end;
  int close = 0;
  if (!resolve(&rt, &rs, &re) || rs >= re || rt[rs] != '<' || !dict_entries(rt, rs, re, &out->es, &close))
    return false;
  out->t = rt;
  out->outer = outer;
  return true;
}

bool Checker::lookup(const Scope &sc, const char *category, const std::string &name, const byte **t, int *s,
                     int *e) const {
  for (const Scope *p = &sc; p; p = p->outer) {
    if (!p->t) continue;
    const DictEntry *cat = dict_find(p->t, p->es, category);
    if (!cat) continue;
    const byte *ct = p->t;
    int cs = cat->val, ce = cat->val_end;
    std::vector<DictEntry> es;
    int close = 0;
    if (!resolve(&ct, &cs, &ce) || cs >= ce || ct[cs] != '<' || !dict_entries(ct, cs, ce, &es, &close)) continue;
    for (const DictEntry &x : es) {
      // Keys compare with #xx resolved, as the content's names are.
      std::string key;
      for (int i = x.key + 1; i < x.key_end; i++) {
        if (ct[i] == '#' && i + 2 < x.key_end) {
          key += static_cast<char>(std::strtol(token_text(ct, i + 1, i + 3).c_str(), nullptr, 16));
          i += 2;
        } else {
          key += static_cast<char>(ct[i]);
        }
      }
      if (key != name) continue;
      *t = ct;
      *s = x.val;
      *e = x.val_end;
      // A name whose value is null (an object the conversion left out on
      // purpose, a PostScript XObject say, or one the source lacks) is
      // held: it paints nothing, as in the source.
      return true;
    }
  }
  return false;
}

// Walks the content stream `num` (a form, tiling pattern, glyph procedure
// or appearance) painted with the given resources in force. Returns the
// deepest q nesting inside it, or -1 when it is not content.
int Checker::paint(int num, const Scope *outer, const char *what) {
  if (failed()) return -1;
  if (auto it = nesting_.find(num); it != nesting_.end()) {
    if (it->second < 0) fail("%s %d paints itself", what, num);
    return it->second;
  }
  int k = obj_find(&d_.objs, num);
  if (k < 0) return -1;
  const ObjEntry &oe = d_.objs.elems[k];
  const byte *t;
  int len;
  if (!oe.is_stream || !object_text(d_, oe, &t, &len)) return -1;
  std::vector<DictEntry> es;
  int close = 0;
  int s = skip_ws_comments(t, 0, len);
  if (s >= len || !dict_entries(t, s, len, &es, &close)) return -1;
  const DictEntry *sub = dict_find(t, es, "Subtype");
  const DictEntry *pt = dict_find(t, es, "PatternType");
  if (sub && !token_is(t, sub->val, sub->val_end, "/Form")) return -1;  // an image
  if (pt && !token_is(t, pt->val, pt->val_end, "1")) return -1;
  Scope own;
  const Scope *sc = scope_of(t, es, outer, &own) ? &own : outer;
  std::string data;
  StreamResult r = stream_decode(d_, oe, DecodeLimits{}, &data);
  if (!r.ok()) {
    fail("%s %d cannot be read (%s)", what, num, stream_failure_text(r).c_str());
    return -1;
  }
  nesting_[num] = -1;
  int deepest = content(num, data, sc ? *sc : Scope{}, what);
  nesting_[num] = deepest;
  return deepest;
}

int Checker::content(int num, const std::string &data, const Scope &scope, const char *what) {
  ContentRules rules(*this, scope, num);
  ContentHandler *chain[] = {&rules};
  std::string out;
  ContentWalk w = content_walk(reinterpret_cast<const unsigned char *>(data.data()), static_cast<int>(data.size()),
                               chain, &out);
  if (!w.complete && !failed()) fail("the content of %s %d does not parse", what, num);
  return rules.deepest;
}

// A page's own content streams, its annotations' appearances, and
// everything they paint.
bool Checker::page_content(int page_num) {
  const byte *t;
  int len;
  if (!text_of(page_num, &t, &len)) return false;
  std::vector<DictEntry> es;
  int close = 0;
  int s = skip_ws_comments(t, 0, len);
  if (s >= len || !dict_entries(t, s, len, &es, &close)) {
    fail("the page object %d does not parse", page_num);
    return false;
  }
  Scope scope;
  scope_of(t, es, nullptr, &scope);
  if (const DictEntry *c = dict_find(t, es, "Contents")) {
    const byte *ct = t;
    int cs = c->val, ce = c->val_end;
    std::vector<int> streams;
    if (int num = value_ref(t, cs, ce); num > 0 && resolve(&ct, &cs, &ce) && ct[cs] != '[') {
      streams.push_back(num);
    } else if (ct[cs] == '[') {
      for (auto [is, ie] : value_items(ct, cs, ce))
        if (int n = value_ref(ct, is, ie); n > 0) streams.push_back(n);
    }
    // A page's streams are one content: joined, they are walked once.
    std::string joined;
    for (int num : streams) {
      int k = obj_find(&d_.objs, num);
      if (k < 0) continue;
      std::string data;
      StreamResult r = stream_decode(d_, d_.objs.elems[k], DecodeLimits{}, &data);
      if (!r.ok()) {
        fail("content stream %d cannot be read (%s)", num, stream_failure_text(r).c_str());
        return false;
      }
      joined += data;
      joined += '\n';
    }
    int deepest = content(streams.empty() ? page_num : streams[0], joined, scope, "page content");
    if (!failed() && deepest > k_max_nesting)
      fail("graphics states nested %d deep (PDF/A allows %d)", deepest, k_max_nesting);
  }
  if (const DictEntry *a = dict_find(t, es, "Annots")) {
    const byte *at = t;
    int as = a->val, ae = a->val_end;
    if (resolve(&at, &as, &ae) && as < ae && at[as] == '[')
      for (auto [is, ie] : value_items(at, as, ae)) {
        const byte *nt = at;
        int ns = is, ne = ie;
        std::vector<DictEntry> aes;
        int aclose = 0;
        if (!resolve(&nt, &ns, &ne) || ns >= ne || nt[ns] != '<' || !dict_entries(nt, ns, ne, &aes, &aclose)) continue;
        const DictEntry *sub = dict_find(nt, aes, "Subtype");
        annotation(nt, aes, sub ? token_text(nt, skip_ws_comments(nt, sub->val, sub->val_end), sub->val_end) : "");
        const DictEntry *ap = dict_find(nt, aes, "AP");
        if (!ap) continue;
        const byte *pt = nt;
        int ps = ap->val, pe = ap->val_end;
        std::vector<DictEntry> apes;
        int pclose = 0;
        if (!resolve(&pt, &ps, &pe) || ps >= pe || pt[ps] != '<' || !dict_entries(pt, ps, pe, &apes, &pclose))
          continue;
        for (const DictEntry &x : apes) {
          // An appearance is a stream, or a dictionary of states' streams.
          if (int num = value_ref(pt, x.val, x.val_end); num > 0) {
            int k = obj_find(&d_.objs, num);
            if (k >= 0 && d_.objs.elems[k].is_stream) {
              int inside = paint(num, nullptr, "annotation appearance");
              if (inside + 1 > k_max_nesting) fail("graphics states nested %d deep (PDF/A allows %d)", inside + 1, k_max_nesting);
              continue;
            }
          }
          const byte *st = pt;
          int ss = x.val, se = x.val_end;
          std::vector<DictEntry> states;
          int sclose = 0;
          if (!resolve(&st, &ss, &se) || ss >= se || st[ss] != '<' || !dict_entries(st, ss, se, &states, &sclose))
            continue;
          for (const DictEntry &y : states)
            if (int num = value_ref(st, y.val, y.val_end); num > 0) {
              int inside = paint(num, nullptr, "annotation appearance");
              if (inside + 1 > k_max_nesting) fail("graphics states nested %d deep (PDF/A allows %d)", inside + 1, k_max_nesting);
            }
        }
      }
  }
  return !failed();
}

bool Checker::run(std::string *why) {
  for (int i = 0; i < d_.pages.nelems && !failed(); i++) {
    page_ = i + 1;
    const int num = d_.pages.elems[i].num;
    queue_.push_back(num);
    drain();
    if (!failed()) page_content(num);
  }
  page_ = 0;
  if (!failed() && d_.catalog_num > 0) queue_.push_back(d_.catalog_num);
  if (!failed() && d_.info_num > 0) queue_.push_back(d_.info_num);
  drain();
  for (int k = 0; k < d_.objs.nelems && !failed(); k++) {
    queue_.push_back(d_.objs.elems[k].num);
    drain();
  }
  if (failed()) *why = fail_;
  return !failed();
}

}  // namespace

bool output_check(const unsigned char *data, std::uint64_t n, int part, std::string *why) {
  if (n > 0x7fffffffULL) {
    *why = "output check: the output is too large to check (" + std::to_string(n) + " bytes)";
    return false;
  }
  DocGuard g;
  ErrorText err;
  if (!doc_load_image(data, static_cast<int>(n), &g.d, &err)) {
    *why = "output check: the output does not load (" + err.text + ")";
    return false;
  }
  Checker c(g.d, part);
  return c.run(why);
}

}  // namespace zyk
