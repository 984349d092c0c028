// Every FlateDecode stream of the shared corpus, real producers' output with
// all its defects: the decoder agrees with the reference decoder on every
// one (result, length, bytes) and with zlib wherever zlib finishes.
#include <gtest/gtest.h>

#include "deflate_kit.h"
#include "flate/flate.h"
#include "pdf_fixture.h"

using namespace flate_kit;

namespace {

// zlib's result when it reaches the end of the stream (trailer checked), or
// false.
bool zlib_inflate(const unsigned char *src, std::size_t n, std::uint64_t cap, Bytes *out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  out->assign(cap, 0);
  z.next_in = const_cast<unsigned char *>(src);
  z.avail_in = static_cast<uInt>(n);
  z.next_out = out->data();
  z.avail_out = static_cast<uInt>(cap);
  int r = inflate(&z, Z_FINISH);
  out->resize(z.total_out);
  inflateEnd(&z);
  return r == Z_STREAM_END;
}

TEST(FlateCorpus, EveryStreamDecodesLikeTheReferenceAndZlib) {
  auto files = zyk_test::corpus_files();
  if (files.empty()) GTEST_SKIP() << "shared corpus not present";
  int streams = 0, zlib_done = 0;
  for (const std::string &rel : files) {
    std::string text = zyk_test::read_all(zyk_test::corpus_dir() + "/" + rel);
    flate_fixture::Loaded l(text, "corpus.pdf");
    if (l.rc != 0) continue;
    const zyk::Doc &d = l.g.d;
    for (int i = 0; i < d.objs.nelems; i++) {
      const zyk::ObjEntry &e = d.objs.elems[i];
      const zyk::byte *t;
      int s, end;
      if (!e.is_stream || !zyk::dict_range(d.pdf, d.pdf_len, e, &t, &s, &end)) continue;
      if (zyk::find_name(t, end, s, end, "FlateDecode") < 0 || e.data_end <= e.data_off) continue;
      const Bytes raw(d.pdf + e.data_off, d.pdf + e.data_end);
      const std::uint64_t cap = 20 * raw.size() + 4096;
      const std::string what = rel + " obj " + std::to_string(e.num);

      Bytes out(cap);
      std::uint64_t len = 0;
      int rc = zyk::inflate_decompress(raw.data(), raw.size(), out.data(), cap, &len);
      out.resize(rc == 0 ? len : 0);
      RefResult ref = ref_inflate(raw, cap);
      ASSERT_EQ(rc, ref.rc) << what;
      ASSERT_EQ(len, ref.out_len) << what;
      ASSERT_TRUE(out == ref.out) << what;

      Bytes zout;
      if (zlib_inflate(raw.data(), raw.size(), cap, &zout)) {
        zlib_done++;
        ASSERT_EQ(rc, 0) << what;
        ASSERT_TRUE(out == zout) << what;
      }
      streams++;
    }
  }
  EXPECT_GT(streams, 100);
  EXPECT_GT(zlib_done, 100);
  std::printf("%d FlateDecode streams, %d finished by zlib\n", streams, zlib_done);
}

}  // namespace
