// Values read out of object texts (see val.h).
#include "writer/val.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zyk {

Val resolve(const Doc &d, Val v) {
  for (int hop = 0; hop < 8 && v.ok(); hop++) {
    v.s = skip_ws_comments(v.t, v.s, v.e);
    if (v.s >= v.e || !is_digit(v.t[v.s])) return v;
    std::vector<RefHit> refs;
    find_refs(v.t + v.s, v.e - v.s, &refs);
    if (refs.size() != 1 || refs[0].start != 0) return v;
    int k = refs[0].num > 0 ? obj_find(&d.objs, refs[0].num) : -1;
    if (k < 0 || d.objs.elems[k].is_stream) return {};
    const byte *t;
    int len;
    if (!object_text(d, d.objs.elems[k], &t, &len)) return {};
    v = {t, 0, len};
  }
  return v.ok() ? v : Val{};
}

int ref_of(Val v) {
  if (!v.ok()) return 0;
  int s = skip_ws_comments(v.t, v.s, v.e);
  std::vector<RefHit> refs;
  find_refs(v.t + s, v.e - s, &refs);
  return refs.size() == 1 && refs[0].start == 0 && refs[0].num > 0 ? refs[0].num : 0;
}

bool entries_of(Val v, std::vector<DictEntry> *es) {
  int close = 0;
  if (!v.ok()) return false;
  int s = skip_ws_comments(v.t, v.s, v.e);
  return s + 1 < v.e && v.t[s] == '<' && v.t[s + 1] == '<' && dict_entries(v.t, s, v.e, es, &close);
}

Val entry(Val dict, const std::vector<DictEntry> &es, const char *key) {
  const DictEntry *e = dict_find(dict.t, es, key);
  return e ? Val{dict.t, e->val, e->val_end} : Val{};
}

bool number_of(Val v, double *out) {
  if (!v.ok() || v.e - v.s > 40) return false;
  char tmp[48];
  std::memcpy(tmp, v.t + v.s, static_cast<std::size_t>(v.e - v.s));
  tmp[v.e - v.s] = 0;
  char *stop = nullptr;
  double x = std::strtod(tmp, &stop);
  if (stop == tmp || *stop || !std::isfinite(x)) return false;
  *out = x;
  return true;
}

bool is_name(Val v, const char *name) { return v.ok() && v.t[v.s] == '/' && token_is(v.t, v.s, v.e, name); }

std::string name_bytes(Val v) {
  std::string out;
  for (int i = v.s + 1; i < v.e; i++) {
    if (v.t[i] == '#' && i + 2 < v.e && hex_digit_value(v.t[i + 1]) >= 0 && hex_digit_value(v.t[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex_digit_value(v.t[i + 1]) * 16 + hex_digit_value(v.t[i + 2])));
      i += 2;
    } else {
      out.push_back(static_cast<char>(v.t[i]));
    }
  }
  return out;
}

bool string_of(Val v, std::string *out) {
  if (!v.ok()) return false;
  if (v.t[v.s] == '(') {
    literal_bytes(v.t, v.s, v.e, out);
    return true;
  }
  if (v.t[v.s] == '<' && (v.s + 1 >= v.e || v.t[v.s + 1] != '<'))
    return hex_decode(v.t, static_cast<std::size_t>(v.s + 1), static_cast<std::size_t>(v.e), true, out);
  return false;
}

Val object_val(const Doc &d, int num) {
  int k = num > 0 ? obj_find(&d.objs, num) : -1;
  const byte *t;
  int len;
  if (k < 0 || d.objs.elems[k].is_stream || !object_text(d, d.objs.elems[k], &t, &len)) return {};
  return {t, 0, len};
}

int numbers_of(const Doc &d, Val v, double *out, int n) {
  v = resolve(d, v);
  if (!v.ok() || v.t[v.s] != '[') return -1;
  auto items = value_items(v.t, v.s, v.e);
  if (static_cast<int>(items.size()) > n) return -1;
  for (std::size_t i = 0; i < items.size(); i++)
    if (!number_of({v.t, items[i].first, items[i].second}, &out[i])) return -1;
  return static_cast<int>(items.size());
}

}  // namespace zyk
