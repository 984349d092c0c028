// Document loading.
//
// The loader does not trust cross-reference data. It reads the whole file,
// takes three facts from the trailers (/Root, /Encrypt, and the /Prev chain
// of cross-reference streams), then finds every object by scanning for
// "N G obj" headers, measures each stream itself, drops objects that lie
// inside other streams' data, expands object streams, keeps one entry per
// object number (a direct object beats a compressed one, a later one beats an
// earlier one), chooses the catalog and flattens the page tree.
//
// Every forward keyword search the loader repeats per object ("endobj",
// "endstream", "trailer", "startxref") is answered from a sorted list of the
// keyword's whole-word positions, built for all five keywords in one
// pass over the file (file_keywords in scan.cpp). Whether a keyword
// stands at a position does not depend on where a search started, so the
// first listed position at or after the start is exactly what a byte-by-byte
// search would find, and no input makes these searches quadratic.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pdf/decrypt.h"
#include "pdf/pdf.h"
#include "pdf/stream_kw.h"

namespace zyk {

namespace {

constexpr int k_max_obj_num = 8388607;
constexpr int k_max_xref_stream_visits = 32;

// The trailer dictionaries that name /Encrypt, newest first (the
// cross-reference streams along the /Prev chain, then the classic trailers
// from the last in the file to the first), for the security handler. A
// linearized file splits the keys between two trailers: the last one may
// lack /ID and /Info, which the first-page trailer carries.
using TrailerWindows = std::vector<TrailerWindow>;

// Sorted whole-word positions of one keyword in the file image, taken from
// the one pass of file_keywords.
struct KwIndex {
  std::vector<int> pos;

  explicit KwIndex(std::vector<int> &&p) : pos(std::move(p)) {}
  // First position at or after `from`, or -1.
  int next(int from) const {
    auto it = std::lower_bound(pos.begin(), pos.end(), from);
    return it == pos.end() ? -1 : *it;
  }
};

// Positions where a name matches regardless of the window end: the '/' and
// the name's bytes followed by a byte that is not a name character, or by the
// end of the file.
std::vector<int> name_hits(const byte *t, int len, const char *name) {
  std::vector<int> hits;
  for (int q = find_name(t, len, 0, len, name); q >= 0; q = find_name(t, len, q + 1, len, name)) hits.push_back(q);
  return hits;
}

// Skips one byte after the name, then white space, and reads an integer:
// the way trailer /Root values are read.
int value_after_name(const byte *t, int len, int name_pos, int name_len) {
  int i = skip_ws(t, name_pos + 1 + name_len + 1, len);
  return parse_int_at(t, len, &i);
}

// ---- the file ----------------------------------------------------------

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};

bool read_file(const char *path, Doc *d, ErrorText &err) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path, "rb"));
  if (!f) {
    return err.fail("cannot open %s", path);
  }
  long size = -1;
  if (std::fseek(f.get(), 0, SEEK_END) == 0) size = std::ftell(f.get());
  if (size <= 0 || size > 0x7fffffffL || std::fseek(f.get(), 0, SEEK_SET) != 0) {
    return err.fail("empty input file: %s", path);
  }
  auto *buf = static_cast<byte *>(std::malloc(static_cast<std::size_t>(size)));
  if (!buf || std::fread(buf, 1, static_cast<std::size_t>(size), f.get()) != static_cast<std::size_t>(size)) {
    std::free(buf);
    return err.fail("read error on %s", path);
  }
  d->pdf = buf;
  d->pdf_len = static_cast<int>(size);
  return true;
}

// ---- trailers ------------------------------------------------------------

// Classic trailers after an "xref" keyword: every "trailer" dictionary to the
// end of the file, each searched up to the next "startxref". The last trailer
// with a readable /Root wins; /Encrypt in any of them marks the file.
void read_classic_trailers(Doc *d, int xref_pos, const KwIndex &trailers, const KwIndex &startxrefs,
                           TrailerWindows *ew) {
  const byte *t = d->pdf;
  int len = d->pdf_len;
  // /Root and /Encrypt candidates with their values, found once: a window
  // always ends at a whole-word "startxref" (preceded by a non-word byte) or
  // at the end of the file, so a name match never depends on the window end.
  std::vector<int> roots;
  for (int q : name_hits(t, len, "Root"))
    if (value_after_name(t, len, q, 4) >= 0) roots.push_back(q);
  std::vector<int> infos;
  for (int q : name_hits(t, len, "Info"))
    if (value_after_name(t, len, q, 4) >= 0) infos.push_back(q);
  std::vector<int> encrypts = name_hits(t, len, "Encrypt");
  const std::size_t first_classic = ew->size();
  for (int p = trailers.next(xref_pos + 4); p >= 0; p = trailers.next(p + 1)) {
    int s = skip_ws(t, p + 7, len);
    if (s >= len || t[s] != '<') continue;
    int w = startxrefs.next(s);
    if (w < 0) w = len;
    auto r = std::lower_bound(roots.begin(), roots.end(), s);
    if (r != roots.end() && *r + 5 <= w) d->root_num = value_after_name(t, len, *r, 4);
    auto in = std::lower_bound(infos.begin(), infos.end(), s);
    if (in != infos.end() && *in + 5 <= w) d->info_num = value_after_name(t, len, *in, 4);
    auto e = std::lower_bound(encrypts.begin(), encrypts.end(), s);
    if (e != encrypts.end() && *e + 8 <= w) {
      d->encrypted = 1;
      ew->push_back({s, w});
    }
  }
  std::reverse(ew->begin() + static_cast<std::ptrdiff_t>(first_classic), ew->end());
}

void read_trailers(Doc *d, const KwIndex &startxrefs, const KwIndex &trailers, TrailerWindows *ew) {
  const byte *t = d->pdf;
  int len = d->pdf_len;
  if (startxrefs.pos.empty()) return;
  int i = startxrefs.pos.back() + 9;
  int off = parse_int_at(t, len, &i);
  if (off < 0 || off >= len) return;
  for (int visits = 0;;) {
    int p = skip_ws(t, off, len);
    if (p >= len) return;
    if (kw_at(t, p, len, "xref")) {
      read_classic_trailers(d, p, trailers, startxrefs, ew);
      return;
    }
    if (!is_digit(t[p])) return;
    if (visits++ >= k_max_xref_stream_visits) return;
    // A cross-reference stream object: "N [G] obj <<...>> stream".
    int q = p;
    while (q < len && is_digit(t[q])) q++;
    q = skip_ws(t, q, len);
    if (q < len && is_digit(t[q])) {
      parse_int_at(t, len, &q);
      q = skip_ws(t, q, len);
    }
    if (!kw_at(t, q, len, "obj")) return;
    int body = skip_ws_comments(t, q + 3, len);
    int w = len;
    if (body < len && t[body] == '<') {
      int s = dict_stream_kw(t, len, body);
      if (s > 0) w = s;
    }
    int next = -1;
    int prev = find_name(t, len, body, w, "Prev");
    if (prev >= 0) {
      int k = skip_ws(t, prev + 5, w);
      int v = parse_int_at(t, w, &k);
      if (v >= 0 && v < len) next = v;
    }
    if (d->root_num == -1) {
      int r = find_name(t, len, body, w, "Root");
      if (r >= 0) {
        int k = skip_ws(t, r + 6, w);
        int v = parse_int_at(t, w, &k);
        if (v >= 0) d->root_num = v;
      }
    }
    if (d->info_num == -1) {
      int r = find_name(t, len, body, w, "Info");
      if (r >= 0) {
        int k = skip_ws(t, r + 5, w);
        int v = parse_int_at(t, w, &k);
        if (v >= 0) d->info_num = v;
      }
    }
    if (find_name(t, len, body, w, "Encrypt") >= 0) {
      d->encrypted = 1;
      ew->push_back({body, w});
    }
    if (next < 0) return;
    off = next;
  }
}

// ---- version ---------------------------------------------------------------

void read_version(Doc *d) {
  const byte *t = d->pdf;
  int len = d->pdf_len;
  for (int i = 0; i + 7 < len && i < 1024; i++) {
    if (i > 0 && is_word(t[i - 1])) continue;
    if (std::memcmp(t + i, "%PDF-", 5) != 0) continue;
    int n = 0;
    int j = i + 5;
    if (j < len && is_digit(t[j]) && n < 15) d->pdf_version[n++] = static_cast<char>(t[j++]);
    if (j < len && t[j] == '.' && n < 15) d->pdf_version[n++] = static_cast<char>(t[j++]);
    while (j < len && is_digit(t[j]) && n < 15) d->pdf_version[n++] = static_cast<char>(t[j++]);
    d->pdf_version[n] = 0;
    return;
  }
}

// ---- object headers ----------------------------------------------------------

// Reads "N G" backwards from the "obj" keyword at p. Returns the object
// number (> 0) and its first digit's offset, or 0 when there is no header.
int header_before(const byte *t, int p, int *hdr_off) {
  int i = p - 1;
  while (i >= 0 && is_rt_ws(t[i])) i--;
  if (i < 0 || !is_digit(t[i])) return 0;
  while (i >= 0 && is_digit(t[i])) i--;  // generation
  int j = i;
  while (j >= 0 && is_rt_ws(t[j])) j--;
  if (j == i || j < 0 || !is_digit(t[j])) return 0;
  int last = j;
  while (j >= 0 && is_digit(t[j])) j--;
  if (j >= 0 && is_word(t[j])) return 0;
  std::uint32_t v = 0;
  for (int k = j + 1; k <= last; k++) v = v * 10u + static_cast<std::uint32_t>(t[k] - '0');
  int num = static_cast<int>(v);
  if (num <= 0) return 0;
  *hdr_off = j + 1;
  return num;
}

// Where stream data begins after the "stream" keyword at s: after CR LF, a
// lone CR or a lone LF (spaces and tabs before it allowed); otherwise one
// end-of-line byte is assumed.
int stream_data_start(const byte *t, int len, int s) {
  if (s + 6 >= len) return s + 6;
  int i = s + 6;
  while (i < len && (t[i] == ' ' || t[i] == '\t')) i++;
  if (i + 1 < len && t[i] == '\r' && t[i + 1] == '\n') return i + 2;
  if (i < len && (t[i] == '\r' || t[i] == '\n')) return i + 1;
  return s + 7;
}

void scan_objects(Doc *d, const KwIndex &objs, const KwIndex &endobjs) {
  const byte *t = d->pdf;
  int len = d->pdf_len;
  StreamKwFinder streams(t, len);
  for (std::size_t k = 0; k < objs.pos.size(); k++) {
    int p = objs.pos[k];
    if (p > len - 4) break;
    int hdr = -1;
    int num = header_before(t, p, &hdr);
    if (num <= 0) continue;
    ObjEntry e{num, hdr, -1, -1, -1, -1, -1, 0, 0, nullptr, 0};
    int b = skip_ws_comments(t, p + 3, len);
    if (b < len && t[b] == '<') {
      e.dict_off = b;
      int next_obj = k + 1 < objs.pos.size() ? objs.pos[k + 1] : len;
      int s = streams.find(b, next_obj);
      if (s >= 0) {
        e.is_stream = 1;
        e.stream_off = s;
        e.data_off = stream_data_start(t, len, s);
        objvec_push(&d->objs, e);
        continue;
      }
      e.endobj_off = endobjs.next(b);
    } else {
      e.endobj_off = endobjs.next(p + 3);
    }
    if (e.endobj_off >= 0) objvec_push(&d->objs, e);
  }
}

// ---- stream lengths --------------------------------------------------------------

// The integer value of a direct object ("N G obj 1234"), or -1.
int object_int_value(const byte *t, int len, const ObjEntry &e) {
  int i = e.hdr_off;
  if (i < 0) return -1;
  parse_int_at(t, len, &i);
  i = skip_ws(t, i, len);
  if (i < len && is_digit(t[i])) {
    parse_int_at(t, len, &i);
    i = skip_ws(t, i, len);
  }
  if (kw_at(t, i, len, "obj")) i = skip_ws(t, i + 3, len);
  return parse_int_at(t, len, &i);
}

void measure_streams(Doc *d, const KwIndex &endobjs, const KwIndex &endstreams) {
  const byte *t = d->pdf;
  int len = d->pdf_len;
  ObjVec *objs = &d->objs;
  objvec_index(objs);
  for (int k = 0; k < objs->nelems; k++) {
    ObjEntry &e = objs->elems[k];
    if (!e.is_stream) continue;
    int direct = -1;
    int ref = -1;
    parse_length(t, len, e.dict_off, e.stream_off, &direct, &ref);
    // A length that cannot be read here (none given, or an object that is
    // not in the file's own text, typically one inside an object stream,
    // which is expanded only later) does not make the stream unreadable:
    // its end is found at "endstream" like that of a wrong length.
    // Dropping such streams lost the images and patterns of whole
    // documents.
    long long L = direct;
    if (direct < 0 && ref >= 0) {
      int r = obj_find(objs, ref);
      L = r < 0 || objs->elems[r].is_stream ? -1 : object_int_value(t, len, objs->elems[r]);
    }
    long long end = L < 0 ? len : static_cast<long long>(e.data_off) + L;
    bool found = false;
    if (end < len) {
      int i = static_cast<int>(end);
      while (i < len && is_rt_ws(t[i])) i++;
      if (i <= len - 9 && std::memcmp(t + i, "endstream", 9) == 0) {
        e.data_end = static_cast<int>(end);
        found = true;
      }
    }
    if (!found) {
      int s = endstreams.next(e.data_off + 1);
      if (s < 0) {
        e.data_end = len;
      } else {
        int de = s;
        if (de > 0 && t[de - 1] == '\n') {
          de--;
          if (de - 1 >= e.data_off && de > 0 && t[de - 1] == '\r') de--;
        } else if (de > 0 && t[de - 1] == '\r') {
          de--;
        }
        e.data_end = de;
      }
    }
    if (e.data_end < e.data_off) e.data_end = e.data_off;
    e.endobj_off = endobjs.next(e.data_end + 1);
  }
  objvec_unindex(objs);
}

// ---- nested and broken entries ---------------------------------------------------

void drop_nested(Doc *d) {
  ObjVec *objs = &d->objs;
  struct Range {
    int start;
    int end;
  };
  std::vector<Range> ranges;
  for (int i = 0; i < objs->nelems; i++) {
    const ObjEntry &e = objs->elems[i];
    if (e.is_stream && e.data_off >= 0 && e.data_off < e.data_end) ranges.push_back({e.data_off, e.data_end});
  }
  std::sort(ranges.begin(), ranges.end(), [](const Range &a, const Range &b) { return a.start < b.start; });
  std::vector<int> max_end(ranges.size());
  int running = -1;
  for (std::size_t i = 0; i < ranges.size(); i++) {
    running = std::max(running, ranges[i].end);
    max_end[i] = running;
  }
  auto inside = [&](int off) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), off, [](int v, const Range &r) { return v < r.start; });
    if (it == ranges.begin()) return false;
    return off < max_end[static_cast<std::size_t>(it - ranges.begin()) - 1];
  };
  for (int i = 0; i < objs->nelems;) {
    const ObjEntry &e = objs->elems[i];
    if ((e.is_stream && e.endobj_off < 0) || inside(e.hdr_off)) {
      objs->elems[i] = objs->elems[objs->nelems - 1];
      objs->nelems--;
      continue;
    }
    i++;
  }
}

// ---- one entry per number ---------------------------------------------------------

bool is_objstm_container(const Doc *d, const ObjEntry &e) {
  if (e.in_objstm || !e.is_stream) return false;
  int end = e.stream_off > 0 ? e.stream_off : d->pdf_len;
  return find_name(d->pdf, d->pdf_len, e.dict_off, end, "ObjStm") >= 0;
}

// For each number keeps the last direct entry in table order, or, when there
// is no direct entry, the last entry from an object stream. Object streams
// themselves and numbers above the limit are dropped; the kept entries stay in
// table order.
void keep_one_per_number(Doc *d) {
  ObjVec *objs = &d->objs;
  int n = objs->nelems;
  std::vector<int> order;
  order.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; i++)
    if (objs->elems[i].num <= k_max_obj_num) order.push_back(i);
  const ObjEntry *el = objs->elems;
  std::stable_sort(order.begin(), order.end(), [el](int a, int b) { return el[a].num < el[b].num; });
  std::vector<char> keep(static_cast<std::size_t>(n), 0);
  for (std::size_t g = 0; g < order.size();) {
    std::size_t h = g;
    int last_direct = -1;
    int last_os = -1;
    while (h < order.size() && el[order[h]].num == el[order[g]].num) {
      const ObjEntry &e = el[order[h]];
      if (e.in_objstm)
        last_os = order[h];
      else if (!is_objstm_container(d, e))
        last_direct = order[h];
      h++;
    }
    if (last_direct >= 0)
      keep[static_cast<std::size_t>(last_direct)] = 1;
    else if (last_os >= 0)
      keep[static_cast<std::size_t>(last_os)] = 1;
    g = h;
  }
  int w = 0;
  int max_num = 0;
  for (int i = 0; i < n; i++) {
    if (!keep[static_cast<std::size_t>(i)]) continue;
    objs->elems[w++] = objs->elems[i];
    max_num = std::max(max_num, objs->elems[i].num);
  }
  objs->nelems = w;
  d->max_num = max_num;
  objvec_index(objs);
}

// ---- catalog and page-tree root --------------------------------------------

// The text in which the catalog's keys are searched: the whole object text,
// or for a direct object its bytes from the dictionary to "endobj" (wider
// than object_text, which is the value alone: a catalog whose dictionary
// is cut short is still searched to its "endobj").
bool catalog_search_text(const Doc *d, const ObjEntry &e, const byte **text, int *start, int *end) {
  if (e.in_objstm) {
    *text = e.os_text;
    *start = 0;
    *end = e.os_len;
    return true;
  }
  if (e.dict_off < 0) return false;
  *text = d->pdf;
  *start = e.dict_off;
  *end = e.endobj_off > 0 ? e.endobj_off : d->pdf_len;
  return true;
}

int choose_catalog(const Doc *d) {
  const ObjVec *objs = &d->objs;
  if (d->root_num >= 0 && obj_find(objs, d->root_num) >= 0) return d->root_num;
  for (int i = 0; i < objs->nelems; i++) {
    const ObjEntry &e = objs->elems[i];
    const byte *text;
    int s, end;
    if (e.in_objstm && e.os_len <= 7) continue;
    if (!catalog_search_text(d, e, &text, &s, &end)) continue;
    if (find_name(text, end, s, end, "Catalog") >= 0) return e.num;
  }
  return 1;
}

// Returns the page-tree root's number, or -1 after setting the error text.
int find_pages_root(const Doc *d, ErrorText &err) {
  int ci = obj_find(&d->objs, d->catalog_num);
  if (ci < 0) {
    (void)err.fail("catalog (obj %d) has no /Pages reference", d->catalog_num);
    return -1;
  }
  const ObjEntry &e = d->objs.elems[ci];
  const byte *text;
  int s, end;
  if (dict_range(d->pdf, d->pdf_len, e, &text, &s, &end)) {
    int ty = obj_type(text, s, end);
    if (ty == 1 || ty == 2) return d->catalog_num;
  }
  if (catalog_search_text(d, e, &text, &s, &end)) {
    for (int p = find_name(text, end, s, end, "Pages"); p >= 0; p = find_name(text, end, p + 1, end, "Pages")) {
      int i = skip_ws(text, p + 7, end);
      int v = parse_int_at(text, end, &i);
      if (v > 0) return v;
    }
  }
  (void)err.fail("catalog (obj %d) has no /Pages reference", d->catalog_num);
  return -1;
}

// The scans over the file image: trailers, version, the object scan,
// stream lengths, nested and broken entries.
void scan_image(Doc *d, TrailerWindows *ew) {
  const byte *t = d->pdf;
  int len = d->pdf_len;
  FileKeywords kws;
  file_keywords(t, len, &kws);
  const KwIndex startxrefs(std::move(kws.startxref)), trailers(std::move(kws.trailer)), objs(std::move(kws.obj)),
      endobjs(std::move(kws.endobj)), endstreams(std::move(kws.endstream));
  read_trailers(d, startxrefs, trailers, ew);
  read_version(d);
  scan_objects(d, objs, endobjs);
  measure_streams(d, endobjs, endstreams);
  drop_nested(d);
}

// Replaces a protected file by its deciphered image and scans that instead
// (see decrypt.cpp). The image has no /Encrypt, so the loaded document is
// an ordinary one. Returns false, after setting the error text, when the
// file needs a password or its handler is not understood.
bool open_protected(const char *path, Doc *d, const TrailerWindows &ew, ErrorText &err) {
  std::string image;
  if (!decrypted_image(*d, ew, &image)) {
    return err.fail("encrypted PDFs are not supported: %s", path);
  }
  auto *buf = static_cast<byte *>(std::malloc(image.size()));
  if (!buf) {
    return err.fail("out of memory");
  }
  std::memcpy(buf, image.data(), image.size());
  doc_free(d);
  d->root_num = -1;
  d->info_num = -1;
  d->catalog_num = -1;
  d->pdf = buf;
  d->pdf_len = static_cast<int>(image.size());
  TrailerWindows none;
  scan_image(d, &none);
  return true;
}

bool image_steps(const char *path, Doc *d, LoadMode mode, ErrorText &err);

bool load_steps(const char *path, Doc *d, LoadMode mode, ErrorText &err) {
  if (!path) {
    return err.fail("NULL path argument");
  }
  if (!read_file(path, d, err)) return false;
  return image_steps(path, d, mode, err);
}

// Everything after reading: the file image is in d->pdf; `path` only names
// it in messages.
bool image_steps(const char *path, Doc *d, LoadMode mode, ErrorText &err) {
  TrailerWindows ew;
  scan_image(d, &ew);
  if (d->encrypted && mode == LoadMode::decrypted && !open_protected(path, d, ew, err)) return false;
  const byte *t = d->pdf;
  int len = d->pdf_len;
  objstm_expand(d);
  keep_one_per_number(d);

  if (d->objs.failed) {
    return err.fail("out of memory");
  }
  if (d->objs.nelems == 0) {
    return err.fail("no PDF objects found \xE2\x80\x94 not a PDF: %s", path);
  }
  if (d->encrypted) {
    return err.fail("encrypted PDFs are not supported: %s", path);
  }

  d->catalog_num = choose_catalog(d);
  int root = find_pages_root(d, err);
  if (root < 0) return false;

  auto *visited = static_cast<unsigned char *>(std::calloc(static_cast<std::size_t>(d->max_num) + 1, 1));
  if (!visited) {
    return err.fail("out of memory");
  }
  int r = resolve_pages(t, len, &d->objs, root, d->max_num, &d->pages, visited, 0);
  std::free(visited);
  if (d->pages.failed) {
    return err.fail("out of memory");
  }
  if (r == -2) {
    return err.fail("page tree uses inline page dictionaries in /Kids \xE2\x80\x94 pages must be indirect objects");
  }
  if (r < 0) {
    return err.fail("could not resolve the page tree (obj %d is not a /Pages or /Page object, or tree is broken)",
                    root);
  }
  if (r == 0) {
    return err.fail("document has no pages");
  }
  return true;
}

}  // namespace

bool doc_load(const char *path, Doc *d, ErrorText *err, LoadMode mode) {
  *d = Doc{};
  d->root_num = -1;
  d->info_num = -1;
  d->catalog_num = -1;
  return load_steps(path, d, mode, *err);
}

bool doc_load_image(const byte *data, int len, Doc *d, ErrorText *err) {
  *d = Doc{};
  d->root_num = -1;
  d->info_num = -1;
  d->catalog_num = -1;
  if (!data || len <= 0) {
    return err->fail("empty input file: %s", "(memory)");
  }
  // The loader only reads the image; doc_free leaves a borrowed one alone.
  d->pdf = const_cast<byte *>(data);
  d->pdf_len = len;
  d->pdf_borrowed = 1;
  return image_steps("(memory)", d, LoadMode::as_stored, *err);
}

void doc_free(Doc *d) {
  if (!d->pdf_borrowed) std::free(d->pdf);
  arena_free(&d->arena);
  objvec_free(&d->objs);
  elemvec_free(&d->pages);
  *d = Doc{};
}

}  // namespace zyk
