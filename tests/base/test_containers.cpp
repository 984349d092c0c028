// Byte buffer growth, element arrays and the object-number map.
#include <gtest/gtest.h>

#include <string>

#include "base/base.h"

using namespace zyk;

TEST(Buf, FirstAppendAllocatesOneMebibyteAndTerminates) {
  BufGuard g;
  buf_bytes(&g.b, "", 0);
  ASSERT_NE(g.b.chars, nullptr);
  EXPECT_EQ(g.b.cap, 1u << 20);
  EXPECT_EQ(g.b.used, 0u);
  EXPECT_EQ(g.b.chars[0], 0);
}

TEST(Buf, GrowthKeepsRoomForTheTerminator) {
  struct Case {
    std::uint64_t first, second, cap_after;
  } cases[] = {
      {(1u << 20) - 1, 0, 1u << 20},        // exactly full content, terminator fits
      {(1u << 20) - 1, 1, 2u << 20},        // one more byte doubles
      {5u << 20, 0, 8u << 20},              // one large append goes straight to 8 MiB
      {(2u << 20) - 1, 1, 4u << 20},        // doubling repeats from the current capacity
  };
  for (const Case &c : cases) {
    BufGuard g;
    std::string a(c.first, 'a'), b(c.second, 'b');
    buf_bytes(&g.b, a.data(), a.size());
    buf_bytes(&g.b, b.data(), b.size());
    EXPECT_EQ(g.b.cap, c.cap_after) << c.first << "+" << c.second;
    EXPECT_EQ(g.b.used, c.first + c.second);
    EXPECT_EQ(g.b.chars[g.b.used], 0);
  }
}

TEST(Buf, BinaryContentAndFormattedAppends) {
  BufGuard g;
  buf_bytes(&g.b, "a\0b", 3);
  buf_str(&g.b, "cd");
  buf_printf(&g.b, "%d 0 obj\n", 12);
  std::string big(1000, 'x');
  buf_printf(&g.b, "[%s]", big.c_str());  // longer than any small scratch space
  std::string got(g.b.chars, g.b.used);
  EXPECT_EQ(got, std::string("a\0bcd12 0 obj\n", 14) + "[" + big + "]");
  EXPECT_EQ(g.b.chars[g.b.used], 0);
}

TEST(Arena, BlocksAreKeptAndListDoublesFromFour) {
  Arena a{};
  for (int i = 0; i < 5; i++) {
    auto *p = static_cast<char *>(arena_alloc(&a, 16));
    ASSERT_NE(p, nullptr);
    p[0] = static_cast<char>(i);
  }
  EXPECT_EQ(a.nblocks, 5);
  EXPECT_EQ(a.cap, 8);
  for (int i = 0; i < 5; i++) EXPECT_EQ(static_cast<char *>(a.blocks[i])[0], i);
  arena_free(&a);
  EXPECT_EQ(a.blocks, nullptr);
}

TEST(ElemVec, DoublesFromStartingCapacityAndKeepsOrder) {
  ElemVec<int, 128> v{};
  for (int i = 0; i < 129; i++) ASSERT_TRUE(elemvec_push(&v, i));
  EXPECT_EQ(v.cap, 256);
  EXPECT_EQ(v.nelems, 129);
  EXPECT_EQ(v.elems[128], 128);
  EXPECT_EQ(v.failed, 0);
  elemvec_free(&v);
  ElemVec<double, 64> p{};
  for (int i = 0; i < 65; i++) elemvec_push(&p, 1.0 * i);
  EXPECT_EQ(p.cap, 128);
  elemvec_free(&p);
}

TEST(ObjMap, UpdateReplacesValueAndLookupsScaleToManyKeys) {
  ObjMap m{};
  objmap_push(&m, 7, 100);
  objmap_push(&m, 9, 200);
  objmap_push(&m, 7, 300);
  EXPECT_EQ(m.nkeys, 2);
  EXPECT_EQ(m.keys[0], 7);
  EXPECT_EQ(m.vals[0], 300);
  // Many keys, inserted in a scrambled order: every key found at its
  // insertion index, and unknown keys are absent.
  ObjMap big{};
  const int n = 200000;
  for (int i = 0; i < n; i++) objmap_push(&big, (i * 7919) % 1000003, i);
  ASSERT_EQ(big.nkeys, n);
  for (int i = 0; i < n; i += 997) EXPECT_EQ(objmap_find(&big, (i * 7919) % 1000003), i);
  EXPECT_EQ(objmap_find(&big, -5), -1);
  objmap_free(&big);
  objmap_free(&m);
}
