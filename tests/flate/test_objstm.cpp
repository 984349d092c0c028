// Object-stream expansion during loading: which objects a stream yields,
// where their texts start and end, and which streams are skipped whole.
#include <gtest/gtest.h>

#include <map>

#include "deflate_kit.h"
#include "pdf_fixture.h"

using namespace flate_kit;
using namespace flate_fixture;

namespace {

std::string pad(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

// The reference layout: 17 bytes of pairs, then objects 10 and 11 (45 bytes
// each) and 12 (13 bytes): a 120-byte body.
const std::string k_pairs = "10 0 11 45 12 90 ";
const std::string k_obj10 = pad("<< /Kind /Ten /Note (ten) >>", 45);
const std::string k_obj11 = pad("<< /Kind /Eleven /Note (eleven) >>", 45);
const std::string k_obj12 = "<< /K /Tw >> ";
const std::string k_body = k_pairs + k_obj10 + k_obj11 + k_obj12;

std::string objstm(const std::string &dict, const std::string &body, bool compress) {
  if (!compress) return stream_obj("/Type /ObjStm " + dict, body);
  return stream_obj("/Type /ObjStm /Filter /FlateDecode " + dict, str(zlib_compress(bytes_of(body), 9)));
}

// Object number -> text length, for the entries that came from object streams.
std::map<int, int> expanded(const Loaded &l) {
  std::map<int, int> m;
  for (int i = 0; i < l.g.d.objs.nelems; i++) {
    const zyk::ObjEntry &e = l.g.d.objs.elems[i];
    if (e.in_objstm) m[e.num] = e.os_len;
  }
  return m;
}

struct Case {
  const char *name;
  std::string dict;
  std::string body;
  std::map<int, int> want;
};

TEST(ObjStm, ExpandsPairsWithinTheBody) {
  const std::map<int, int> all = {{10, 45}, {11, 45}, {12, 13}};
  const Case cases[] = {
      {"reference layout", "/N 3 /First 17", k_body, all},
      {"body cut to 100 bytes", "/N 3 /First 17", k_body.substr(0, 100), {{10, 45}}},
      {"N 0", "/N 0 /First 17", k_body, {}},
      {"no First", "/N 3", k_body, {}},
      {"first usable N counts", "/N 0 /N 3 /First 17", k_body, all},
      {"First beyond the body", "/N 3 /First 121", k_body, {}},
      {"pair number 0 passed over", "/N 3 /First 17", " 0 0 11 45 12 90 " + k_obj10 + k_obj11 + k_obj12, {{11, 45}, {12, 13}}},
      {"negative pair skips the stream", "/N 3 /First 17", "10 0 11 45 12 -9 " + k_obj10 + k_obj11 + k_obj12, {}},
      {"more pairs than the body holds", "/N 4 /First 17", k_body, {}},
      {"non-increasing offset passed over", "/N 3 /First 17", "10 0 11 0 12 90  " + k_obj10 + k_obj11 + k_obj12,
       {{11, 90}, {12, 13}}},
      // Offsets near 2^31: First + offset must not wrap into the body.
      {"huge last offset", "/N 3 /First 17", "10 0 11 45 12 2147483647" + k_obj10 + k_obj11 + k_obj12, {{10, 45}}},
      {"N above the limit", "/N 100001 /First 17", k_body, {}},
  };
  for (bool compress : {false, true})
    for (const Case &c : cases) {
      Loaded l(one_page_pdf({objstm(c.dict, c.body, compress)}));
      ASSERT_EQ(l.rc, 0) << c.name << ": " << l.err;
      EXPECT_EQ(expanded(l), c.want) << c.name << (compress ? " (compressed)" : " (raw)");
    }
}

TEST(ObjStm, TextsStartAtFirstPlusOffset) {
  for (bool compress : {false, true}) {
    Loaded l(one_page_pdf({objstm("/N 3 /First 17", k_body, compress)}));
    ASSERT_EQ(l.rc, 0) << l.err;
    EXPECT_EQ(l.os_text(10), k_obj10);
    EXPECT_EQ(l.os_text(11), k_obj11);
    EXPECT_EQ(l.os_text(12), k_obj12);
    // One body: the texts lie at body offsets 17, 62 and 107.
    EXPECT_EQ(l.obj(11)->os_text - l.obj(10)->os_text, 45);
    EXPECT_EQ(l.obj(12)->os_text - l.obj(10)->os_text, 90);
    // Object streams themselves leave the table.
    EXPECT_EQ(l.obj(4), nullptr);
  }
}

TEST(ObjStm, BrokenCompressedDataAddsNothingAndTheLoadGoesOn) {
  Bytes zb = zlib_compress(bytes_of(k_body), 9);
  const std::string cut = str(Bytes(zb.begin(), zb.begin() + static_cast<long>(zb.size() / 2)));
  const std::string cases[] = {
      cut,                          // truncated: fails at every size
      "not compressed at all",      // bad header
      "",                           // nothing
  };
  for (const std::string &data : cases) {
    Loaded l(one_page_pdf({stream_obj("/Type /ObjStm /N 3 /First 17 /Filter /FlateDecode", data)}));
    ASSERT_EQ(l.rc, 0) << l.err;
    EXPECT_TRUE(expanded(l).empty());
    EXPECT_EQ(l.g.d.pages.nelems, 1);
  }
}

// A body far larger than 8 x its compressed size needs several attempts.
TEST(ObjStm, HighlyCompressedBodyIsDecodedAfterRetries) {
  const std::string big = "<< /Filler (" + std::string(300000, ' ') + ") >>";
  const std::string body = "20 0 " + big;
  Bytes zb = zlib_compress(bytes_of(body), 9);
  ASSERT_LT(zb.size() * 8 + 64, body.size());
  Loaded l(one_page_pdf({stream_obj("/Type /ObjStm /N 1 /First 5 /Filter /FlateDecode", str(zb))}));
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_EQ(l.os_text(20), big);
}

TEST(ObjStm, DirectObjectBeatsTheCompressedOne) {
  // Object 5 is direct; the stream (object 4) also claims number 5.
  const std::string body = "5 0 6 20 " + pad("<< /From /Stream >>", 20) + "<< /From /Stream >>";
  Loaded l(one_page_pdf({objstm("/N 2 /First 9", body, true), "<< /From /Direct >>"}));
  ASSERT_EQ(l.rc, 0) << l.err;
  ASSERT_NE(l.obj(5), nullptr);
  EXPECT_EQ(l.obj(5)->in_objstm, 0);
  EXPECT_EQ(l.os_text(6), "<< /From /Stream >>");
}

// The catalog and page tree inside an object stream, as producers of
// cross-reference streams write them: the document loads only through the
// expansion.
TEST(ObjStm, CatalogAndPagesFromAnObjectStream) {
  const std::string o1 = "<< /Type /Catalog /Pages 21 0 R >>";
  const std::string o2 = "<< /Type /Pages /Kids [22 0 R 23 0 R] /Count 2 >>";
  const std::string o3 = "<< /Type /Page /Parent 21 0 R /MediaBox [0 0 300 400] >>";
  const std::string o4 = "<< /Type /Page /Parent 21 0 R /MediaBox [0 0 500 600] >>";
  std::string pairs = "20 0 21 " + std::to_string(o1.size()) + " 22 " + std::to_string(o1.size() + o2.size()) + " 23 " +
                      std::to_string(o1.size() + o2.size() + o3.size()) + "\n";
  std::string body = pairs + o1 + o2 + o3 + o4;
  std::string dict = "/N 4 /First " + std::to_string(pairs.size());
  std::string text = zyk_test::make_pdf({objstm(dict, body, true)}, 20, "1.5");
  Loaded l(text);
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_EQ(l.g.d.catalog_num, 20);
  ASSERT_EQ(l.g.d.pages.nelems, 2);
  EXPECT_EQ(l.g.d.pages.elems[0].num, 22);
  EXPECT_EQ(l.g.d.pages.elems[1].box[3], 600.0);
}

}  // namespace
