// Loads a PDF text written to a temporary file.
#pragma once

#include <string>

#include "pdf/pdf.h"
#include "test_support.h"

struct Loaded {
  zyk::DocGuard g;
  int rc = -1;
  std::string err;
  zyk::Doc &d() { return g.d; }
  const zyk::ObjEntry *obj(int num) {
    int i = zyk::obj_find(&g.d.objs, num);
    return i < 0 ? nullptr : &g.d.objs.elems[i];
  }
  std::string stream_data(int num) {
    const zyk::ObjEntry *e = obj(num);
    if (!e || !e->is_stream) return "<none>";
    return std::string(reinterpret_cast<const char *>(g.d.pdf) + e->data_off,
                       static_cast<std::size_t>(e->data_end - e->data_off));
  }
};

inline void load_text(Loaded &l, const std::string &text, const std::string &name = "fixture.pdf") {
  std::string path = zyk_test::write_temp(name, text);
  zyk::ErrorText e;
  l.rc = zyk::doc_load(path.c_str(), &l.g.d, &e) ? 0 : -1;
  l.err = e.text;
}
