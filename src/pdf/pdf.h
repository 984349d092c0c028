// PDF reading: scanning primitives over raw bytes, the loaded document and
// its object table, object-stream expansion and the page tree.
//
// There is no parsed object model. Every reader works on the bytes of the
// file image (or on an object's text taken out of an object stream) with the
// primitives below; positions and lengths are signed 32-bit byte offsets and
// -1 means "none".
#pragma once

#include "base/base.h"

namespace zyk {

using byte = unsigned char;

// ---- character classes ------------------------------------------------------

// PDF white space: NUL, HT, LF, FF, CR, SP.
inline bool is_pdf_ws(byte c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }
// The C runtime's white space in the default locale: HT, LF, VT, FF, CR, SP.
inline bool is_rt_ws(byte c) { return c == 32 || (c >= 9 && c <= 13); }
inline bool is_digit(byte c) { return c >= '0' && c <= '9'; }
// Word characters: ASCII letters and digits only.
inline bool is_word(byte c) { return is_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// A name continues over word characters and '_', '+', '-'.
inline bool is_name_cont(byte c) { return is_word(c) || c == '_' || c == '+' || c == '-'; }

// ---- scanning primitives ------------------------------------------------------

int skip_ws(const byte *t, int pos, int end);
int kw_at(const byte *t, int pos, int len, const char *kw);
int find_kw(const byte *t, int len, int start, const char *kw);
int find_name(const byte *t, int len, int start, int end, const char *name);
char *dict_text_at(const byte *t, int len, int pos);
// Position right after the ')' closing the literal string whose '(' is at
// i (nesting, backslash escapes), or -1 when the text ends inside it.
int literal_end(const byte *t, int len, int i);
int find_name_top(const byte *t, int len, int start, int end, const char *name);
int obj_type(const byte *t, int start, int end);
int dict_stream_kw(const byte *t, int len, int pos);
int parse_int_at(const byte *t, int len, int *pos);
int read_int_adv(const byte *t, int end, int *pos);
void parse_length(const byte *t, int len, int start, int end, int *direct, int *ref);

// ---- the object table -------------------------------------------------------------

// One indirect object. Offsets are into the file image; objects taken out of
// object streams have in_objstm = 1, all offsets -1 and their text in os_text.
struct ObjEntry {
  int num;
  int hdr_off;
  int dict_off;
  int stream_off;
  int data_off;
  int data_end;
  int endobj_off;
  int is_stream;
  int in_objstm;
  const byte *os_text;
  int os_len;
};

// The object table. Besides the entries in table order it may hold an index
// of entry positions sorted by (number, position), which answers "the first
// entry in table order with number N" in logarithmic time. The index is
// dropped whenever the table changes and rebuilt by objvec_index.
struct ObjVec : ElemVec<ObjEntry, 128> {
  int *by_num;
};

void objvec_push(ObjVec *v, const ObjEntry &e);
void objvec_index(ObjVec *v);
void objvec_unindex(ObjVec *v);
void objvec_free(ObjVec *v);
// Index of the first entry in table order with this number, or -1.
int obj_find(const ObjVec *v, int num);

// One page of the flattened page tree.
struct PageInfo {
  int num;
  int parent;
  int rotate;
  double box[4];
};

using PageVec = ElemVec<PageInfo, 64>;
inline void pagevec_push(PageVec *v, const PageInfo &p) { elemvec_push(v, p); }

// The loaded source document. Zero-filled means empty; doc_free returns a
// loaded or partly loaded document to that state.
struct Doc {
  byte *pdf;
  int pdf_len;
  char pdf_version[16];
  int encrypted;
  int root_num;
  ObjVec objs;
  Arena arena;
  PageVec pages;
  int catalog_num;
  int max_num;
};

int doc_load(const char *path, Doc *d);
void doc_free(Doc *d);

// Frees the document when the scope ends, whatever the load's outcome.
struct DocGuard {
  Doc d{};
  DocGuard() = default;
  DocGuard(const DocGuard &) = delete;
  DocGuard &operator=(const DocGuard &) = delete;
  ~DocGuard() { doc_free(&d); }
};

// The bytes in which an object's keys are looked for: for an object from an
// object stream its whole text; for a direct object with a dictionary the
// file from dict_off to stream_off (if positive), else to endobj_off (if
// positive), else to the end of the file. Returns false when the object has
// no dictionary. *text is the base the offsets refer to.
bool dict_range(const byte *pdf, int pdf_len, const ObjEntry &e, const byte **text, int *start, int *end);

// Expands every object stream of a document being loaded, appending the
// objects they hold to the table.
void objstm_expand(Doc *d);

// ---- page tree ------------------------------------------------------------------

inline constexpr int k_page_tree_max_depth = 256;

int resolve_pages(const byte *pdf, int pdf_len, const ObjVec *objs, int node, int max_num, PageVec *pages,
                  unsigned char *visited, int rotate);
void fill_pageinfo(const byte *pdf, int pdf_len, const ObjEntry &e, PageInfo *pi);
int obj_rotate_own(const byte *pdf, int pdf_len, const ObjEntry &e);
char *page_resources_dict_deep(const byte *pdf, int pdf_len, const ObjVec *objs, const byte *text, int end,
                               int depth);

}  // namespace zyk
