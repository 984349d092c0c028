// PDF reading: scanning primitives over raw bytes, the loaded document and
// its object table, object-stream expansion and the page tree.
//
// There is no parsed object model. Every reader works on the bytes of the
// file image (or on an object's text taken out of an object stream) with the
// primitives below; positions and lengths are signed 32-bit byte offsets and
// -1 means "none".
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/base.h"
#include "filter/filter.h"
#include "pdf/content.h"

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

// The whole-word positions (as kw_at and find_kw define them) of the five
// keywords the loader looks up, each list ascending, found in one pass.
struct FileKeywords {
  std::vector<int> obj, endobj, endstream, startxref, trailer;
};
void file_keywords(const byte *t, int len, FileKeywords *out);

// Position right after the ')' closing the literal string whose '(' is at
// i (nesting, backslash escapes), or -1 when the text ends inside it.
int literal_end(const byte *t, int len, int i);
int find_name_top(const byte *t, int len, int start, int end, const char *name);
int obj_type(const byte *t, int start, int end);
int dict_stream_kw(const byte *t, int len, int pos);
int parse_int_at(const byte *t, int len, int *pos);
int read_int_adv(const byte *t, int end, int *pos);
void parse_length(const byte *t, int len, int start, int end, int *direct, int *ref);

// ---- string tokens ---------------------------------------------------------------

// The bytes of the literal string token t[s, e) ("(" to the closing ")"):
// escapes, octal codes and line ends read by the PDF rules.
void literal_bytes(const byte *t, int s, int e, std::string *out);

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
  // The trailer's /Info object number (the document information
  // dictionary), -1 when no trailer names one.
  int info_num;
  ObjVec objs;
  Arena arena;
  PageVec pages;
  int catalog_num;
  int max_num;
  // The image belongs to the caller (doc_load_image): doc_free keeps it.
  int pdf_borrowed;
};

// How a protected file is loaded. Inspection sees it as stored (the load
// fails with the encrypted message); a conversion has it deciphered when the
// empty user password opens it, and the document then looks like an
// ordinary file to everyone who reads it.
enum class LoadMode { as_stored, decrypted };

// Loads a file. False with *err saying why (the Doc is then still to be
// freed, as DocGuard does).
[[nodiscard]] bool doc_load(const char *path, Doc *d, ErrorText *err, LoadMode mode = LoadMode::as_stored);
// Loads a file image the caller keeps (an output checked before it is
// written) as doc_load loads a file; the bytes must outlive the Doc.
[[nodiscard]] bool doc_load_image(const byte *data, int len, Doc *d, ErrorText *err);
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
[[nodiscard]] bool dict_range(const byte *pdf, int pdf_len, const ObjEntry &e, const byte **text, int *start, int *end);

// Expands every object stream of a document being loaded, appending the
// objects they hold to the table.
void objstm_expand(Doc *d);

// ---- the tokenizer (syntax.cpp) -------------------------------------------------
//
// A lexical walker over PDF object text: literal strings (nested, escaped),
// hexadecimal strings, comments, names, dictionaries and arrays are
// recognised so that nothing inside a string or a comment is ever taken for a
// reference or a key. Readers outside the loader take dictionaries, values
// and references through these.

inline bool is_delim(byte c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
         c == '%';
}
inline bool is_regular(byte c) { return !is_pdf_ws(c) && !is_delim(c); }

// White space and comments skipped from pos.
int skip_ws_comments(const byte *t, int pos, int len);
// End (exclusive) of the one value that starts at pos after white space and
// comments: a dictionary, array, string, name, reference "N G R" or other
// token. -1 when the text ends inside it or no value starts there.
int value_end(const byte *t, int pos, int len);
// The spans of a value's items: the members of an array, or the value
// itself when it is no array (a filter name, say, or one parameter
// dictionary).
std::vector<std::pair<int, int>> value_items(const byte *t, int s, int e);

// An indirect reference found in text: source number (-1 when the digits do
// not fit 31 bits) and the byte range from its first digit to after its R.
struct RefHit {
  int num;
  int start;
  int end;
};
// Every "N G R" outside strings and comments, with any PDF white space (at
// least one byte) between the parts and any generation.
void find_refs(const byte *t, int len, std::vector<RefHit> *out);

// A top-level entry of a dictionary: key name (at the slash) and value range.
struct DictEntry {
  int key;
  int key_end;
  int val;
  int val_end;
};
// Lists the entries of the dictionary whose "<<" is at pos; *close receives
// the position of its closing ">>". False when it does not close or does not
// hold name/value pairs.
[[nodiscard]] bool dict_entries(const byte *t, int pos, int len, std::vector<DictEntry> *out, int *close);
// True when the entry's key is exactly /name.
[[nodiscard]] bool key_is(const byte *t, const DictEntry &e, const char *name);
// The entry with key /name, or null.
const DictEntry *dict_find(const byte *t, const std::vector<DictEntry> &es, const char *name);
// The object number that the value t[s, e) names when it is one reference
// "N G R" (white space and comments may stand around it), else -1. A bare number
// or "N R" is no reference.
int value_ref(const byte *t, int s, int e);
// Nesting of dictionaries and arrays value_readable looks into.
inline constexpr int k_value_max_depth = 64;
// True when t[s, e) is one PDF object, with nothing but white space and
// comments after it, that reads faithfully: dictionaries of name and value
// pairs, closed arrays, and as other tokens only numbers, true, false, null
// and references "N G R" (so "N R" or an unknown keyword is unreadable).
// Nesting deeper than k_value_max_depth is unreadable too.
[[nodiscard]] bool value_readable(const byte *t, int s, int e, int depth = 0);
// True when [s, e) is exactly the given token (after white space).
[[nodiscard]] bool token_is(const byte *t, int s, int e, const char *tok);

// The text of one object's value: the dictionary of a stream (to its
// "stream" keyword), the value of any other object (after "N G obj"), or an
// object-stream member's whole value. False when there is none.
[[nodiscard]] bool object_text(const Doc &d, const ObjEntry &e, const byte **text, int *len);

// ---- the stream service (stream.cpp) ---------------------------------------------
//
// Every stream's data is decoded here, through its whole filter chain, under
// the limits of filter/filter.h: object streams while loading, metadata for
// inspection, content, fonts and CMaps for the conversion.

// How decoding one stream ended; `filter` names the filter that stopped it.
struct StreamResult {
  DecodeStatus status = DecodeStatus::done;
  FilterKind filter = FilterKind::unknown;
  bool damaged = false;  // a Flate stage delivered its data up to a fault only
  bool ok() const { return status == DecodeStatus::done; }
};

// The filter chain of a stream object: its /Filter names with their
// /DecodeParms (either may be an indirect object). `corrupt` when the
// dictionary does not parse or names no filter where one must stand.
[[nodiscard]] DecodeStatus stream_filters(const Doc &d, const ObjEntry &e, std::vector<FilterStep> *out);
// The same for a dictionary's entries es over text t. With inline_image
// the short keys of inline images count too: /F for /Filter, /DP for
// /DecodeParms (in a stream dictionary /F names an external file).
[[nodiscard]] DecodeStatus dict_filters(const Doc &d, const byte *t, const std::vector<DictEntry> &es,
                                        bool inline_image, std::vector<FilterStep> *out);

// Decodes a stream object's data into *out (replaced). A stream without
// /Filter comes back as stored.
[[nodiscard]] StreamResult stream_decode(const Doc &d, const ObjEntry &e, const DecodeLimits &limits,
                                         std::string *out);

// "FlateDecode: truncated data" and the like, for messages.
std::string stream_failure_text(const StreamResult &r);

// Decoded streams kept by object number, for callers that read one stream
// several times in a run (a form or font used on many pages). Failures are
// not kept: asking again decodes again and gives the same answer. Streams
// are kept while their total stays within max_bytes; a stream beyond that is
// handed out but decoded again when asked for again.
class StreamCache {
 public:
  explicit StreamCache(std::uint64_t max_bytes = ~std::uint64_t{0}) : max_bytes_(max_bytes) {}
  // The decoded data of e, decoded on first use; null with *r set when
  // decoding fails.
  std::shared_ptr<const std::string> get(const Doc &d, const ObjEntry &e, const DecodeLimits &limits,
                                         StreamResult *r);
  void clear() {
    by_num_.clear();
    kept_ = 0;
  }

 private:
  std::unordered_map<int, std::shared_ptr<const std::string>> by_num_;
  std::uint64_t max_bytes_;
  std::uint64_t kept_ = 0;
};


// ---- page tree ------------------------------------------------------------------

inline constexpr int k_page_tree_max_depth = 256;

int resolve_pages(const byte *pdf, int pdf_len, const ObjVec *objs, int node, int max_num, PageVec *pages,
                  unsigned char *visited, int rotate);
int obj_rotate_own(const byte *pdf, int pdf_len, const ObjEntry &e);

// How the search for the resource dictionary of a page ended.
enum class ResourcesFound { found, none, unreadable };
// The resource dictionary that applies to page object page_num: its own
// /Resources, else the nearest ancestor's, following at most max_links
// /Parent links. `found` gives the dictionary's text from its "<<" to its
// ">>" (inside the file image or an object-stream text, not a copy);
// `none` means that neither the page nor an ancestor names one; with
// `unreadable` *bad_obj is the object whose dictionary, /Resources or
// /Parent cannot be read.
[[nodiscard]] ResourcesFound page_resources_text(const Doc &d, int page_num, int max_links, const byte **text,
                                                 int *len, int *bad_obj);

}  // namespace zyk
