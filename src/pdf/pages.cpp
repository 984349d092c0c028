// The page tree: flattening it into a page list, page boxes, rotation and
// the resource dictionary that applies to a page.
#include <cstring>
#include <initializer_list>
#include <vector>
#include <memory>

#include "pdf/pdf.h"

namespace zyk {

namespace {

int reduce_rotation(int r) { return ((r % 360) + 360) % 360; }

const double k_default_box[4] = {0, 0, 595, 842};

int read_box_numbers(const byte *t, int i, int end, double out[4]);

// The first usable box among the object's own entries of the given names,
// tried in order. A usable box is an array of four numbers whose third and
// fourth are positive; the numbers are kept as written.
bool own_box(const byte *pdf, int pdf_len, const ObjEntry &e, std::initializer_list<const char *> names,
             double box[4]) {
  const byte *t;
  int s, end;
  if (!dict_range(pdf, pdf_len, e, &t, &s, &end)) return false;
  for (const char *name : names) {
    int nl = static_cast<int>(std::strlen(name));
    for (int p = find_name(t, end, s, end, name); p >= 0; p = find_name(t, end, p + 1, end, name)) {
      int i = skip_ws(t, p + 1 + nl, end);
      if (i >= end || t[i] != '[') continue;
      i = skip_ws(t, i + 1, end);
      if (i >= end) continue;
      double b[4];
      if (read_box_numbers(t, i, end, b) == 4 && b[2] > 0 && b[3] > 0) {
        std::memcpy(box, b, sizeof b);
        return true;
      }
    }
  }
  return false;
}

// Page boxes are inheritable: a page without a usable box of its own takes
// the nearest ancestor's /CropBox, else the nearest ancestor's /MediaBox.
struct InheritedBoxes {
  bool has_crop;
  double crop[4];
  bool has_media;
  double media[4];
};

void page_box(const byte *pdf, int pdf_len, const ObjEntry &e, const InheritedBoxes &inh, PageInfo *pi) {
  if (own_box(pdf, pdf_len, e, {"CropBox", "MediaBox"}, pi->box)) return;
  if (inh.has_crop)
    std::memcpy(pi->box, inh.crop, sizeof inh.crop);
  else if (inh.has_media)
    std::memcpy(pi->box, inh.media, sizeof inh.media);
  else
    std::memcpy(pi->box, k_default_box, sizeof k_default_box);
}

struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};

int resolve_node(const byte *pdf, int pdf_len, const ObjVec *objs, int node, int max_num, PageVec *pages,
                 unsigned char *visited, int rotate, int depth, InheritedBoxes inh) {
  if (objs->nelems <= 0) return -1;
  int ni = obj_find(objs, node);
  if (ni < 0) return -1;
  const ObjEntry &e = objs->elems[ni];
  const byte *text;
  int s, end;
  bool has_dict = dict_range(pdf, pdf_len, e, &text, &s, &end);
  int type = has_dict ? obj_type(text, s, end) : 0;
  if (type == 1) {
    PageInfo pi{node, -1, reduce_rotation(rotate), {0, 0, 0, 0}};
    page_box(pdf, pdf_len, e, inh, &pi);
    pagevec_push(pages, pi);
    return 1;
  }
  if (type != 2) return -1;
  if (depth > k_page_tree_max_depth) return -1;
  if (node < 0 || node > max_num || visited[node]) return -1;
  visited[node] = 1;

  long long cap = 4096;
  if (e.in_objstm)
    cap = e.os_len / 4 + 4096;
  else if (e.endobj_off > e.hdr_off)
    cap = (e.endobj_off - e.hdr_off) / 4 + 4096;
  std::unique_ptr<int, FreeDeleter> kids(static_cast<int *>(std::malloc(sizeof(int) * static_cast<std::size_t>(cap))));
  if (!kids) return -1;
  if (!has_dict) return 0;

  // /Kids: the first occurrence whose value is an array.
  int a = -1;
  for (int p = find_name(text, end, s, end, "Kids"); p >= 0; p = find_name(text, end, p + 1, end, "Kids")) {
    int q = skip_ws(text, p + 5, end);
    if (q < end && text[q] == '[') {
      a = q;
      break;
    }
  }
  if (a < 0) return 0;
  int nkids = 0;
  int i = skip_ws(text, a + 1, end);
  if (i >= end) return 0;
  while (i < end) {
    byte c = text[i];
    if (c == ']') break;
    if (c == '<' && i + 1 < end && text[i + 1] == '<') return -2;
    if (is_digit(c)) {
      int v = parse_int_at(text, end, &i);
      if (v > 0 && nkids < cap) kids.get()[nkids++] = v;
      i = skip_ws(text, i, end);
      if (i < end && is_digit(text[i])) {
        parse_int_at(text, end, &i);
        i = skip_ws(text, i, end);
      }
      if (i < end && text[i] == 'R') i = skip_ws(text, i + 1, end);
      continue;
    }
    i++;
  }
  if (nkids == 0) return 0;

  int A = obj_rotate_own(pdf, pdf_len, e);
  if (A < 0) A = rotate;
  int B = reduce_rotation(A);
  if (own_box(pdf, pdf_len, e, {"CropBox"}, inh.crop)) inh.has_crop = true;
  if (own_box(pdf, pdf_len, e, {"MediaBox"}, inh.media)) inh.has_media = true;
  for (int k = 0; k < nkids; k++) {
    int kid = kids.get()[k];
    int ki = obj_find(objs, kid);
    if (ki < 0) return -1;
    const ObjEntry &ke = objs->elems[ki];
    const byte *kt;
    int ks, kend;
    int kt_type = dict_range(pdf, pdf_len, ke, &kt, &ks, &kend) ? obj_type(kt, ks, kend) : 0;
    if (kt_type == 1) {
      PageInfo pi{kid, node, B, {0, 0, 0, 0}};
      page_box(pdf, pdf_len, ke, inh, &pi);
      pagevec_push(pages, pi);
    } else if (kt_type == 2) {
      int r = resolve_node(pdf, pdf_len, objs, kid, max_num, pages, visited, A, depth + 1, inh);
      if (r < 0) return -1;
    } else {
      return -1;
    }
  }
  return pages->nelems;
}

// Reads up to four numbers of a box array starting after its '['. Numbers
// are an optional sign, digits, and an optional fraction, accumulated digit
// by digit; other bytes (commas, a lone '.') are passed over.
int read_box_numbers(const byte *t, int i, int end, double out[4]) {
  int n = 0;
  while (n < 4 && i < end && t[i] != ']') {
    byte c = t[i];
    if (c == '+' || c == '-' || is_digit(c)) {
      bool neg = c == '-';
      if (c == '+' || c == '-') i++;
      double v = 0;
      while (i < end && is_digit(t[i])) v = v * 10 + (t[i++] - '0');
      if (i < end && t[i] == '.' && (is_digit(t[i - 1]) || t[i - 1] == '+' || t[i - 1] == '-')) {
        i++;
        double f = 0.1;
        while (i < end && is_digit(t[i])) {
          v += (t[i++] - '0') * f;
          f *= 0.1;
        }
      }
      out[n++] = neg ? -v : v;
      continue;
    }
    i++;
  }
  return n;
}

}  // namespace

int resolve_pages(const byte *pdf, int pdf_len, const ObjVec *objs, int node, int max_num, PageVec *pages,
                  unsigned char *visited, int rotate) {
  return resolve_node(pdf, pdf_len, objs, node, max_num, pages, visited, rotate, 0, InheritedBoxes{});
}

int obj_rotate_own(const byte *pdf, int pdf_len, const ObjEntry &e) {
  const byte *t;
  int s, end;
  if (!dict_range(pdf, pdf_len, e, &t, &s, &end)) return -1;
  int p = find_name(t, end, s, end, "Rotate");
  if (p < 0) return -1;
  int i = skip_ws(t, p + 7, end);
  int v = parse_int_at(t, end, &i);
  return v < 0 ? -1 : v;
}

namespace {

enum class ObjKind { dict, null, other };

// What object num is: a dictionary whose entries parse (its text and
// entries filled in), null (a missing object is null), or anything else.
ObjKind dict_object(const Doc &d, int num, const byte **t, int *len, std::vector<DictEntry> *es) {
  int k = num > 0 ? obj_find(&d.objs, num) : -1;
  if (k < 0) return ObjKind::null;
  const ObjEntry &e = d.objs.elems[k];
  int close = 0;
  if (e.is_stream || !object_text(d, e, t, len)) return ObjKind::other;
  if (token_is(*t, 0, *len, "null")) return ObjKind::null;
  return dict_entries(*t, 0, *len, es, &close) ? ObjKind::dict : ObjKind::other;
}

// Is the resource dictionary t[0, len) readable, with no number standing
// where a resource category names a resource (a bare number is no
// reference)? Category dictionaries given by reference are looked into too;
// keys that name no category (/ProcSet, a producer's own) are only read.
bool readable_resources(const Doc &d, const byte *t, int len) {
  std::vector<DictEntry> es;
  int close = 0;
  if (!value_readable(t, 0, len) || !dict_entries(t, 0, len, &es, &close)) return false;
  for (const DictEntry &cat : es) {
    bool category = false;
    for (const char *name : {"ExtGState", "ColorSpace", "Pattern", "Shading", "XObject", "Font", "Properties"})
      category = category || key_is(t, cat, name);
    if (!category) continue;
    const byte *ct = t;
    int cs = cat.val, ce = cat.val_end;
    std::vector<DictEntry> entries;
    if (int ref = value_ref(t, cs, ce); ref >= 0) {
      ObjKind kind = dict_object(d, ref, &ct, &ce, &entries);
      if (kind == ObjKind::null) continue;
      if (kind != ObjKind::dict || !value_readable(ct, 0, ce)) return false;
      cs = 0;
    } else if (t[cs] != '<' || !dict_entries(t, cs, ce, &entries, &close)) {
      continue;
    }
    for (const DictEntry &x : entries)
      if (is_digit(ct[x.val]) || ct[x.val] == '-' || ct[x.val] == '+' || ct[x.val] == '.') {
        if (value_ref(ct, x.val, x.val_end) < 0) return false;
      }
  }
  return true;
}

}  // namespace

// The search walks the page and its ancestors with the tokenizer, so that a
// comment, a string or a nested dictionary can neither end the resource
// dictionary early nor lend it a key: only a node's own top-level
// /Resources and /Parent entries count. Where a reference is expected only
// "N G R" is one; a bare number, "N R" or any other value that is not null
// leaves the resources unknown, and the search says so instead of guessing
// (the caller refuses the page rather than convert it without its fonts and
// images). A reference to a missing object is null, and a null /Resources is
// an absent one.
ResourcesFound page_resources_text(const Doc &d, int page_num, int max_links, const byte **text, int *len,
                                   int *bad_obj) {
  int num = page_num;
  for (int links = 0;; links++) {
    *bad_obj = num;
    const byte *t;
    int n;
    std::vector<DictEntry> es;
    ObjKind node = dict_object(d, num, &t, &n, &es);
    if (node == ObjKind::null) return ResourcesFound::none;
    if (node == ObjKind::other) return ResourcesFound::unreadable;
    if (const DictEntry *r = dict_find(t, es, "Resources"); r && !token_is(t, r->val, r->val_end, "null")) {
      std::vector<DictEntry> inner;
      int close = 0;
      if (t[r->val] == '<') {
        if (!dict_entries(t, r->val, r->val_end, &inner, &close) ||
            !readable_resources(d, t + r->val, r->val_end - r->val))
          return ResourcesFound::unreadable;
        *text = t + r->val;
        *len = r->val_end - r->val;
        return ResourcesFound::found;
      }
      int ref = value_ref(t, r->val, r->val_end);
      if (ref < 0) return ResourcesFound::unreadable;
      switch (dict_object(d, ref, text, len, &inner)) {
        case ObjKind::dict:
          if (readable_resources(d, *text, *len)) return ResourcesFound::found;
          *bad_obj = ref;
          return ResourcesFound::unreadable;
        case ObjKind::other:
          *bad_obj = ref;
          return ResourcesFound::unreadable;
        case ObjKind::null:
          break;
      }
    }
    const DictEntry *p = dict_find(t, es, "Parent");
    if (!p || token_is(t, p->val, p->val_end, "null")) return ResourcesFound::none;
    int parent = value_ref(t, p->val, p->val_end);
    if (parent < 0) return ResourcesFound::unreadable;
    if (links >= max_links) return ResourcesFound::none;
    num = parent;
  }
}

}  // namespace zyk
