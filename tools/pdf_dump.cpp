// pdf-dump: prints what the reader understood of a PDF file: its version,
// object count, catalog and every page with its parent, box and inherited
// rotation. A developer's window into the loader.
#include <cstdio>
#include <cstring>

#include "pdf/pdf.h"

int main(int argc, char **argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fprintf(stderr, "usage: pdf-dump FILE...\n");
    return argc < 2 ? 2 : 0;
  }
  int status = 0;
  for (int a = 1; a < argc; a++) {
    zyk::DocGuard g;
    zyk::Doc &d = g.d;
    if (argc > 2) std::printf("== %s\n", argv[a]);
    zyk::ErrorText err;
    if (!zyk::doc_load(argv[a], &d, &err)) {
      std::printf("error: %s\n", err.text.c_str());
      status = 1;
      continue;
    }
    std::printf("version: %s\n", d.pdf_version[0] ? d.pdf_version : "(none)");
    std::printf("bytes: %d\n", d.pdf_len);
    int compressed = 0, streams = 0;
    for (int i = 0; i < d.objs.nelems; i++) {
      compressed += d.objs.elems[i].in_objstm;
      streams += d.objs.elems[i].is_stream;
    }
    std::printf("objects: %d (streams %d, from object streams %d, highest number %d)\n", d.objs.nelems, streams,
                compressed, d.max_num);
    std::printf("catalog: %d\n", d.catalog_num);
    std::printf("pages: %d\n", d.pages.nelems);
    for (int i = 0; i < d.pages.nelems; i++) {
      const zyk::PageInfo &p = d.pages.elems[i];
      std::printf("  page %d: obj %d parent %d box [%g %g %g %g] rotate %d\n", i + 1, p.num, p.parent, p.box[0],
                  p.box[1], p.box[2], p.box[3], p.rotate);
    }
  }
  return status;
}
