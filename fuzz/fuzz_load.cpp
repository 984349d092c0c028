// libFuzzer target for the loader: the input is a whole file image.
//
// A load either fails with an error text or gives a document whose table
// stays inside the image; then every object is read the ways the
// conversion reads it (its value text, dictionary entries, references,
// readability, its stream through the filter chain), every page's resource
// dictionary is looked up, and the inspection reads the declared part and
// the features. Any broken property aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/base.h"
#include "inspect/inspect.h"
#include "pdf/pdf.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void read_value(const zyk::byte *t, int len) {
  int end = zyk::value_end(t, 0, len);
  check(end <= len);
  std::vector<zyk::RefHit> refs;
  zyk::find_refs(t, len, &refs);
  for (const zyk::RefHit &r : refs) check(r.start >= 0 && r.start < r.end && r.end <= len);
  (void)zyk::value_readable(t, 0, len);
  int pos = zyk::skip_ws_comments(t, 0, len);
  if (pos < len && t[pos] == '<') {
    std::vector<zyk::DictEntry> es;
    int close = 0;
    if (zyk::dict_entries(t, pos, len, &es, &close)) {
      check(close >= pos && close < len);
      for (const zyk::DictEntry &e : es) {
        check(e.key >= pos && e.key < e.key_end && e.key_end <= e.val && e.val < e.val_end && e.val_end <= close);
        (void)zyk::value_ref(t, e.val, e.val_end);
        (void)zyk::value_items(t, e.val, e.val_end);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size > 0x7fffffff) return 0;
  zyk::DocGuard g;
  zyk::ErrorText err;
  if (!zyk::doc_load_image(data, static_cast<int>(size), &g.d, &err)) {
    check(!err.empty());
    return 0;
  }
  const zyk::Doc &d = g.d;
  check(d.pages.nelems > 0);
  zyk::DecodeBudget budget{std::uint64_t{1} << 24};
  zyk::DecodeLimits limits{std::uint64_t{1} << 22, &budget};
  for (int k = 0; k < d.objs.nelems; k++) {
    const zyk::ObjEntry &e = d.objs.elems[k];
    check(zyk::obj_find(&d.objs, e.num) >= 0);
    if (e.in_objstm) {
      check(e.os_text && e.os_len >= 0);
    } else {
      check(e.hdr_off >= 0 && e.hdr_off < d.pdf_len);
      if (e.is_stream) check(e.data_off >= 0 && e.data_off <= e.data_end && e.data_end <= d.pdf_len);
    }
    const zyk::byte *text;
    int len;
    if (zyk::object_text(d, e, &text, &len)) read_value(text, len);
    if (e.is_stream) {
      std::string out;
      zyk::StreamResult r = zyk::stream_decode(d, e, limits, &out);
      check(r.ok() || out.empty());
      check(out.size() <= limits.max_out);
      check(!zyk::stream_failure_text(r).empty());
    }
  }
  for (int i = 0; i < d.pages.nelems; i++) {
    const zyk::byte *text = nullptr;
    int len = 0, bad = -1;
    zyk::ResourcesFound f = zyk::page_resources_text(d, d.pages.elems[i].num, 64, &text, &len, &bad);
    if (f == zyk::ResourcesFound::found) {
      check(text && len >= 4 && text[0] == '<' && text[len - 1] == '>');
      read_value(text, len);
    }
  }
  (void)zyk::pdfa_level_of(&d, d.pdf, d.pdf_len);
  (void)zyk::doc_features(&d);
  return 0;
}
