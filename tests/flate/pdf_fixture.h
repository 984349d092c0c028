// Small PDF texts for the stream and object-stream tests: a one-page
// document (objects 1-3) followed by the objects a test adds, written to a
// temporary file and loaded.
#pragma once

#include <string>
#include <vector>

#include "deflate_kit.h"
#include "pdf/pdf.h"
#include "test_support.h"

namespace flate_fixture {

inline std::string str(const flate_kit::Bytes &b) { return std::string(b.begin(), b.end()); }

// "<< /Length n <dict> >>\nstream\n<data>\nendstream"
inline std::string stream_obj(const std::string &dict, const std::string &data) {
  return "<< /Length " + std::to_string(data.size()) + " " + dict + " >>\nstream\n" + data + "\nendstream";
}

// Catalog 1, page tree 2, page 3, then `extra` as objects 4, 5, ...
inline std::string one_page_pdf(const std::vector<std::string> &extra, int root = 1) {
  std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"};
  bodies.insert(bodies.end(), extra.begin(), extra.end());
  return zyk_test::make_pdf(bodies, root, "1.5");
}

struct Loaded {
  zyk::DocGuard g;
  int rc = -1;
  std::string err;

  explicit Loaded(const std::string &text, const std::string &name = "flate-fixture.pdf") {
    std::string path = zyk_test::write_temp(name, text);
    zyk::ErrorText e;
    rc = zyk::doc_load(path.c_str(), &g.d, &e) ? 0 : -1;
    err = e.text;
  }
  const zyk::ObjEntry *obj(int num) const {
    int i = zyk::obj_find(&g.d.objs, num);
    return i < 0 ? nullptr : &g.d.objs.elems[i];
  }
  // The text of an object taken from an object stream, or "<none>".
  std::string os_text(int num) const {
    const zyk::ObjEntry *e = obj(num);
    if (!e || !e->in_objstm) return "<none>";
    return std::string(reinterpret_cast<const char *>(e->os_text), static_cast<std::size_t>(e->os_len));
  }
};

}  // namespace flate_fixture
