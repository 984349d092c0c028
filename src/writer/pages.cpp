// Page wrapping: every source page becomes three new objects.
//
//   3i + 3  the page: media box [0 0 W H], no /Rotate, resources naming the
//           form as /Pi and the default RGB colour space;
//   3i + 4  a form XObject holding the page's whole content, rewritten, in
//           the page's own coordinates: /BBox is the page box, /Matrix turns
//           the page's rotation into the form, /Resources are the page's
//           resources renumbered, with /DefaultRGB merged into their colour
//           spaces;
//   3i + 5  the content stream "q 1 0 0 1 tx ty cm /Pi Do Q".
//
// Geometry. The page box (x0 y0 x1 y1) is the visible area; the new page is
// [0 0 W H] with W = x1 - x0 and H = y1 - y0, swapped for 90 and 270, and the
// content lands exactly on it whatever the box's lower-left corner:
//   rotation  form matrix               translation
//   0         identity                  (-x0, -y0)
//   90        [0 -1 1 0 0 x1]           (-y0, 0)
//   180       [-1 0 0 -1 x1 y1]         (0, 0)
//   270       [0 1 -1 0 y1 0]           (0, -x0)
// A rotation that is no multiple of 90 is treated as 0. The rotation is the
// page's own /Rotate, else the nearest ancestor's; negative multiples of 90
// count (-90 is 270).
//
// Content. /Contents is a stream, an array of streams (joined with a line
// feed between them, because a content stream may end right after an
// operator and the next begin with one), an indirect array, or null (an
// empty page). Streams are decoded through their whole filter chain. A
// stream that exists but cannot be decoded refuses the page: writing it
// encoded, or leaving it out, would silently lose what the page shows. A
// reference to an object that does not exist is null and contributes
// nothing, as in any reader.
//
// Annotations other than the links kept as links (nav.cpp) are not kept as
// annotations; their visible appearances are painted into the page (see
// below), after the page's own content, which runs inside q ... Q so that
// the state it leaves cannot move them. Kept links are named by the page's
// /Annots.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "writer/writer.h"

namespace zyk {

namespace {

// The object's own top-level entries, read with the tokenizer.
bool own_entries(const Doc &d, const ObjEntry &e, const byte **t, std::vector<DictEntry> *es) {
  int len, close = 0;
  return object_text(d, e, t, &len) && dict_entries(*t, 0, len, es, &close);
}

// Reads the content of one page: its decoded streams, one after the other.
// Every failure sets the error text, naming the page and, where there is
// one, the object.
struct PageContentReader {
  const Doc &d;
  DecodeAccount *acc;
  ErrorText &err;
  int page_no;

  bool fail_content() { return err.fail("page %ld: cannot read content stream", static_cast<long>(page_no)); }

  // A content stream that exists but cannot be decoded: the object and why.
  bool fail_decode(int num, const StreamResult &r) {
    return err.fail("page %ld: cannot read content stream %ld (%s)", static_cast<long>(page_no), static_cast<long>(num),
                    stream_failure_text(r).c_str());
  }

  // Appends `n` bytes of content, a line feed before them when the page
  // already has some; false when that makes the page's content longer than
  // a page may be.
  bool append(const char *data, std::size_t n, std::string *content) {
    const std::size_t sep = content->empty() ? 0 : 1;
    if (content->size() + sep + n > k_page_content_max)
      return err.fail("page %ld: content too large (more than %llu bytes)", static_cast<long>(page_no),
                      static_cast<unsigned long long>(k_page_content_max));
    if (sep) content->push_back('\n');
    content->append(data, n);
    return true;
  }

  // Appends the streams an array's references name, a line feed between two.
  // Every member must be a reference "N G R" or null: a bare number or "N R"
  // names no stream, and leaving it out would lose part of the page.
  bool of_array(const byte *t, int len, std::string *content) {
    if (!value_readable(t, 0, len)) return fail_content();
    for (auto [s, e] : value_items(t, 0, len)) {
      if (token_is(t, s, e, "null")) continue;
      int ref = value_ref(t, s, e);
      if (ref < 0) return fail_content();
      if (!of_ref(ref, false, content)) return false;
    }
    return true;
  }

  // Appends the decoded stream of object num (or the streams of the array it
  // names).
  bool of_ref(int num, bool allow_array, std::string *content) {
    int k = num > 0 ? obj_find(&d.objs, num) : -1;
    if (k < 0) return true;  // a reference to nothing is null
    const ObjEntry &e = d.objs.elems[k];
    if (e.is_stream) {
      StreamResult r;
      std::shared_ptr<const std::string> data = acc->decode(d, e, &r);
      if (!data) {
        if (r.status == DecodeStatus::limit) return too_large_error(err, page_no, *acc);
        return fail_decode(e.num, r);
      }
      return append(data->data(), data->size(), content);
    }
    const byte *t;
    int len;
    if (allow_array && object_text(d, e, &t, &len) && t[0] == '[') return of_array(t, len, content);
    if (object_text(d, e, &t, &len) && token_is(t, 0, len, "null")) return true;
    return fail_content();
  }

  // The page's own top-level /Contents, read with the tokenizer: a stream
  // reference, an array of them, or null. A key of a nested dictionary (an
  // inline annotation's /Contents text) is not the page's.
  bool read(const ObjEntry &e, std::string *content) {
    content->clear();
    const byte *t;
    int len, close = 0;
    std::vector<DictEntry> es;
    if (!object_text(d, e, &t, &len) || !dict_entries(t, 0, len, &es, &close)) return fail_content();
    const DictEntry *c = dict_find(t, es, "Contents");
    if (!c || token_is(t, c->val, c->val_end, "null")) return true;
    if (t[c->val] == '[') return of_array(t + c->val, c->val_end - c->val, content);
    int ref = value_ref(t, c->val, c->val_end);
    if (ref < 0) return fail_content();
    return of_ref(ref, true, content);
  }
};

// The reference of the default RGB colour space in source numbering.
std::string default_rgb_entry() { return "/DefaultRGB " + std::to_string(k_default_rgb_key) + " 0 R"; }

// Merges entries into the sub-dictionary `key` of a resource dictionary
// text. An inline sub-dictionary gains the entries; one given by reference
// is written inline with the entries added (the object's own entries keep
// their references, which the transfer follows); a missing or unusable one
// becomes a dictionary holding only the entries. When `unless` names a key
// the sub-dictionary already has, nothing changes (a page's own /DefaultRGB
// is kept).
std::string merge_into(const Doc &d, const std::string &res, const char *key, const std::string &entries,
                       const char *unless) {
  auto t = reinterpret_cast<const byte *>(res.data());
  int n = static_cast<int>(res.size());
  std::vector<DictEntry> es;
  int close = 0;
  if (!dict_entries(t, 0, n, &es, &close)) return res;
  const DictEntry *sub = dict_find(t, es, key);
  if (!sub) return "<< /" + std::string(key) + " << " + entries + " >>" + res.substr(2);
  std::vector<DictEntry> inner;
  int inner_close = 0;
  if (t[sub->val] == '<') {
    if (!dict_entries(t, sub->val, sub->val_end, &inner, &inner_close)) return res;
    if (unless && dict_find(t, inner, unless)) return res;
    return res.substr(0, static_cast<std::size_t>(sub->val) + 2) + ' ' + entries +
           res.substr(static_cast<std::size_t>(sub->val) + 2);
  }
  std::string value = "<< " + entries + " >>";
  std::vector<RefHit> refs;
  find_refs(t + sub->val, sub->val_end - sub->val, &refs);
  if (refs.size() == 1 && refs[0].num > 0) {
    int k = obj_find(&d.objs, refs[0].num);
    const byte *ot;
    int ol;
    if (k >= 0 && !d.objs.elems[k].is_stream && object_text(d, d.objs.elems[k], &ot, &ol) &&
        dict_entries(ot, 0, ol, &inner, &inner_close)) {
      if (unless && dict_find(ot, inner, unless)) return res;
      value = "<< " + entries + ' ' +
              std::string(reinterpret_cast<const char *>(ot) + 2, static_cast<std::size_t>(inner_close - 2)) + ">>";
    }
  }
  return res.substr(0, static_cast<std::size_t>(sub->val)) + value + res.substr(static_cast<std::size_t>(sub->val_end));
}

// ---- annotations ------------------------------------------------------------------
//
// Annotations are not carried over as annotations, but what they show is
// part of the page: a filled-in form field, a stamp, a highlight. Each
// visible annotation with a normal appearance is therefore painted into the
// page's content, as a viewer shows it: the appearance form's /BBox,
// transformed by its /Matrix, is fitted onto the annotation's /Rect.
// Popups (shown only on demand) and annotations flagged Hidden or NoView
// are left out; a /N appearance given per state is chosen by /AS.

// The value [*s, *e) of text *t, followed when it is a reference: a stream
// is returned in *stream, any other object replaces the text range.
bool deref(const Doc &d, const byte **t, int *s, int *e, const ObjEntry **stream) {
  *stream = nullptr;
  std::vector<RefHit> refs;
  find_refs(*t + *s, *e - *s, &refs);
  if (refs.size() != 1 || refs[0].start != 0) return *s < *e;
  int k = refs[0].num > 0 ? obj_find(&d.objs, refs[0].num) : -1;
  if (k < 0) return false;
  const ObjEntry &o = d.objs.elems[k];
  if (o.is_stream) {
    *stream = &o;
    return true;
  }
  int len;
  if (!object_text(d, o, t, &len)) return false;
  *s = 0;
  *e = len;
  return true;
}

// Reads up to n numbers of the array [s, e).
int read_numbers(const byte *t, int s, int e, double *out, int n) {
  if (s >= e || t[s] != '[') return 0;
  int got = 0;
  for (int i = s + 1; got < n;) {
    i = skip_ws_comments(t, i, e);
    if (i >= e || t[i] == ']') break;
    int ve = value_end(t, i, e);
    if (ve < 0 || ve - i > 40) break;
    char tmp[48];
    std::memcpy(tmp, t + i, static_cast<std::size_t>(ve - i));
    tmp[ve - i] = 0;
    char *stop = nullptr;
    double v = std::strtod(tmp, &stop);
    if (stop == tmp || !std::isfinite(v)) break;
    out[got++] = v;
    i = ve;
  }
  return got;
}

std::string real(double v) {
  char buf[48];
  if (std::fabs(v) < 1e-9) v = 0;
  std::snprintf(buf, sizeof buf, "%.6f", v);
  std::size_t n = std::strlen(buf);
  while (n > 1 && buf[n - 1] == '0') n--;
  if (buf[n - 1] == '.') n--;
  return std::string(buf, n);
}

// The normal appearance stream of one annotation dictionary [s, e) of t,
// and the matrix that fits it onto the annotation's rectangle.
// Whether a viewer shows the annotation [s, e) of t on the page: not a
// popup (shown on demand), not flagged Hidden or NoView.
bool annotation_shown(const byte *t, int s, int e) {
  std::vector<DictEntry> es;
  int close = 0;
  if (!dict_entries(t, s, e, &es, &close)) return false;
  const DictEntry *sub = dict_find(t, es, "Subtype");
  if (sub && token_is(t, sub->val, sub->val_end, "/Popup")) return false;
  if (const DictEntry *f = dict_find(t, es, "F")) {
    int i = f->val;
    int flags = parse_int_at(t, f->val_end, &i);
    if (i != f->val && (flags & (2 | 32))) return false;  // Hidden, NoView
  }
  return true;
}

const ObjEntry *appearance(const Doc &d, const byte *t, int s, int e, std::string *matrix) {
  std::vector<DictEntry> es;
  int close = 0;
  if (!dict_entries(t, s, e, &es, &close)) return nullptr;
  const DictEntry *re = dict_find(t, es, "Rect");
  const DictEntry *ap = dict_find(t, es, "AP");
  if (!re || !ap) return nullptr;
  double rect[4];
  const byte *rt = t;
  int rs = re->val, rend = re->val_end;
  const ObjEntry *st = nullptr;
  if (!deref(d, &rt, &rs, &rend, &st) || st || read_numbers(rt, rs, rend, rect, 4) != 4) return nullptr;
  // The normal appearance, per state when /N is a dictionary.
  const byte *at = t;
  int as = ap->val, ae = ap->val_end;
  std::vector<DictEntry> aes;
  if (!deref(d, &at, &as, &ae, &st) || st || !dict_entries(at, as, ae, &aes, &close)) return nullptr;
  const DictEntry *normal = dict_find(at, aes, "N");
  if (!normal) return nullptr;
  const byte *nt = at;
  int ns = normal->val, ne = normal->val_end;
  if (!deref(d, &nt, &ns, &ne, &st)) return nullptr;
  if (!st) {
    const DictEntry *state = dict_find(t, es, "AS");
    std::vector<DictEntry> states;
    if (!state || t[state->val] != '/' || !dict_entries(nt, ns, ne, &states, &close)) return nullptr;
    std::string name(reinterpret_cast<const char *>(t) + state->val + 1,
                     static_cast<std::size_t>(state->val_end - state->val - 1));
    const DictEntry *chosen = dict_find(nt, states, name.c_str());
    if (!chosen) return nullptr;
    int cs = chosen->val, ce = chosen->val_end;
    if (!deref(d, &nt, &cs, &ce, &st) || !st) return nullptr;
  }
  // The form's box and matrix.
  std::vector<DictEntry> fes;
  if (st->dict_off < 0 || !dict_entries(d.pdf, st->dict_off, st->stream_off, &fes, &close)) return nullptr;
  double bbox[4], m[6] = {1, 0, 0, 1, 0, 0};
  const DictEntry *bb = dict_find(d.pdf, fes, "BBox");
  if (!bb || read_numbers(d.pdf, bb->val, bb->val_end, bbox, 4) != 4) return nullptr;
  if (const DictEntry *fm = dict_find(d.pdf, fes, "Matrix")) {
    double mm[6];
    if (read_numbers(d.pdf, fm->val, fm->val_end, mm, 6) == 6) std::memcpy(m, mm, sizeof m);
  }
  double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
  for (int cx : {0, 2})
    for (int cy : {1, 3}) {
      double x = bbox[cx] * m[0] + bbox[cy] * m[2] + m[4], y = bbox[cx] * m[1] + bbox[cy] * m[3] + m[5];
      lo[0] = std::fmin(lo[0], x), hi[0] = std::fmax(hi[0], x);
      lo[1] = std::fmin(lo[1], y), hi[1] = std::fmax(hi[1], y);
    }
  double rx0 = std::fmin(rect[0], rect[2]), rx1 = std::fmax(rect[0], rect[2]);
  double ry0 = std::fmin(rect[1], rect[3]), ry1 = std::fmax(rect[1], rect[3]);
  double bw = hi[0] - lo[0], bh = hi[1] - lo[1];
  if (!(bw > 0) || !(bh > 0) || !(rx1 > rx0) || !(ry1 > ry0)) return nullptr;
  double sx = (rx1 - rx0) / bw, sy = (ry1 - ry0) / bh;
  *matrix = real(sx) + " 0 0 " + real(sy) + " " + real(rx0 - lo[0] * sx) + " " + real(ry0 - lo[1] * sy);
  return st;
}

// A resource name that the page's own resources do not use.
std::string unused_name(const std::string &res, std::string prefix) {
  while (res.find("/" + prefix) != std::string::npos && prefix.size() < 64) prefix += 'Z';
  return prefix;
}

// Collects the visible annotations of a page: paint lines for the content
// and /XObject entries (source numbering) for the resources, and the
// /Font entry naming the substitute font when a field's value is drawn.
// Links kept as annotations (w->kept_links) are not painted.
void collect_annotations(const Doc &d, const ObjEntry &page, const std::string &res, GlyphUse &use, PageWork *w,
                         std::string *xobjects, std::string *fonts) {
  std::vector<AnnotDict> annots;
  page_annotations(d, page, &annots);
  const std::string prefix = unused_name(res, "ZykAnnot"), field_font = unused_name(res, "ZykField");
  for (std::size_t j = 0; j < annots.size(); j++) {
    const AnnotDict &a = annots[j];
    if (!a.t || std::find(w->kept_links.begin(), w->kept_links.end(), static_cast<int>(j)) != w->kept_links.end())
      continue;
    std::string matrix;
    if (w->oc_off && !w->oc_off->empty()) {
      std::vector<DictEntry> aes;
      int close = 0;
      const DictEntry *oc = dict_entries(a.t, a.s, a.e, &aes, &close) ? dict_find(a.t, aes, "OC") : nullptr;
      if (oc && optional_content_hidden(d, *w->oc_off, value_ref(a.t, oc->val, oc->val_end))) continue;
    }
    if (!annotation_shown(a.t, a.s, a.e)) continue;
    std::string paint;
    if (w->form && field_paint(d, *w->form, a.t, a.s, a.e, field_font, use, &paint)) {
      w->annot_paint.push_back(std::move(paint));
      if (fonts->empty()) *fonts = " /" + field_font + ' ' + std::to_string(k_substitute_font_key) + " 0 R";
      continue;
    }
    const ObjEntry *form = appearance(d, a.t, a.s, a.e, &matrix);
    if (!form) continue;
    std::string name = prefix + std::to_string(w->annot_paint.size());
    w->annot_paint.push_back("q " + matrix + " cm /" + name + " Do Q");
    w->annot_forms.push_back(form->num);
    *xobjects += " /" + name + " " + std::to_string(form->num) + " 0 R";
  }
}

// ---- page box ---------------------------------------------------------------------

// A box value (an array, or a reference to one): four numbers naming two
// opposite corners in any order, returned as x0 y0 x1 y1 with x0 < x1 and
// y0 < y1. False when unusable (fewer numbers, no area).
bool box_value(const Doc &d, const byte *t, int s, int e, double out[4]) {
  const ObjEntry *st = nullptr;
  double v[4];
  if (!deref(d, &t, &s, &e, &st) || st || read_numbers(t, s, e, v, 4) != 4) return false;
  out[0] = std::fmin(v[0], v[2]);
  out[1] = std::fmin(v[1], v[3]);
  out[2] = std::fmax(v[0], v[2]);
  out[3] = std::fmax(v[1], v[3]);
  return out[2] > out[0] && out[3] > out[1];
}

}  // namespace

void page_annotations(const Doc &d, const ObjEntry &page, std::vector<AnnotDict> *out) {
  out->clear();
  const byte *t;
  int len;
  if (!object_text(d, page, &t, &len)) return;
  std::vector<DictEntry> es;
  int close = 0;
  if (!dict_entries(t, 0, len, &es, &close)) return;
  const DictEntry *an = dict_find(t, es, "Annots");
  if (!an) return;
  const byte *at = t;
  int s = an->val, e = an->val_end;
  const ObjEntry *st = nullptr;
  if (!deref(d, &at, &s, &e, &st) || st || at[s] != '[') return;
  for (int i = s + 1;;) {
    i = skip_ws_comments(at, i, e);
    if (i >= e || at[i] == ']') break;
    int ve = value_end(at, i, e);
    if (ve < 0) break;
    const byte *dt = at;
    int ds = i, de = ve;
    i = ve;
    if (!deref(d, &dt, &ds, &de, &st) || st || dt[ds] != '<')
      out->push_back({});
    else
      out->push_back({dt, ds, de});
  }
}

// The visible box: the crop box clipped to the media box, each the page's
// own or else its nearest ancestor's; the media box alone without a crop
// box. Boxes may be written by reference and with their corners in any
// order. When neither box is found along the /Parent links, the loader's
// box (its default when the tree gives none) stands.
namespace {

// page_box's facts of object num: its own entries.
void read_box_facts(const Doc &d, int num, PageNodeFacts *f) {
  f->box_known = true;
  int k = num > 0 ? obj_find(&d.objs, num) : -1;
  const byte *t;
  int len;
  if (k < 0 || !object_text(d, d.objs.elems[k], &t, &len)) return;
  std::vector<DictEntry> es;
  int close = 0;
  if (!dict_entries(t, 0, len, &es, &close)) return;
  f->box_readable = true;
  if (const DictEntry *c = dict_find(t, es, "CropBox")) f->crop_ok = box_value(d, t, c->val, c->val_end, f->crop);
  if (const DictEntry *m = dict_find(t, es, "MediaBox")) f->media_ok = box_value(d, t, m->val, m->val_end, f->media);
  const DictEntry *parent = dict_find(t, es, "Parent");
  std::vector<RefHit> refs;
  if (parent) find_refs(t + parent->val, parent->val_end - parent->val, &refs);
  f->one_parent = refs.size() == 1;
  if (f->one_parent) f->box_parent = refs[0].num;
}

// page_rotation's facts of object num.
void read_rot_facts(const Doc &d, int num, PageNodeFacts *f) {
  f->rot_known = true;
  int k = num > 0 ? obj_find(&d.objs, num) : -1;
  const byte *t;
  std::vector<DictEntry> es;
  if (k < 0 || !own_entries(d, d.objs.elems[k], &t, &es)) return;
  f->rot_readable = true;
  if (const DictEntry *rot = dict_find(t, es, "Rotate")) {
    int i = rot->val;
    int v = parse_int_at(t, rot->val_end, &i);
    if (i != rot->val) {
      f->has_rotate = true;
      f->rotate = v;
    }
  }
  const DictEntry *parent = dict_find(t, es, "Parent");
  f->rot_parent = parent ? value_ref(t, parent->val, parent->val_end) : -1;
}

// The facts of object num for the walk from a page: the page's own are
// read each time (no other page shares them), its ancestors' once when
// nodes keeps them.
const PageNodeFacts &node_facts(const Doc &d, int num, int depth, bool for_box, PageNodeCache *nodes,
                                PageNodeFacts *scratch) {
  PageNodeFacts *f = scratch;
  if (nodes && depth > 0) f = &nodes->by_num[num];
  else *scratch = PageNodeFacts{};
  if (for_box && !f->box_known) read_box_facts(d, num, f);
  if (!for_box && !f->rot_known) read_rot_facts(d, num, f);
  return *f;
}

}  // namespace

// The visible box: the crop box clipped to the media box, each the page's
// own or else its nearest ancestor's; the media box alone without a crop
// box. Boxes may be written by reference and with their corners in any
// order. When neither box is found along the /Parent links, the loader's
// box (its default when the tree gives none) stands.
void page_box(const Doc &d, const PageInfo &pi, double box[4], PageNodeCache *nodes) {
  double crop[4], media[4];
  bool have_crop = false, have_media = false;
  int num = pi.num;
  PageNodeFacts scratch;
  for (int depth = 0; depth <= k_inherit_depth && !(have_crop && have_media); depth++) {
    const PageNodeFacts &f = node_facts(d, num, depth, true, nodes, &scratch);
    if (!f.box_readable) break;
    if (f.crop_ok && !have_crop) {
      have_crop = true;
      std::memcpy(crop, f.crop, sizeof crop);
    }
    if (f.media_ok && !have_media) {
      have_media = true;
      std::memcpy(media, f.media, sizeof media);
    }
    if (!f.one_parent) break;
    num = f.box_parent;
  }
  if (!have_media && !have_crop) {
    box[0] = std::fmin(pi.box[0], pi.box[2]);
    box[1] = std::fmin(pi.box[1], pi.box[3]);
    box[2] = std::fmax(pi.box[0], pi.box[2]);
    box[3] = std::fmax(pi.box[1], pi.box[3]);
    return;
  }
  if (!have_media) {
    std::memcpy(box, crop, sizeof crop);
    return;
  }
  std::memcpy(box, media, sizeof media);
  if (!have_crop) return;
  double clipped[4] = {std::fmax(crop[0], media[0]), std::fmax(crop[1], media[1]), std::fmin(crop[2], media[2]),
                       std::fmin(crop[3], media[3])};
  if (clipped[2] > clipped[0] && clipped[3] > clipped[1]) std::memcpy(box, clipped, sizeof clipped);
}

int page_rotation(const Doc &d, const PageInfo &pi, PageNodeCache *nodes) {
  int r = 0;
  bool found = false;
  int num = pi.num;
  PageNodeFacts scratch;
  for (int depth = 0; depth <= k_inherit_depth && !found; depth++) {
    const PageNodeFacts &f = node_facts(d, num, depth, false, nodes, &scratch);
    if (!f.rot_readable) break;
    if (f.has_rotate) {
      r = f.rotate;
      found = true;
      break;
    }
    num = f.rot_parent;
  }
  if (!found) r = pi.rotate;
  r %= 360;
  return r < 0 ? r + 360 : r;
}

bool page_resources(Context &ctx, const Doc &d, const PageInfo &pi, int page_no, PageWork *w) {
  int k = obj_find(&d.objs, pi.num);
  if (k < 0) {
    return ctx.err.fail("page object %ld missing", static_cast<long>(pi.num));
  }
  const ObjEntry &e = d.objs.elems[k];
  const byte *rt = nullptr;
  int rn = 0, bad = 0;
  ResourcesFound found = page_resources_text(d, pi.num, k_inherit_depth, &rt, &rn, &bad);
  if (found == ResourcesFound::unreadable) {
    return ctx.err.fail("page %ld: cannot read the resources (object %ld)", static_cast<long>(page_no),
                        static_cast<long>(bad));
  }
  const bool res = found == ResourcesFound::found;
  std::string text;
  if (res) text.assign(reinterpret_cast<const char *>(rt), static_cast<std::size_t>(rn));
  std::string xobjects, fonts;
  collect_annotations(d, e, text, ctx.glyphs, w, &xobjects, &fonts);
  if (!res && xobjects.empty() && fonts.empty()) return true;
  if (!res) text = "<< >>";
  std::string merged = merge_into(d, text, "ColorSpace", default_rgb_entry(), "DefaultRGB");
  if (!xobjects.empty()) merged = merge_into(d, merged, "XObject", xobjects.substr(1), nullptr);
  if (!fonts.empty()) merged = merge_into(d, merged, "Font", fonts.substr(1), nullptr);
  w->res = replace_inline_fonts(d, reinterpret_cast<const byte *>(merged.data()), static_cast<int>(merged.size()));
  w->has_res = true;
  return true;
}

namespace {

// The page form's /Matrix entry ("" unrotated) for a visible box and
// rotation, and the translation that moves the box onto [0 0 W H].
std::string page_matrix(double x0, double y0, double x1, double y1, int r, std::string *tx, std::string *ty) {
  std::string matrix, mx, my;
  switch (r) {
    case 90:
      matrix = " /Matrix [0 -1 1 0 0 " + format_num(x1) + "]";
      mx = format_num(-y0);
      my = "0";
      break;
    case 180:
      matrix = " /Matrix [-1 0 0 -1 " + format_num(x1) + ' ' + format_num(y1) + "]";
      mx = my = "0";
      break;
    case 270:
      matrix = " /Matrix [0 1 -1 0 " + format_num(y1) + " 0]";
      mx = "0";
      my = format_num(-x0);
      break;
    default:
      mx = format_num(-x0);
      my = format_num(-y0);
      break;
  }
  if (tx) *tx = mx;
  if (ty) *ty = my;
  return matrix;
}

// Page i's page object, its resources naming the form `form` as /P<i>.
void write_page_object(Transfer &x, int i, int form, double width, double height, const PageWork &w, Out *out) {
  out->begin_obj(x.nb.page_obj(i));
  out->printf(
      "<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %s %s] /Contents %d 0 R\n"
      "   /Resources << /ColorSpace << /DefaultRGB %d 0 R >> /XObject << /P%d %d 0 R >> >>%s%s >>\nendobj\n",
      x.nb.parent_of(i), format_num(width).c_str(), format_num(height).c_str(), x.nb.content_obj(i), x.nb.icc_space(), i,
      form, w.annots.empty() ? "" : " /Annots ", w.annots.c_str());
}

// Page i's content stream: it paints the page's form /P<i>.
void write_page_content(Transfer &x, int i, double x0, double y0, double x1, double y1, int r, Out *out) {
  std::string tx, ty;
  page_matrix(x0, y0, x1, y1, r, &tx, &ty);
  char line[160];
  int n = std::snprintf(line, sizeof line, "q 1 0 0 1 %s %s cm /P%d Do Q\n", tx.c_str(), ty.c_str(), i);
  out->packed_stream_obj(x.nb.content_obj(i), "", line, static_cast<std::uint64_t>(n));
}

}  // namespace

std::string page_contents_key(const Doc &d, const PageInfo &pi) {
  int k = obj_find(&d.objs, pi.num);
  const byte *t;
  int len, close = 0;
  std::vector<DictEntry> es;
  if (k < 0 || !object_text(d, d.objs.elems[k], &t, &len) || !dict_entries(t, 0, len, &es, &close)) return "";
  const DictEntry *c = dict_find(t, es, "Contents");
  if (!c) return "";
  // References only: the same text then names the same streams.
  std::vector<RefHit> refs;
  find_refs(t + c->val, c->val_end - c->val, &refs);
  if (refs.empty()) return "";
  std::string key;
  for (const RefHit &r : refs) key += std::to_string(r.num) + ',';
  return std::string(t[c->val] == '[' ? "[" : "") + key;
}

bool write_page(const Doc &d, int i, const PageWork &w, Transfer &x, Out *out, ContentFindings *found_out,
                int drawn_by) {
  const PageInfo &pi = d.pages.elems[i];
  const int page_no = i + 1;
  int k = obj_find(&d.objs, pi.num);
  if (k < 0) {
    return x.ctx->err.fail("page object %ld missing", static_cast<long>(pi.num));
  }
  const ObjEntry &e = d.objs.elems[k];
  const int r = page_rotation(d, pi, &x.page_nodes);
  double box[4];
  page_box(d, pi, box, &x.page_nodes);
  const double x0 = box[0], y0 = box[1], x1 = box[2], y1 = box[3];
  double width = x1 - x0, height = y1 - y0;
  if (!(width > 0) || !(height > 0)) {
    return x.ctx->err.fail("page %ld: empty page box", static_cast<long>(page_no));
  }
  if (r == 90 || r == 270) std::swap(width, height);
  // The box is written as reals (page size, form box, matrix, translation),
  // and PDF/A-1 readers need not handle reals beyond 32767; a page that
  // large (over eleven metres) is a damaged box, not a page to guess at.
  for (double v : {x0, y0, x1, y1, width, height}) {
    if (std::fabs(v) > 32767.0) {
      return x.ctx->err.fail("page %ld: page box beyond the limits of PDF/A", static_cast<long>(page_no));
    }
  }

  if (drawn_by >= 0) {
    // The same content, resources and box as page drawn_by: its form draws
    // this page too, and this page's own form number holds null.
    write_page_object(x, i, x.nb.form_obj(drawn_by), width, height, w, out);
    out->begin_obj(x.nb.form_obj(i));
    out->str("null\nendobj\n");
    write_page_content(x, i, x0, y0, x1, y1, r, out);
    return true;
  }

  std::string source;
  if (!PageContentReader{d, &x.decoded, x.ctx->err, page_no}.read(e, &source)) return false;
  std::string content;
  ContentFindings found;
  // The page's content is painted inside a q, and one more with painted
  // annotations (below).
  found.depth_limit = k_max_nesting - (w.annot_paint.empty() ? 1 : 2);
  ContentWalk walk = rewrite_content(reinterpret_cast<const byte *>(source.data()), static_cast<int>(source.size()),
                                     w.has_res ? reinterpret_cast<const byte *>(w.res.data()) : nullptr,
                                     static_cast<int>(w.res.size()), x, &content, &found);
  if (!walk.complete) {
    return x.ctx->err.fail("page %ld: cannot parse content (it ends inside a token at byte %ld)",
                           static_cast<long>(page_no), static_cast<long>(walk.problem));
  }
  if (!found.refusal.empty()) {
    return x.ctx->err.fail("page %ld: %s", static_cast<long>(page_no), found.refusal.c_str());
  }
  *found_out = std::move(found);
  if (!w.annot_paint.empty()) {
    // The page's own content in its own graphics state, so that whatever
    // it leaves set does not move or recolour the annotations painted after.
    content.insert(0, "q\n");
    content += "\nQ";
    for (const std::string &paint : w.annot_paint) content += "\n" + paint;
    content += "\n";
  }

  std::string res;
  if (w.has_res) {
    remap_refs(x, reinterpret_cast<const byte *>(w.res.data()), static_cast<int>(w.res.size()), &res);
  } else {
    res = "<< /Font << /F1 " + std::to_string(x.nb.type0()) + " 0 R >> /ColorSpace << /DefaultRGB " +
          std::to_string(x.nb.icc_space()) + " 0 R >> >>";
  }

  const std::string matrix = page_matrix(x0, y0, x1, y1, r, nullptr, nullptr);

  write_page_object(x, i, x.nb.form_obj(i), width, height, w, out);

  std::string entries = " /Type /XObject /Subtype /Form /BBox [" + format_num(x0) + ' ' + format_num(y0) + ' ' +
                        format_num(x1) + ' ' + format_num(y1) + ']' + matrix + "\n   /Resources " + res + "\n  ";
  out->packed_stream_obj(x.nb.form_obj(i), entries, content.data(), content.size());
  write_page_content(x, i, x0, y0, x1, y1, r, out);
  return true;
}

}  // namespace zyk
