// Object transfer: the source objects that the new pages need, copied under
// new numbers with every reference renumbered.
//
// Which objects. Starting from the pages' resource texts, every reference is
// followed, and so is every reference inside every object copied, until
// nothing new is reached; each object is reached, numbered and copied once,
// however many pages or objects name it. The map from source to output
// numbers is therefore complete before any text is rewritten, and every
// reference written resolves to the object it meant in the source. Memory is
// the only bound on the number of objects.
//
// What a reference becomes, decided when its object is first reached:
//   - a font dictionary is analysed: a Type3 font is copied, every other
//     font is replaced by the substitute font B, and its own references
//     (descriptor, font program, widths) are not followed;
//   - an object that does not exist, a page or page-tree node, the catalog,
//     a cross-reference or object stream, or a PostScript XObject becomes
//     null, so copying a resource never drags in the source's pages and
//     nothing dangles;
//   - an object whose value cannot be read faithfully by the tokenizer (a
//     dictionary that is no name/value pairs, "N R", an unknown keyword, a
//     stream whose data lies outside the file) refuses the conversion:
//     copied it would be invalid, left out a resource would be lost;
//   - anything else is copied as B + 11 + k, k counting copied objects in the
//     order they were reached.
//
// Streams are copied with their stored data unchanged; their dictionary is
// rewritten: /Length becomes the exact count of data bytes written, as a
// direct integer (a copied indirect /Length would point at an unrelated
// output object), and image and form dictionaries lose what PDF/A forbids
// without changing the page: /Interpolate true becomes false, /Alternates
// and /OPI are dropped (their references are then not followed). Form
// XObjects and tiling patterns hold content: when the content rewriting
// changes theirs, it is written decoded, rewritten and compressed anew.
//
// What PDF/A forbids in a copied object is treated or refused by the
// conformance walk (conform.cpp), which sees every object's text when it is
// reached (a refusal names the page that first reached it) and again when
// it is written; LZW data, allowed in neither part, is decoded and written
// compressed with Flate, and a form whose content cannot be decoded refuses
// the conversion instead of being copied still encoded. Rewriting a form's
// or pattern's content also tells what it paints: one that paints itself,
// directly or through others, refuses (a renderer would never finish it),
// and so does a form that names itself in its own XObject resources.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "flate/flate.h"
#include "writer/writer.h"

namespace zyk {

namespace {

bool entry_value_is(const byte *t, const std::vector<DictEntry> &es, const char *key, const char *value) {
  const DictEntry *e = dict_find(t, es, key);
  return e && token_is(t, e->val, e->val_end, value);
}

// The stream's dictionary entries, or false when they do not parse or its
// data does not lie inside the file.
bool stream_entries(const Doc &d, const ObjEntry &e, std::vector<DictEntry> *es) {
  if (e.in_objstm || e.dict_off < 0 || e.stream_off <= e.dict_off) return false;
  if (e.data_off < 0 || e.data_end < e.data_off || e.data_end > d.pdf_len) return false;
  int close = 0;
  return dict_entries(d.pdf, e.dict_off, e.stream_off, es, &close);
}

// The dictionary written for a copied stream (source numbering), for data
// of data_len bytes. With `recoded` the data is no longer the stored data but
// its decoded and rewritten form, compressed anew (`flate`) or plain: the
// filter entries are replaced accordingly.
std::string stream_dict(const Doc &d, const std::vector<DictEntry> &es, std::uint64_t data_len, bool recoded,
                        bool flate, bool as_form) {
  const byte *t = d.pdf;
  bool xobject = entry_value_is(t, es, "Subtype", "/Image") || entry_value_is(t, es, "Subtype", "/Form");
  std::string out = "<< /Length " + std::to_string(data_len);
  // An annotation appearance painted as a form must say that it is one;
  // producers often leave the keys out of appearance streams.
  if (as_form && !dict_find(t, es, "Type")) out += " /Type /XObject";
  if (as_form && !dict_find(t, es, "Subtype")) out += " /Subtype /Form";
  if (recoded && flate) out += " /Filter /FlateDecode";
  for (const DictEntry &x : es) {
    if (key_is(t, x, "Length")) continue;
    if (recoded && (key_is(t, x, "Filter") || key_is(t, x, "DecodeParms") || key_is(t, x, "DL"))) continue;
    if (xobject && (key_is(t, x, "Alternates") || key_is(t, x, "OPI"))) continue;
    out += ' ';
    if (xobject && key_is(t, x, "Interpolate") && token_is(t, x.val, x.val_end, "true")) {
      out += "/Interpolate false";
      continue;
    }
    out.append(reinterpret_cast<const char *>(t) + x.key, static_cast<std::size_t>(x.val_end - x.key));
  }
  out += " >>";
  return out;
}

// Form XObjects and tiling patterns hold content, which gets the same
// device-colour rewriting as the pages' content.
bool holds_content(const Doc &d, const std::vector<DictEntry> &es) {
  return entry_value_is(d.pdf, es, "Subtype", "/Form") || entry_value_is(d.pdf, es, "PatternType", "1");
}

struct FreeDeleter {
  void operator()(unsigned char *p) const { std::free(p); }
};

}  // namespace

// One content stream may be no longer than a page's whole content, so its
// decoding stops there: a bomb is refused after a quarter of a GiB, not
// after the whole document's budget.
std::shared_ptr<const std::string> DecodeAccount::decode(const Doc &d, const ObjEntry &e, StreamResult *r) {
  return cache_.get(d, e, DecodeLimits{k_page_content_max, &budget_}, r);
}

bool too_large_error(ErrorText &err, long page_no, const DecodeAccount &acc) {
  if (acc.left() < k_doc_decode_budget)
    return err.fail("page %ld: content too large (the document's content decodes to more than %llu bytes)", page_no,
                    static_cast<unsigned long long>(k_doc_decode_budget));
  return err.fail("page %ld: content too large (a stream decodes to more than %llu bytes)", page_no,
                  static_cast<unsigned long long>(std::min(k_page_content_max, k_doc_decode_budget)));
}

namespace {

// How rewriting one copied content stream ended.
enum class Recode { unchanged, rewritten, failed };

bool compress(std::string plain, std::string *data, bool *flate);

// The content of a copied content stream (form XObject, tiling pattern,
// annotation appearance) after rewriting, when that changes it: compressed
// when the encoder succeeds (*flate), plain otherwise. Text shown with fonts
// of the stream's own resources is re-encoded like page content; without
// resources of its own every font it selects is unlisted and read as
// WinAnsi. `failed` sets the error text, naming the page and object.
Recode recode_content(Transfer &x, std::size_t k, const ObjEntry &e, const std::vector<DictEntry> &es,
                      std::string *data, bool *flate, ContentFindings *found) {
  const Doc &d = *x.doc;
  const char *kind = entry_value_is(d.pdf, es, "PatternType", "1")     ? "tiling pattern"
                     : entry_value_is(d.pdf, es, "Subtype", "/Form") ? "form XObject"
                     : x.glyph_procs.count(e.num)                     ? "Type 3 glyph"
                                                                     : "annotation appearance";
  const long page = k < x.page_of.size() ? x.page_of[k] : 0;
  StreamResult sr;
  std::shared_ptr<const std::string> held = x.decoded.decode(d, e, &sr);
  if (!held && sr.status == DecodeStatus::limit) {
    (void)too_large_error(x.ctx->err, page, x.decoded);
    return Recode::failed;
  }
  if (!held) {
    (void)x.ctx->err.fail("page %ld: %s %ld: cannot read content stream (%s)", page, kind, static_cast<long>(e.num),
                          stream_failure_text(sr).c_str());
    return Recode::failed;
  }
  const std::string &decoded = *held;
  const DictEntry *res = dict_find(d.pdf, es, "Resources");
  std::string rgb;
  ContentWalk w = rewrite_content(reinterpret_cast<const byte *>(decoded.data()), static_cast<int>(decoded.size()),
                                  res ? d.pdf + res->val : nullptr, res ? res->val_end - res->val : 0, x, &rgb, found);
  if (!w.complete) {
    (void)x.ctx->err.fail("page %ld: %s %ld: cannot parse content (it ends inside a token at byte %ld)", page, kind,
                          static_cast<long>(e.num), static_cast<long>(w.problem));
    return Recode::failed;
  }
  if (!found->refusal.empty()) {
    (void)x.ctx->err.fail("page %ld: %s %ld: %s", page, kind, static_cast<long>(e.num), found->refusal.c_str());
    return Recode::failed;
  }
  // LZW data is stored decoded and compressed anew even when nothing in it
  // changes: neither part allows LZW.
  if (rgb == decoded && !stream_needs_reencoding(d, e)) return Recode::unchanged;
  return compress(std::move(rgb), data, flate) ? Recode::rewritten : Recode::unchanged;
}

// Data compressed with Flate when the encoder succeeds (*flate), plain
// otherwise.
bool compress(std::string plain, std::string *data, bool *flate) {
  unsigned char *packed = nullptr;
  std::uint64_t packed_len = 0;
  *flate = sx_deflate(reinterpret_cast<const unsigned char *>(plain.data()), plain.size(), &packed, &packed_len) == 0;
  if (*flate) {
    std::unique_ptr<unsigned char, FreeDeleter> owner(packed);
    data->assign(reinterpret_cast<const char *>(packed), static_cast<std::size_t>(packed_len));
  } else {
    *data = std::move(plain);
  }
  return true;
}

// Collects the spans of direct font dictionaries nested in the value [s, e).
void inline_font_spans(const Doc &d, const byte *t, int s, int e, int depth, bool outer,
                       std::vector<std::pair<int, int>> *spans) {
  if (depth > k_inline_font_depth || s >= e) return;
  if (t[s] == '[') {
    for (int i = s + 1;;) {
      i = skip_ws_comments(t, i, e);
      if (i >= e || t[i] == ']') return;
      int ve = value_end(t, i, e);
      if (ve < 0) return;
      inline_font_spans(d, t, i, ve, depth + 1, false, spans);
      i = ve;
    }
  }
  if (t[s] != '<' || s + 1 >= e || t[s + 1] != '<') return;
  if (!outer) {
    ObjEntry fake{0, -1, -1, -1, -1, -1, -1, 0, 1, t + s, e - s};
    FontInfo fi{};
    if (analyse_font(&d, fake, &fi) && fi.kind != FONT_TYPE3) {
      spans->push_back({s, e});
      return;
    }
  }
  std::vector<DictEntry> es;
  int close = 0;
  if (!dict_entries(t, s, e, &es, &close)) return;
  for (const DictEntry &x : es) {
    byte c = t[x.val];
    if (c == '[' || (c == '<' && x.val + 1 < x.val_end && t[x.val + 1] == '<'))
      inline_font_spans(d, t, x.val, x.val_end, depth + 1, false, spans);
  }
}

// 0 when a reference to this object must become null, 1 to copy it, 2 for
// a font replaced by the substitute font, 3 when its value cannot be read
// faithfully (a dictionary that is no name/value pairs, "N R", an unknown
// keyword): copied, it would be garbage; left out, a resource would be lost.
int classify(Transfer *x, const ObjEntry &e) {
  const Doc &d = *x->doc;
  if (e.num == d.catalog_num) return 0;
  if (e.is_stream) {
    std::vector<DictEntry> es;
    if (!stream_entries(d, e, &es) || !value_readable(d.pdf, e.dict_off, e.stream_off)) return 3;
    const byte *t = d.pdf;
    if (entry_value_is(t, es, "Type", "/XRef") || entry_value_is(t, es, "Type", "/ObjStm")) return 0;
    if (entry_value_is(t, es, "Subtype", "/PS") || entry_value_is(t, es, "Subtype2", "/PS")) return 0;
    return 1;
  }
  const byte *t;
  int s, end;
  // Pages and page-tree nodes by the loader's own test (obj_type), so that
  // whatever the page tree took for a page or node stays out of the copy.
  // It finds /Type at dictionary depth 0 or 1 by a byte scan, so a /Type
  // /Page written as a value or inside an array of the object's own
  // dictionary counts too, where the tokenizer would read only the key.
  if (dict_range(d.pdf, d.pdf_len, e, &t, &s, &end) && obj_type(t, s, end) != 0) return 0;
  FontInfo fi{};
  if (analyse_font(&d, e, &fi)) return fi.kind == FONT_TYPE3 ? 1 : 2;
  const byte *text;
  int len;
  if (!object_text(d, e, &text, &len)) return 0;
  return value_readable(text, 0, len) ? 1 : 3;
}

// The source-level text written for a copied object: a stream's cleaned
// dictionary or another object's value, direct fonts replaced.
std::string copied_text(const Transfer &x, const ObjEntry &e) {
  const Doc &d = *x.doc;
  if (e.is_stream) {
    std::vector<DictEntry> es;
    stream_entries(d, e, &es);
    std::string dict = stream_dict(d, es, static_cast<std::uint64_t>(e.data_end - e.data_off), false, false, false);
    dict = conform_text(x, reinterpret_cast<const byte *>(dict.data()), static_cast<int>(dict.size()), e.num);
    return replace_inline_fonts(d, reinterpret_cast<const byte *>(dict.data()), static_cast<int>(dict.size()));
  }
  const byte *t;
  int n;
  if (!object_text(d, e, &t, &n)) return "null";
  std::string fixed = conform_text(x, t, n, e.num);
  return replace_inline_fonts(d, reinterpret_cast<const byte *>(fixed.data()), static_cast<int>(fixed.size()));
}

void refuse(Transfer *x, int page, const std::string &why) {
  if (!x->refusal.empty()) return;
  x->refusal = "page " + std::to_string(page) + ": " + why;
}

void reach(Transfer *x, int num) {
  if (num <= 0 || objmap_find(&x->map, num) >= 0) return;
  int k = obj_find(&x->doc->objs, num);
  int target = 0;
  if (k >= 0) {
    switch (classify(x, x->doc->objs.elems[k])) {
      case 1:
        target = x->nb.first_copied() + static_cast<int>(x->order.size());
        x->order.push_back(num);
        x->page_of.push_back(x->page);
        break;
      case 2:
        target = x->nb.type0();
        break;
      case 3:
        refuse(x, x->page, "object " + std::to_string(num) + " cannot be read");
        break;
      default:
        break;
    }
  }
  objmap_push(&x->map, num, target);
}

// A value that is one "N G R" as its object's text (a dictionary object
// only); false when it names nothing usable.
bool deref(const Doc &d, const byte **t, int *s, int *e) {
  std::vector<RefHit> refs;
  find_refs(*t + *s, *e - *s, &refs);
  if (refs.size() != 1 || refs[0].start != 0) return true;
  int k = refs[0].num > 0 ? obj_find(&d.objs, refs[0].num) : -1;
  const byte *text;
  int len;
  if (k < 0 || d.objs.elems[k].is_stream || !object_text(d, d.objs.elems[k], &text, &len)) return false;
  *t = text;
  *s = skip_ws_comments(text, 0, len);
  *e = len;
  return true;
}

// A name's bytes with #xx resolved, without the slash.
std::string plain_name(const byte *t, int s, int e) {
  std::string out;
  for (int i = s + 1; i < e; i++) {
    if (t[i] == '#' && i + 2 < e && hex_digit_value(t[i + 1]) >= 0 && hex_digit_value(t[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit_value(t[i + 1]) << 4 | hex_digit_value(t[i + 2]));
      i += 2;
    } else {
      out += static_cast<char>(t[i]);
    }
  }
  return out;
}

}  // namespace

std::map<std::string, int> resource_objects(const Doc &d, const byte *t, int s, int e, const char *cat) {
  std::map<std::string, int> out;
  std::vector<DictEntry> rs, cs;
  int close = 0;
  if (!deref(d, &t, &s, &e) || s >= e || t[s] != '<' || !dict_entries(t, s, e, &rs, &close)) return out;
  const DictEntry *c = dict_find(t, rs, cat);
  if (!c) return out;
  s = c->val;
  e = c->val_end;
  if (!deref(d, &t, &s, &e) || s >= e || t[s] != '<' || !dict_entries(t, s, e, &cs, &close)) return out;
  for (const DictEntry &x : cs) {
    std::vector<RefHit> refs;
    find_refs(t + x.val, x.val_end - x.val, &refs);
    if (refs.size() == 1 && refs[0].start == 0) out[plain_name(t, x.key, x.key_end)] = refs[0].num;
  }
  return out;
}

namespace {

// The objects painted by content with these findings, each with the depth
// it is painted at.
std::vector<std::pair<int, int>> painted_objects(const Doc &d, const ContentFindings &f, const byte *res,
                                                 int res_len) {
  std::vector<std::pair<int, int>> out;
  if (!res) return out;
  const int s = skip_ws_comments(res, 0, res_len);
  for (const auto &[cat, names] : {std::pair{"XObject", &f.xobjects}, std::pair{"Pattern", &f.patterns}}) {
    if (names->empty()) continue;
    std::map<std::string, int> objs = resource_objects(d, res, s, res_len, cat);
    for (const auto &[name, depth] : *names)
      if (auto it = objs.find(name); it != objs.end()) out.push_back({it->second, depth});
  }
  return out;
}

// The first copied content stream that paints itself, through the forms
// and patterns it paints (edges: source number -> painted source numbers);
// 0 when none does.
int self_painting(const std::map<int, std::vector<std::pair<int, int>>> &paints) {
  // Iterative depth-first search: 1 on the path, 2 done.
  std::map<int, int> mark;
  for (const auto &[root, unused] : paints) {
    if (mark[root]) continue;
    std::vector<std::pair<int, std::size_t>> path = {{root, 0}};
    mark[root] = 1;
    while (!path.empty()) {
      auto &[node, next] = path.back();
      auto it = paints.find(node);
      if (it == paints.end() || next >= it->second.size()) {
        mark[node] = 2;
        path.pop_back();
        continue;
      }
      int to = it->second[next++].first;
      if (mark[to] == 1) return to;
      if (mark[to] == 0) {
        mark[to] = 1;
        path.push_back({to, 0});
      }
    }
  }
  return 0;
}

void reach_all(Transfer *x, const byte *t, int len) {
  std::vector<RefHit> hits;
  find_refs(t, len, &hits);
  for (const RefHit &h : hits) reach(x, h.num);
}

}  // namespace


std::string replace_inline_fonts(const Doc &d, const byte *t, int len) {
  std::vector<std::pair<int, int>> spans;
  int s = skip_ws_comments(t, 0, len);
  int e = value_end(t, s, len);
  if (e > s) inline_font_spans(d, t, s, e, 0, true, &spans);
  std::string out;
  out.reserve(static_cast<std::size_t>(len));
  int from = 0;
  const std::string ref = std::to_string(k_substitute_font_key) + " 0 R";
  for (auto [a, b] : spans) {
    out.append(reinterpret_cast<const char *>(t) + from, static_cast<std::size_t>(a - from));
    // A name may touch the dictionary it names ("/F1<<"): keep the tokens apart.
    if (a > 0 && !is_pdf_ws(t[a - 1])) out += ' ';
    out += ref;
    if (b < len && is_regular(t[b])) out += ' ';
    from = b;
  }
  out.append(reinterpret_cast<const char *>(t) + from, static_cast<std::size_t>(len - from));
  return out;
}

void transfer_init(Transfer *x, Context *ctx, const Doc *d, const Numbering &nb) {
  x->ctx = ctx;
  x->doc = d;
  x->nb = nb;
  objmap_push(&x->map, k_default_rgb_key, nb.icc_space());
  objmap_push(&x->map, k_substitute_font_key, nb.type0());
  objmap_push(&x->map, k_cmyk_space_key, 0);  // numbered once known to be used
}

bool transfer_collect(Transfer *x, const byte *text, int len) {
  std::string why;
  if (!conform_check(x, text, len, 0, &why)) refuse(x, x->page, why);
  reach_all(x, text, len);
  const Doc &d = *x->doc;
  while (x->followed < x->order.size() && !x->map.failed) {
    const std::size_t k = x->followed++;
    int num = x->order[k];
    const ObjEntry &e = d.objs.elems[obj_find(&d.objs, num)];
    const byte *raw;
    int raw_len;
    if (object_text(d, e, &raw, &raw_len) && !conform_check(x, raw, raw_len, num, &why))
      refuse(x, x->page_of[k], why);
    if (!conform_stream(x, e, &why)) refuse(x, x->page_of[k], why);
    std::string copied = copied_text(*x, e);
    reach_all(x, reinterpret_cast<const byte *>(copied.data()), static_cast<int>(copied.size()));
  }
  return !x->map.failed;
}

void remap_refs(const Transfer &x, const byte *t, int len, std::string *out) {
  std::vector<RefHit> hits;
  find_refs(t, len, &hits);
  out->clear();
  out->reserve(static_cast<std::size_t>(len) + 16);
  int from = 0;
  char num[24];
  for (const RefHit &h : hits) {
    out->append(reinterpret_cast<const char *>(t) + from, static_cast<std::size_t>(h.start - from));
    int idx = objmap_find(&x.map, h.num);
    int v = idx >= 0 ? x.map.vals[idx] : 0;
    if (v > 0) {
      int n = std::snprintf(num, sizeof num, "%d 0 R", v);
      out->append(num, static_cast<std::size_t>(n));
    } else {
      out->append("null");
    }
    from = h.end;
  }
  out->append(reinterpret_cast<const char *>(t) + from, static_cast<std::size_t>(len - from));
}

namespace {

// The items of an array value (after following a reference to it).
std::vector<std::pair<int, int>> array_items(const Doc &d, const byte **t, int s, int e) {
  if (!deref(d, t, &s, &e) || s >= e || (*t)[s] != '[') return {};
  return value_items(*t, s, e);
}

// The glyph procedures of the copied Type 3 fonts, each with the width
// its font's /Widths give it when one code shows it (or codes that agree).
void type3_glyphs(Transfer *x) {
  const Doc &d = *x->doc;
  std::set<int> conflicting;
  for (int num : x->order) {
    const ObjEntry &e = d.objs.elems[obj_find(&d.objs, num)];
    const byte *t;
    int len;
    if (e.is_stream || !object_text(d, e, &t, &len)) continue;
    const int s = skip_ws_comments(t, 0, len);
    std::vector<DictEntry> es;
    int close = 0;
    if (s >= len || t[s] != '<' || !dict_entries(t, s, len, &es, &close) ||
        !entry_value_is(t, es, "Subtype", "/Type3"))
      continue;
    const std::map<std::string, int> procs = resource_objects(d, t, s, len, "CharProcs");
    for (const auto &[name, proc] : procs) x->glyph_procs.insert({proc, std::nullopt});
    // Code -> glyph name from /Differences.
    std::map<int, std::string> names;
    if (const DictEntry *enc = dict_find(t, es, "Encoding")) {
      const byte *et = t;
      int es_ = enc->val, ee = enc->val_end;
      std::vector<DictEntry> ees;
      int eclose = 0;
      if (deref(d, &et, &es_, &ee) && es_ < ee && et[es_] == '<' && dict_entries(et, es_, ee, &ees, &eclose))
        if (const DictEntry *diff = dict_find(et, ees, "Differences")) {
          const byte *dt = et;
          int code = -1;
          for (auto [is, ie] : array_items(d, &dt, diff->val, diff->val_end)) {
            if (dt[is] == '/') {
              if (code >= 0 && code < 256) names[code] = plain_name(dt, is, ie);
              code++;
            } else {
              int pos = is;
              code = parse_int_at(dt, ie, &pos);
            }
          }
        }
    }
    const DictEntry *fc = dict_find(t, es, "FirstChar");
    const DictEntry *w = dict_find(t, es, "Widths");
    if (!fc || !w) continue;
    int pos = fc->val;
    const int first = parse_int_at(t, fc->val_end, &pos);
    const byte *wt = t;
    int code = first;
    for (auto [is, ie] : array_items(d, &wt, w->val, w->val_end)) {
      const int c = code++;
      auto nm = names.find(c);
      if (nm == names.end()) continue;
      auto pr = procs.find(nm->second);
      if (pr == procs.end()) continue;
      char *endp = nullptr;
      const std::string text(reinterpret_cast<const char *>(wt) + is, static_cast<std::size_t>(ie - is));
      const double width = std::strtod(text.c_str(), &endp);
      if (endp == text.c_str()) continue;
      std::optional<double> &want = x->glyph_procs[pr->second];
      if (want && *want != width) conflicting.insert(pr->second);
      want = width;
    }
  }
  // A procedure two codes show with different widths cannot agree with
  // both: it stays as it is.
  for (int proc : conflicting) x->glyph_procs[proc] = std::nullopt;
}

}  // namespace

bool transfer_prepare(Transfer *x) {
  const Doc &d = *x->doc;
  x->recoded.assign(x->order.size(), Transfer::Recoded{});
  type3_glyphs(x);
  std::map<int, std::vector<std::pair<int, int>>> paints;
  std::map<int, int> own_depth;
  std::set<int> lists_itself;
  for (std::size_t k = 0; k < x->order.size(); k++) {
    const ObjEntry &e = d.objs.elems[obj_find(&d.objs, x->order[k])];
    if (!e.is_stream) continue;
    std::vector<DictEntry> es;
    stream_entries(d, e, &es);
    Transfer::Recoded &r = x->recoded[k];
    const int page = k < x->page_of.size() ? x->page_of[k] : 0;
    auto glyph = x->glyph_procs.find(x->order[k]);
    if (holds_content(d, es) || x->as_form.count(x->order[k]) || glyph != x->glyph_procs.end()) {
      ContentFindings found;
      if (glyph != x->glyph_procs.end() && glyph->second) {
        found.has_glyph_width = true;
        found.glyph_width = *glyph->second;
      }
      Recode rc = recode_content(*x, k, e, es, &r.data, &r.flate, &found);
      if (rc == Recode::failed) return false;
      r.done = rc == Recode::rewritten;
      const DictEntry *res = dict_find(d.pdf, es, "Resources");
      const int num = x->order[k];
      if (res) {
        paints[num] = painted_objects(d, found, d.pdf + res->val, res->val_end - res->val);
        // A form that lists itself in its own XObject resources fails
        // validators even when its content does not paint it.
        for (const auto &[name, to] : resource_objects(d, d.pdf + res->val, 0, res->val_end - res->val, "XObject"))
          if (to == num) lists_itself.insert(num);
      }
      own_depth[num] = found.depth;
    } else if (stream_needs_reencoding(d, e)) {
      // LZW is allowed in neither part: the data is stored decoded and
      // compressed anew, which changes nothing it holds.
      std::string plain;
      if (stream_decode(d, e, DecodeLimits{}, &plain).ok())
        r.done = compress(std::move(plain), &r.data, &r.flate);
      else
        refuse(x, page, "cannot decode the LZW data of object " + std::to_string(x->order[k]));
    }
  }
  // A form or pattern that paints itself, directly or through others,
  // would keep a renderer of the archived file painting forever.
  if (int loop = self_painting(paints)) {
    const int k = objmap_find(&x->map, loop);
    const int idx = k >= 0 ? x->map.vals[k] - x->nb.first_copied() : -1;
    const auto at = static_cast<std::size_t>(idx);
    const int page = idx >= 0 && at < x->page_of.size() ? x->page_of[at] : 0;
    const ObjEntry &e = d.objs.elems[obj_find(&d.objs, loop)];
    std::vector<DictEntry> es;
    stream_entries(d, e, &es);
    const char *kind = entry_value_is(d.pdf, es, "PatternType", "1") ? "tiling pattern" : "form XObject";
    refuse(x, page, std::string(kind) + " " + std::to_string(loop) + " paints itself");
    return true;
  }
  if (!lists_itself.empty()) {
    const int num = *lists_itself.begin();
    const int k = objmap_find(&x->map, num);
    const int idx = k >= 0 ? x->map.vals[k] - x->nb.first_copied() : -1;
    const auto at = static_cast<std::size_t>(idx);
    refuse(x, idx >= 0 && at < x->page_of.size() ? x->page_of[at] : 0,
           "form XObject " + std::to_string(num) + " names itself in its own resources");
  }
  // Nesting through what each stream paints, children first (the paint
  // graph has no cycle here).
  for (const auto &[root, unused] : own_depth) {
    if (x->nesting.count(root)) continue;
    std::vector<std::pair<int, std::size_t>> path = {{root, 0}};
    while (!path.empty()) {
      auto &[node, next] = path.back();
      const std::vector<std::pair<int, int>> &to = paints[node];
      if (next < to.size()) {
        const int child = to[next++].first;
        if (!x->nesting.count(child) && own_depth.count(child)) path.push_back({child, 0});
        continue;
      }
      int total = own_depth[node];
      for (const auto &[child, at] : to)
        if (auto it = x->nesting.find(child); it != x->nesting.end()) total = std::max(total, at + it->second);
      x->nesting[node] = total;
      path.pop_back();
    }
  }
  return true;
}

int painted_nesting(const Transfer &x, const ContentFindings &f, const byte *res, int res_len) {
  int total = f.depth;
  for (const auto &[num, at] : painted_objects(*x.doc, f, res, res_len))
    if (auto it = x.nesting.find(num); it != x.nesting.end()) total = std::max(total, at + it->second);
  return total;
}

void transfer_write(const Transfer &x, Out *out) {
  const Doc &d = *x.doc;
  std::string text;
  for (std::size_t k = 0; k < x.order.size() && !out->failed; k++) {
    const int t_num = x.nb.first_copied() + static_cast<int>(k);
    const ObjEntry &e = d.objs.elems[obj_find(&d.objs, x.order[k])];
    if (e.is_stream) {
      std::vector<DictEntry> es;
      stream_entries(d, e, &es);
      const Transfer::Recoded *r = k < x.recoded.size() && x.recoded[k].done ? &x.recoded[k] : nullptr;
      const void *data = r ? static_cast<const void *>(r->data.data()) : d.pdf + e.data_off;
      const std::uint64_t n = r ? r->data.size() : static_cast<std::uint64_t>(e.data_end - e.data_off);
      std::string dict = stream_dict(d, es, n, r != nullptr, r && r->flate, x.as_form.count(x.order[k]) > 0);
      dict = conform_text(x, reinterpret_cast<const byte *>(dict.data()), static_cast<int>(dict.size()), e.num);
      std::string source =
          replace_inline_fonts(d, reinterpret_cast<const byte *>(dict.data()), static_cast<int>(dict.size()));
      remap_refs(x, reinterpret_cast<const byte *>(source.data()), static_cast<int>(source.size()), &text);
      out->stream_obj(t_num, text, data, n);
    } else {
      std::string source = copied_text(x, e);
      remap_refs(x, reinterpret_cast<const byte *>(source.data()), static_cast<int>(source.size()), &text);
      out->begin_obj(t_num);
      out->str(text);
      out->str("\nendobj\n");
    }
  }
}

namespace {

// The objects an array value (or a single reference) names.
std::vector<int> refs_of(const byte *t, int s, int e) {
  std::vector<RefHit> refs;
  find_refs(t + s, e - s, &refs);
  std::vector<int> out;
  for (const RefHit &r : refs) out.push_back(r.num);
  return out;
}

}  // namespace

void optional_content_off(const Doc &d, std::set<int> *off) {
  off->clear();
  const byte *t = nullptr;
  int len = 0;
  const int k = d.catalog_num > 0 ? obj_find(&d.objs, d.catalog_num) : -1;
  if (k < 0 || !object_text(d, d.objs.elems[k], &t, &len)) return;
  std::vector<DictEntry> es;
  int close = 0;
  int s = skip_ws_comments(t, 0, len);
  if (s >= len || t[s] != '<' || !dict_entries(t, s, len, &es, &close)) return;
  const DictEntry *ocp = dict_find(t, es, "OCProperties");
  if (!ocp) return;
  const byte *ot = t;
  int os = ocp->val, oe = ocp->val_end;
  std::vector<DictEntry> oes;
  if (!deref(d, &ot, &os, &oe) || os >= oe || ot[os] != '<' || !dict_entries(ot, os, oe, &oes, &close)) return;
  const DictEntry *groups = dict_find(ot, oes, "OCGs");
  const DictEntry *dflt = dict_find(ot, oes, "D");
  if (!dflt) return;
  const byte *dt = ot;
  int ds = dflt->val, de = dflt->val_end;
  std::vector<DictEntry> des;
  if (!deref(d, &dt, &ds, &de) || ds >= de || dt[ds] != '<' || !dict_entries(dt, ds, de, &des, &close)) return;
  auto listed = [&](const char *key) {
    const DictEntry *x = dict_find(dt, des, key);
    if (!x) return std::vector<int>{};
    const byte *at = dt;
    int as = x->val, ae = x->val_end;
    return deref(d, &at, &as, &ae) ? refs_of(at, as, ae) : std::vector<int>{};
  };
  if (entry_value_is(dt, des, "BaseState", "/OFF")) {
    // Every group is off but those the configuration turns on.
    if (groups) {
      const byte *gt = ot;
      int gs = groups->val, ge = groups->val_end;
      if (deref(d, &gt, &gs, &ge))
        for (int g : refs_of(gt, gs, ge)) off->insert(g);
    }
    for (int g : listed("ON")) off->erase(g);
  } else {
    for (int g : listed("OFF")) off->insert(g);
  }
}

bool optional_content_hidden(const Doc &d, const std::set<int> &off, int num) {
  if (off.empty() || num <= 0) return false;
  if (off.count(num)) return true;
  // A membership dictionary: visible by its policy over its groups
  // (/VE expressions are not evaluated: such content stays visible).
  const byte *t;
  int len;
  const int k = obj_find(&d.objs, num);
  if (k < 0 || d.objs.elems[k].is_stream || !object_text(d, d.objs.elems[k], &t, &len)) return false;
  std::vector<DictEntry> es;
  int close = 0;
  int s = skip_ws_comments(t, 0, len);
  if (s >= len || t[s] != '<' || !dict_entries(t, s, len, &es, &close) || !entry_value_is(t, es, "Type", "/OCMD"))
    return false;
  if (dict_find(t, es, "VE")) return false;
  const DictEntry *g = dict_find(t, es, "OCGs");
  if (!g) return false;
  const byte *gt = t;
  int gs = g->val, ge = g->val_end;
  std::vector<int> groups;
  if (deref(d, &gt, &gs, &ge)) groups = refs_of(gt, gs, ge);
  if (groups.empty()) return false;
  std::size_t n_off = 0;
  for (int x : groups) n_off += off.count(x);
  const bool all_off = n_off == groups.size(), none_off = n_off == 0;
  if (entry_value_is(t, es, "P", "/AllOn")) return !none_off;
  if (entry_value_is(t, es, "P", "/AnyOff")) return none_off;
  if (entry_value_is(t, es, "P", "/AllOff")) return !all_off;
  return all_off;  // /AnyOn, the default
}

namespace {

// The dictionary a value names (directly or by reference), as its text and
// entries; false for anything else.
bool dict_at(const Doc &d, const byte **t, int *s, int *e, std::vector<DictEntry> *es) {
  int close = 0;
  es->clear();
  return deref(d, t, s, e) && *s < *e && (*t)[*s] == '<' && dict_entries(*t, *s, *e, es, &close);
}

std::string raw(const byte *t, int s, int e) {
  return std::string(reinterpret_cast<const char *>(t) + s, static_cast<std::size_t>(e - s));
}

// One optional content configuration as written: its entries without /AS
// (automatic state changes by usage, which archived files may not carry),
// with a /Name unique among the document's configurations (readers list
// configurations by name), and with every group of the document in /Order
// when it has one, so that each group can be found and switched.
std::string config_text(const Doc &d, const byte *t, const std::vector<DictEntry> &es, const std::vector<int> &groups,
                        const std::string &fallback_name, std::set<std::string> *names) {
  std::string out = "<<";
  std::string name;
  if (const DictEntry *n = dict_find(t, es, "Name")) {
    if (string_value(d, t, n->val, n->val_end, &name) && !name.empty() && !names->count(name))
      out += " /Name " + raw(t, n->val, n->val_end);
    else
      name.clear();
  }
  if (name.empty()) {
    name = fallback_name;
    for (int k = 2; names->count(name); k++) name = fallback_name + " " + std::to_string(k);
    out += " /Name (" + name + ")";
  }
  names->insert(name);
  for (const DictEntry &x : es) {
    if (key_is(t, x, "AS") || key_is(t, x, "Name")) continue;
    if (!key_is(t, x, "Order")) {
      out += ' ' + raw(t, x.key, x.val_end);
      continue;
    }
    const byte *ot = t;
    int os = x.val, oe = x.val_end;
    if (!deref(d, &ot, &os, &oe) || os >= oe || ot[os] != '[') continue;  // not an array: readers ignore it
    const int end = value_end(ot, os, oe);
    if (end < 0) continue;
    const std::vector<int> listed = refs_of(ot, os, end);
    std::string order = raw(ot, os, end - 1);  // without the closing ']'
    for (int g : groups)
      if (std::find(listed.begin(), listed.end(), g) == listed.end()) order += ' ' + std::to_string(g) + " 0 R";
    out += " /Order " + order + ']';
  }
  return out + " >>";
}

}  // namespace

std::string optional_content_kept(const Doc &d) {
  const byte *t = nullptr;
  int len = 0;
  const int k = d.catalog_num > 0 ? obj_find(&d.objs, d.catalog_num) : -1;
  if (k < 0 || !object_text(d, d.objs.elems[k], &t, &len)) return "";
  std::vector<DictEntry> es;
  int s = skip_ws_comments(t, 0, len), e = len;
  if (!dict_at(d, &t, &s, &e, &es)) return "";
  const DictEntry *ocp = dict_find(t, es, "OCProperties");
  if (!ocp) return "";
  const byte *ot = t;
  int os = ocp->val, oe = ocp->val_end;
  std::vector<DictEntry> oes;
  if (!dict_at(d, &ot, &os, &oe, &oes)) return "";
  // The groups: dictionary objects of the file, each listed once.
  std::vector<int> groups;
  if (const DictEntry *g = dict_find(ot, oes, "OCGs")) {
    const byte *gt = ot;
    int gs = g->val, ge = g->val_end;
    if (deref(d, &gt, &gs, &ge))
      for (int num : refs_of(gt, gs, ge)) {
        const int gk = obj_find(&d.objs, num);
        if (gk >= 0 && !d.objs.elems[gk].is_stream &&
            std::find(groups.begin(), groups.end(), num) == groups.end())
          groups.push_back(num);
      }
  }
  const DictEntry *dflt = dict_find(ot, oes, "D");
  if (groups.empty() || !dflt) return "";
  const byte *dt = ot;
  int ds = dflt->val, de = dflt->val_end;
  std::vector<DictEntry> des;
  if (!dict_at(d, &dt, &ds, &de, &des)) return "";
  std::set<std::string> names;
  std::string out = "<< /OCGs [";
  for (std::size_t j = 0; j < groups.size(); j++) out += (j ? " " : "") + std::to_string(groups[j]) + " 0 R";
  out += "] /D " + config_text(d, dt, des, groups, "Default", &names);
  if (const DictEntry *c = dict_find(ot, oes, "Configs")) {
    const byte *ct = ot;
    int cs = c->val, ce = c->val_end;
    std::string configs;
    if (deref(d, &ct, &cs, &ce) && cs < ce && ct[cs] == '[') {
      for (int i = cs + 1;;) {
        i = skip_ws_comments(ct, i, ce);
        if (i >= ce || ct[i] == ']') break;
        const int ve = value_end(ct, i, ce);
        if (ve < 0) break;
        const byte *xt = ct;
        int xs = i, xe = ve;
        i = ve;
        std::vector<DictEntry> xes;
        if (dict_at(d, &xt, &xs, &xe, &xes))
          configs += ' ' + config_text(d, xt, xes, groups, "Configuration", &names);
      }
    }
    if (!configs.empty()) out += " /Configs [" + configs + " ]";
  }
  return out + " >>";
}

}  // namespace zyk
