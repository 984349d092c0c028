// The conversion driver: the order of the whole run, the numbering, the
// header, catalog and page tree, the cross-reference table and the trailer.
//
// Nothing reaches the disk before the whole output is built in memory; the
// file is then written through a temporary file and a rename, so every
// failure leaves no output file and never damages an existing one.
//
// The file ends with
//   xref            one 20-byte entry per number 0 ... H
//   trailer         /Size H + 1, /Root, /Info and /ID
//   startxref       the keyword, the offset of "xref" and %%EOF each on
//                   their own line, as strict readers require.
// /ID holds two equal 16-byte identifiers: the 128-bit MurmurHash3 of every
// byte before the trailer (seed 0). The output carries no time or
// randomness, so converting the same input twice gives byte-identical
// files, and outputs that differ anywhere get different identifiers. The
// identifier only has to name the file, so a fast non-cryptographic hash
// serves.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "crypt/crypt.h"
#include "flate/flate.h"
#include "writer/writer.h"

namespace zyk {

// ---- Out ----------------------------------------------------------------------------

void Out::bytes(const void *p, std::uint64_t n) {
  if (failed) return;
  buf_bytes(&b, p, n);
  if (!b.chars || b.used > k_max_output) failed = true;
}

void Out::str(const char *s) { bytes(s, std::strlen(s)); }

void Out::printf(const char *fmt, ...) {
  if (failed) return;
  char small[512];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) {
    failed = true;
    return;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    bytes(small, static_cast<std::uint64_t>(n));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  std::vsnprintf(big.data(), big.size(), fmt, ap);
  va_end(ap);
  bytes(big.data(), static_cast<std::uint64_t>(n));
}

void Out::begin_obj(int num) {
  if (num < 0) return;
  if (static_cast<std::size_t>(num) >= offsets.size()) offsets.resize(static_cast<std::size_t>(num) + 1, k_unwritten);
  offsets[static_cast<std::size_t>(num)] = b.used;
  printf("%d 0 obj\n", num);
}

void Out::stream_obj(int num, const std::string &dict, const void *data, std::uint64_t n) {
  begin_obj(num);
  str(dict);
  str("\nstream\n");
  bytes(data, n);
  str("\nendstream\nendobj\n");
}

// The writer's compression effort: eight hash-chain candidates and a stop
// at 32-byte matches compress page content about twice as fast as the
// encoder's full effort (128, 258) for 3-5% more bytes, which keeps
// compression a small part of a conversion's time.
constexpr DeflateEffort k_output_effort{8, 32};

void Out::packed_stream_obj(int num, const std::string &entries, const void *data, std::uint64_t n) {
  const std::string plain = "<<" + entries + " /Length " + std::to_string(n) + " >>";
  unsigned char *packed = nullptr;
  std::uint64_t packed_len = 0;
  if (n >= k_pack_min && !failed &&
      sx_deflate(static_cast<const unsigned char *>(data), n, &packed, &packed_len, k_output_effort) == 0) {
    std::unique_ptr<unsigned char, void (*)(void *)> owner(packed, std::free);
    const std::string filtered =
        "<<" + entries + " /Length " + std::to_string(packed_len) + " /Filter /FlateDecode >>";
    if (filtered.size() + packed_len < plain.size() + n) {
      stream_obj(num, filtered, packed, packed_len);
      return;
    }
  }
  stream_obj(num, plain, data, n);
}

// ---- numbers ------------------------------------------------------------------------

// std::to_chars writes what printf's "%ld" and "%.4f" write (the exact
// value, correctly rounded, ties to even) at a fraction of the cost; the
// text is cut at 63 characters as the 64-byte printf buffer cut it, so even
// an absurd value is written as before.
std::string format_num(double v) {
  char buf[400];
  std::to_chars_result r;
  if (!std::isnan(v) && v >= -2147483648.0 && v <= 2147483647.0 && v == std::trunc(v))
    r = std::to_chars(buf, buf + sizeof buf, static_cast<long>(v));
  else
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
  return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(r.ptr - buf), 63));
}

// ---- the run ------------------------------------------------------------------------

namespace {

bool out_of_memory(Context &ctx) { return ctx.err.fail("out of memory"); }

// The output would not be PDF/A of its part: nothing is written.
bool refuse(const Transfer &x) { return x.ctx->err.fail("%s", x.refusal.c_str()); }

int node_count(const Numbering &nb) { return nb.per_node ? (nb.npages + nb.per_node - 1) / nb.per_node : 0; }

// The page tree. Up to k_max_array pages the root lists them all; beyond,
// no array may hold them, so the root lists intermediate nodes of equal
// size (at most k_max_array pages each; 100000 pages need 13), which are
// written at the end of the file (write_page_nodes).
// `extra` holds further catalog entries (output numbering).
void write_header_catalog_tree(const Numbering &nb, const NavPlan &nav, const std::string &extra, Out *out) {
  out->str("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  out->begin_obj(1);
  out->printf("<< /Type /Catalog /Pages 2 0 R /Metadata %d 0 R /OutputIntents [ %d 0 R ]%s%s >>\nendobj\n",
              nb.metadata(), nb.output_intent(), nav_catalog_entries(nav).c_str(), extra.c_str());
  out->begin_obj(2);
  out->printf("<< /Type /Pages /Count %d /Kids [", nb.npages);
  if (nb.per_node) {
    for (int j = 0; j < node_count(nb); j++) out->printf(j ? " %d 0 R" : "%d 0 R", nb.first_node + j);
  } else {
    for (int i = 0; i < nb.npages; i++) out->printf(i ? " %d 0 R" : "%d 0 R", nb.page_obj(i));
  }
  out->str("]>>\nendobj\n");
}

void write_page_nodes(const Numbering &nb, Out *out) {
  for (int j = 0; j < node_count(nb); j++) {
    const int first = j * nb.per_node, last = std::min(nb.npages, first + nb.per_node);
    out->begin_obj(nb.first_node + j);
    out->printf("<< /Type /Pages /Parent 2 0 R /Count %d /Kids [", last - first);
    for (int i = first; i < last; i++) out->printf(i > first ? " %d 0 R" : "%d 0 R", nb.page_obj(i));
    out->str("]>>\nendobj\n");
  }
}

void write_xref_trailer(const Numbering &nb, Out *out) {
  const std::size_t size = out->offsets.size();  // H + 1
  const std::uint64_t xref = out->size();
  out->printf("xref\n0 %zu\n0000000000 65535 f \n", size);
  for (std::size_t k = 1; k < size; k++) {
    if (out->offsets[k] == Out::k_unwritten)
      out->str("0000000000 65535 f \n");
    else
      out->printf("%010llu 00000 n \n", static_cast<unsigned long long>(out->offsets[k]));
  }
  if (out->failed) return;
  unsigned char id[16];
  murmur3_128(out->b.chars, out->b.used, 0, id);
  static constexpr char k_hex[] = "0123456789abcdef";
  char hex[33];
  for (int i = 0; i < 16; i++) {
    hex[2 * i] = k_hex[id[i] >> 4];
    hex[2 * i + 1] = k_hex[id[i] & 15];
  }
  hex[32] = 0;
  out->printf("trailer\n<< /Size %zu /Root 1 0 R /Info %d 0 R /ID [<%s><%s>] >>\nstartxref\n%llu\n", size, nb.info(),
              hex, hex, static_cast<unsigned long long>(xref));
  out->str("%%EOF\n");
}

}  // namespace

namespace {

// For each page, the earlier page whose form XObject draws it (-1: none):
// one that names the same content streams with the same resources, box and
// rotation, and where neither paints annotations into its content. Content
// shared by many pages is then rewritten, compressed and written once.
std::vector<int> shared_page_forms(const Doc &d, const std::vector<PageWork> &work, Transfer *x) {
  const int n = d.pages.nelems;
  std::vector<int> drawn_by(static_cast<std::size_t>(n), -1);
  // Earlier pages by content key; a few candidates per key suffice (pages
  // sharing content usually share everything else too).
  constexpr std::size_t k_candidates = 8;
  std::unordered_map<std::string, std::vector<int>> by_contents;
  auto frame = [&](int i, double box[4]) {
    page_box(d, d.pages.elems[i], box, &x->page_nodes);
    return page_rotation(d, d.pages.elems[i], &x->page_nodes);
  };
  for (int i = 0; i < n; i++) {
    const PageWork &w = work[static_cast<std::size_t>(i)];
    if (!w.annot_paint.empty()) continue;
    std::string key = page_contents_key(d, d.pages.elems[i]);
    if (key.empty()) continue;
    std::vector<int> &earlier = by_contents[key];
    double box[4] = {}, other[4] = {};
    const int r = earlier.empty() ? 0 : frame(i, box);
    for (int j : earlier) {
      const PageWork &v = work[static_cast<std::size_t>(j)];
      if (v.has_res != w.has_res || v.res != w.res || frame(j, other) != r ||
          std::memcmp(box, other, sizeof box) != 0)
        continue;
      drawn_by[static_cast<std::size_t>(i)] = j;
      break;
    }
    if (drawn_by[static_cast<std::size_t>(i)] < 0 && earlier.size() < k_candidates) earlier.push_back(i);
  }
  return drawn_by;
}

}  // namespace

bool pdfa_convert_core(Context &ctx, const Doc *d, const char *out_path, int part) {
  if (!out_path) {
    return ctx.err.fail("NULL output path");
  }
  const int n = d->pages.nelems;
  if (n < 1) {
    return ctx.err.fail("document has no pages");
  }
  if (n > k_max_pages) {
    return ctx.err.fail("too many pages (%ld)", static_cast<long>(n));
  }
  Numbering nb{n, 3 * n + 3};

  // First pass: resources and everything they reach.
  Transfer x;
  transfer_init(&x, &ctx, d, nb);
  x.part = part;
  // Optional content: part 2 keeps the source's layers, and readers show
  // or hide them; part 1 has none, so what is off by default is left out
  // of the pages (as it is when the layers cannot be kept).
  std::set<int> oc_off;
  optional_content_off(*d, &oc_off);
  std::string oc_kept = part == 2 ? optional_content_kept(*d) : "";
  if (oc_kept.empty()) x.oc_off = oc_off;
  // Outlines, labels and the links kept as links, read before the pages'
  // annotations are painted (kept links are not).
  NavPlan nav;
  nav_collect(*d, nb, &nav);
  // Fields of a form that asks viewers to draw them are drawn from their values.
  const FieldForm form = field_form(*d);
  std::vector<PageWork> work(static_cast<std::size_t>(n));
  for (int i = 0; i < n; i++) {
    const PageInfo &pi = d->pages.elems[i];
    if (obj_find(&d->objs, pi.num) < 0) {
      return ctx.err.fail("page object %ld missing", static_cast<long>(pi.num));
    }
    PageWork &w = work[static_cast<std::size_t>(i)];
    w.kept_links = nav.kept[static_cast<std::size_t>(i)];
    w.oc_off = &oc_off;
    w.form = &form;
    if (!page_resources(ctx, *d, pi, i + 1, &w)) return false;
    x.as_form.insert(w.annot_forms.begin(), w.annot_forms.end());
    x.page = i + 1;
    if (w.has_res &&
        !transfer_collect(&x, reinterpret_cast<const byte *>(w.res.data()), static_cast<int>(w.res.size())))
      return out_of_memory(ctx);
    if (!x.refusal.empty()) return refuse(x);
    if (w.has_res)
      w.res = conform_text(x, reinterpret_cast<const byte *>(w.res.data()), static_cast<int>(w.res.size()), 0);
  }
  std::string catalog_extra;
  if (!oc_kept.empty()) {
    // What the layers name (their groups and whatever those refer to) is
    // copied after everything the pages reach.
    x.page = 1;
    const auto *text = reinterpret_cast<const byte *>(oc_kept.data());
    if (!transfer_collect(&x, text, static_cast<int>(oc_kept.size()))) return out_of_memory(ctx);
    if (!x.refusal.empty()) return refuse(x);
    oc_kept = conform_text(x, text, static_cast<int>(oc_kept.size()), 0);
  }
  if (x.map.failed) return out_of_memory(ctx);

  // Second pass: the output, in increasing object number.
  std::size_t highest = static_cast<std::size_t>(nb.first_copied()) - 1 + x.order.size();
  if (x.cmyk_used) {
    x.nb.cmyk_icc = nb.cmyk_icc = static_cast<int>(highest) + 1;
    highest += 2;
    int k = objmap_find(&x.map, k_cmyk_space_key);
    if (k >= 0) x.map.vals[k] = nb.cmyk_space();
  }
  if (n > k_max_array) {
    const int nodes = (n + k_max_array - 1) / k_max_array;
    x.nb.per_node = nb.per_node = (n + nodes - 1) / nodes;
    x.nb.first_node = nb.first_node = static_cast<int>(highest) + 1;
    highest += static_cast<std::size_t>(nodes);
  }
  // The navigation objects come last.
  highest += static_cast<std::size_t>(nav_number(&nav, static_cast<int>(highest) + 1));
  for (int i = 0; i < n; i++) work[static_cast<std::size_t>(i)].annots = nav_page_annots(nav, i);
  Out out;
  out.offsets.assign(highest + 1, Out::k_unwritten);
  if (!oc_kept.empty()) {
    std::string remapped;
    remap_refs(x, reinterpret_cast<const byte *>(oc_kept.data()), static_cast<int>(oc_kept.size()), &remapped);
    catalog_extra = " /OCProperties " + remapped;
  }
  write_header_catalog_tree(nb, nav, catalog_extra, &out);
  const std::vector<int> drawn_by = shared_page_forms(*d, work, &x);
  std::vector<ContentFindings> found(static_cast<std::size_t>(n));
  for (int i = 0; i < n && !out.failed; i++) {
    const auto k = static_cast<std::size_t>(i);
    if (!write_page(*d, i, work[k], x, &out, &found[k], drawn_by[k])) return false;
    if (drawn_by[k] >= 0) found[k] = found[static_cast<std::size_t>(drawn_by[k])];
  }
  // Every content stream is rewritten before the font objects list the
  // glyphs that rewriting marks.
  if (!transfer_prepare(&x)) return false;
  if (!x.refusal.empty()) return refuse(x);
  // The q nesting a reader reaches on each page: the page's content is
  // painted inside one q (two with annotations), annotation appearances
  // inside two, and forms and patterns add theirs below the depth they are
  // painted at.
  for (int i = 0; i < n; i++) {
    const PageWork &w = work[static_cast<std::size_t>(i)];
    const int annots = w.annot_paint.empty() ? 0 : 1;
    int deepest = 1 + annots +
                  painted_nesting(x, found[static_cast<std::size_t>(i)],
                                  w.has_res ? reinterpret_cast<const byte *>(w.res.data()) : nullptr,
                                  static_cast<int>(w.res.size()));
    for (int key : w.annot_forms)
      if (auto it = x.nesting.find(key); it != x.nesting.end()) deepest = std::max(deepest, 2 + it->second);
    if (deepest > k_max_nesting) {
      return ctx.err.fail("page %ld: graphics states nested deeper than %d", static_cast<long>(i + 1), k_max_nesting);
    }
  }
  if (!write_font_objects(ctx, nb, part, &out)) return false;
  write_colour_objects(nb, &out);
  write_metadata(nb, part, doc_meta(*d), &out);
  transfer_write(x, &out);
  if (nb.cmyk_icc) write_cmyk_space(nb, &out);
  write_page_nodes(nb, &out);
  nav_write(nav, &out);
  write_xref_trailer(nb, &out);
  if (out.failed) return out_of_memory(ctx);

  // The safety net for inputs nobody has tried: a file that is not PDF/A of
  // its part is never written, whatever the steps above let through.
  std::string why;
  if (!output_check(reinterpret_cast<const unsigned char *>(out.b.chars), out.size(), part, &why)) {
    return ctx.err.fail("%s", why.c_str());
  }
  return write_output_file(ctx, out_path, out.b.chars, out.size());
}

}  // namespace zyk
