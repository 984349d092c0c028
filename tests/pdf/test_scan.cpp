// Scanning primitives: keyword and name matching, dictionary measuring,
// integers and stream lengths; and the tokenizer's reading of references
// and whole values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pdf/pdf.h"

using namespace zyk;

namespace {
const byte *B(const std::string &s) { return reinterpret_cast<const byte *>(s.data()); }
int L(const std::string &s) { return static_cast<int>(s.size()); }
}  // namespace

TEST(Scan, FindKeywordNeedsWholeWords) {
  struct Case {
    std::string text, kw;
    int start, want;
  } cases[] = {
      {"abc startxref", "startxref", 0, 4},   // keyword ends the text
      {"mystartxref", "startxref", 0, -1},    // glued to a word
      {"x endobj\n", "endobj", 0, 2},
      {">>endobj", "endobj", 0, 2},           // punctuation before is fine
      {"xendobj endobjx endobj", "endobj", 0, 16},
      {"endobj endobj", "endobj", 1, 7},      // search starts at `start`
      {"endobj", "endobj", -5, 0},            // negative start counts as 0
      {"obj", "endobj", 0, -1},
  };
  for (const Case &c : cases) EXPECT_EQ(find_kw(B(c.text), L(c.text), c.start, c.kw.c_str()), c.want) << c.text;
}

// The one-pass keyword finder must list exactly what repeated find_kw
// calls find: every whole-word position, in order. Hand-made texts put the
// keywords at both ends of the text, glued to words, inside longer keywords
// ("endobj" holds "obj"), back to back, and across the sixteen-byte blocks
// the pass compares at once; random texts over a small alphabet then give
// many near misses at every alignment.
TEST(Scan, FileKeywordsMatchFindKw) {
  auto by_find_kw = [](const std::string &s, const char *kw) {
    std::vector<int> v;
    for (int p = find_kw(B(s), L(s), 0, kw); p >= 0; p = find_kw(B(s), L(s), p + 1, kw)) v.push_back(p);
    return v;
  };
  auto check = [&](const std::string &s) {
    FileKeywords k;
    file_keywords(B(s), L(s), &k);
    EXPECT_EQ(k.obj, by_find_kw(s, "obj")) << s;
    EXPECT_EQ(k.endobj, by_find_kw(s, "endobj")) << s;
    EXPECT_EQ(k.endstream, by_find_kw(s, "endstream")) << s;
    EXPECT_EQ(k.startxref, by_find_kw(s, "startxref")) << s;
    EXPECT_EQ(k.trailer, by_find_kw(s, "trailer")) << s;
  };
  const std::string texts[] = {
      "",
      "obj",
      "bj",
      "1 0 obj<<>>endobj",
      "endobjobj obj1 1obj xobj obj_ endstreamx endstream trailer\ntrailers startxref\n123\n%%EOF",
      "startxref",
      "0123456789abcdendobj",                        // ends in the scalar tail
      "0123456789abcdeendobj ",                      // keyword across the first block's end
      "0123456789abcdefobj endobj",                  // "obj" glued to a word
      std::string(15, ' ') + "obj" + std::string(14, '-') + "trailer" + std::string(16, '\0') + "endstream",
      "erererer bjbjbj amam efef trailertrailer trailer>>startxref<<obj",
      std::string("\xFF\x00obj\x80" "endobj\xE9startxref", 22),
  };
  for (const std::string &s : texts) check(s);
  const char alphabet[] = {'o', 'b', 'j', 'e', 'n', 'd', 's', 't', 'r', 'a', 'm', 'x', 'f', 'i', 'l', ' ', '1', '\n'};
  std::srand(7);
  for (int round = 0; round < 300; round++) {
    std::string s;
    const int n = std::rand() % 200;
    for (int i = 0; i < n; i++) {
      if (std::rand() % 8 == 0) {
        static const char *const kws[] = {"obj", "endobj", "endstream", "startxref", "trailer"};
        s += kws[std::rand() % 5];
      } else {
        s += alphabet[static_cast<std::size_t>(std::rand()) % sizeof alphabet];
      }
    }
    check(s);
  }
}

TEST(Scan, FindNameStopsAtNameCharacters) {
  struct Case {
    std::string text, name;
    int want;
  } cases[] = {
      {"/Root 1 0 R", "Root", 0},
      {"/RootX /Root_1", "Root", -1},
      {"/Root.x", "Root", 0},
      {"/NN 1 /First 17 /N 3", "N", 16},
      {"/Type/Page", "Type", 0},
      {"/Type1 /Type_A /Type-2 /Type+3", "Type", -1},
      {"/Length1 10 /Length 5", "Length", 12},
      {"(a /Root in a string)", "Root", 3},   // strings are not known to this search
  };
  for (const Case &c : cases)
    EXPECT_EQ(find_name(B(c.text), L(c.text), 0, L(c.text), c.name.c_str()), c.want) << c.text;
  // A window that ends right after the name counts as the name's end.
  std::string t = "/RootX";
  EXPECT_EQ(find_name(B(t), L(t), 0, 5, "Root"), 0);
}

TEST(Scan, FindNameTopSkipsNestedDictionariesStringsAndComments) {
  struct Case {
    std::string text;
    int want;
  } cases[] = {
      {"<</Resources <</Type /Font>> /Type /Page>>", 29},
      {"<</A (/Type)>>", -1},
      {"<</A 1 % /Type\n>>", -1},
      {"<</A 1 % c\n/Type /X>>", 11},
      {"<</A <2F54797065> /Type /X>>", 18},      // hex string skipped
      {"<</A (open /Type", -1},                   // string open at the end
      {"<</Type", 2},
  };
  for (const Case &c : cases)
    EXPECT_EQ(find_name_top(B(c.text), L(c.text), 0, L(c.text), "Type"), c.want) << c.text;
}

TEST(Scan, ObjTypeClassifiesPagesAndPageNodes) {
  struct Case {
    std::string text;
    int want;
  } cases[] = {
      {"<</Type/Page>>", 1},
      {"<</Type /Page>>", 1},
      {"<</Type\n/Page/Parent 2 0 R>>", 1},
      {"<</Type /Pages /Kids []>>", 2},
      {"<</Type /PageLabel>>", 0},
      {"<</Type /Pagesx>>", 0},
      {"<</Resources <</Type /Page>> >>", 0},     // nested /Type does not count
      {"<</Type 5 /Type /Page>>", 1},             // a non-name value moves on
      {"<</Type /Catalog>>", 0},
  };
  for (const Case &c : cases) EXPECT_EQ(obj_type(B(c.text), 0, L(c.text)), c.want) << c.text;
}

TEST(Scan, DictStreamKeyword) {
  struct Case {
    std::string text;
    int want;
  } cases[] = {
      {"<</Length 3>>\r\nstream\r\nabc", 15},
      {"<</Length 3>> endobj", -1},
      {"<</A <</B 1>> >>stream\n", 16},
      {"<</A (>> stream)>> stream\n", 19},
      {"<</A (unclosed", -1},
      {"<</A 1>>streamx", -1},
  };
  for (const Case &c : cases) EXPECT_EQ(dict_stream_kw(B(c.text), L(c.text), 0), c.want) << c.text;
}

TEST(Scan, IntegersWithAndWithoutAdvance) {
  struct Case {
    std::string text;
    int want, pos_after;
  } ints[] = {
      {"  -42 0 R", -42, 5},
      {" +5", -1, 0},          // '+' is not accepted; position stays
      {"612.5", 612, 3},
      {"-", -1, 0},
      {"   ", -1, 0},
      {"4294967297", 1, 10},   // wraps in 32 bits
  };
  for (const Case &c : ints) {
    int pos = 0;
    EXPECT_EQ(parse_int_at(B(c.text), L(c.text), &pos), c.want) << c.text;
    EXPECT_EQ(pos, c.pos_after) << c.text;
  }
  std::string pairs = "12 0 13 45";
  int pos = 0;
  for (int want : {12, 0, 13, 45}) EXPECT_EQ(read_int_adv(B(pairs), L(pairs), &pos), want);
  EXPECT_EQ(read_int_adv(B(pairs), L(pairs), &pos), -1);
  struct Adv {
    std::string text;
    int want, pos_after;
  } adv[] = {
      {"x7", -1, 1},      // moves one byte past the offending byte
      {"R7", -1, 0},      // ...except at 'R'
      {"+9 ", 9, 2},
      {" -", -1, 2},      // a sign as the last byte
      {"  ", -1, 2},
      {"123", 123, 3},    // digits up to the end
  };
  for (const Adv &c : adv) {
    int p = 0;
    EXPECT_EQ(read_int_adv(B(c.text), L(c.text), &p), c.want) << c.text;
    EXPECT_EQ(p, c.pos_after) << c.text;
  }
}

TEST(Scan, ParseLengthForms) {
  struct Case {
    std::string text;
    int direct, ref;
  } cases[] = {
      {"<</Length 120>>", 120, -1},
      {"<</Length 8 0 R>>", -1, 8},
      {"<</Length [5 7]>>", 7, -1},
      {"<</Length/Foo /Length 9>>", 9, -1},
      {"<</Length -3 /Length 4>>", 4, -1},
      {"<</Length 8 0 Rx>>", 8, -1},       // R glued to a word is no reference
      {"<</Length1 5 /Filter /F>>", -1, -1},
      {"<</Length [x] /Length 6>>", 6, -1},
  };
  for (const Case &c : cases) {
    int d = 0, r = 0;
    parse_length(B(c.text), L(c.text), 0, L(c.text), &d, &r);
    EXPECT_EQ(d, c.direct) << c.text;
    EXPECT_EQ(r, c.ref) << c.text;
  }
}

// The tokenizer's one rule for references: "N G R", parts separated by any
// PDF white space, the R standing alone. A bare number or "N R" is none.
TEST(Tokenizer, ValueRefTakesOnlyNGR) {
  struct Case {
    std::string text;
    int want;
  } cases[] = {
      {"12 0 R", 12},
      {"12\n0\tR", 12},
      {"12 0 R  % a comment\n", 12},
      {"12 3 R", 12},
      {"12", -1},
      {"12 R", -1},
      {"12 0", -1},
      {"12 0 Rx", -1},
      {"12 0 R 13 0 R", -1},
      {"/F12 0 R", -1},
      {"(12 0 R)", -1},
      {"99999999999 0 R", -1},
  };
  for (const Case &c : cases) EXPECT_EQ(value_ref(B(c.text), 0, L(c.text)), c.want) << c.text;
}

TEST(Tokenizer, ValueReadableKnowsTheObjectGrammar) {
  struct Case {
    std::string text;
    bool want;
  } cases[] = {
      {"<< /A 1 /B [2 -3.5 +.5 (x) <0a> /N true false null 4 0 R] /C << /D << >> >> >>", true},
      {"<< /A (a >> b) % >> c\n /B 1 >>", true},
      {"[1 2] % trailing comment\n", true},
      {"<< /A 5 R >>", false},  // a number and a stray R
      {"[5 R]", false},
      {"<< /A 1 /B >>", false},  // a key without value
      {"<< /A 1 2 >>", false},   // a value without key
      {"<< /A foo >>", false},   // an unknown keyword
      {"<< /A 1.2.3 >>", false},
      {"[1 2", false},          // not closed
      {"<< /A 1 >> x", false},  // something after the value
      {"", false},
  };
  for (const Case &c : cases) EXPECT_EQ(value_readable(B(c.text), 0, L(c.text)), c.want) << c.text;
  // Nesting is bounded.
  std::string deep(70, '[');
  deep += std::string(70, ']');
  EXPECT_FALSE(value_readable(B(deep), 0, L(deep)));
  std::string ok(60, '[');
  ok += std::string(60, ']');
  EXPECT_TRUE(value_readable(B(ok), 0, L(ok)));
}
