// The object table and its number index.
#include <algorithm>
#include <numeric>
#include <vector>

#include "pdf/pdf.h"

namespace zyk {

void objvec_push(ObjVec *v, const ObjEntry &e) {
  objvec_unindex(v);
  elemvec_push(v, e);
}

void objvec_unindex(ObjVec *v) {
  std::free(v->by_num);
  v->by_num = nullptr;
}

// Sorts entry positions by (number, position) so that the first entry in
// table order for a number is the lower bound of that number. Without memory
// for the index, lookups fall back to a linear scan with the same result.
void objvec_index(ObjVec *v) {
  objvec_unindex(v);
  if (v->nelems <= 0) return;
  int *idx = static_cast<int *>(std::malloc(sizeof(int) * static_cast<std::size_t>(v->nelems)));
  if (!idx) return;
  std::iota(idx, idx + v->nelems, 0);
  const ObjEntry *e = v->elems;
  std::sort(idx, idx + v->nelems, [e](int a, int b) { return e[a].num != e[b].num ? e[a].num < e[b].num : a < b; });
  v->by_num = idx;
}

int obj_find(const ObjVec *v, int num) {
  if (v->by_num) {
    const ObjEntry *e = v->elems;
    const int *hit = std::lower_bound(v->by_num, v->by_num + v->nelems, num,
                                      [e](int idx, int n) { return e[idx].num < n; });
    if (hit != v->by_num + v->nelems && e[*hit].num == num) return *hit;
    return -1;
  }
  for (int i = 0; i < v->nelems; i++)
    if (v->elems[i].num == num) return i;
  return -1;
}

void objvec_free(ObjVec *v) {
  objvec_unindex(v);
  std::free(v->elems);
  *v = ObjVec{};
}

bool dict_range(const byte *pdf, int pdf_len, const ObjEntry &e, const byte **text, int *start, int *end) {
  if (e.in_objstm) {
    *text = e.os_text;
    *start = 0;
    *end = e.os_len;
    return e.os_text != nullptr;
  }
  if (e.dict_off < 0) return false;
  *text = pdf;
  *start = e.dict_off;
  *end = e.stream_off > 0 ? e.stream_off : e.endobj_off > 0 ? e.endobj_off : pdf_len;
  return true;
}

}  // namespace zyk
