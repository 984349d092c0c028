// The loader's memoising stream-keyword finder must agree exactly with the
// plain dictionary scan, whatever the text.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pdf/stream_kw.h"

using namespace zyk;

TEST(StreamKwFinder, AgreesWithThePlainScanOnRandomTexts) {
  // Texts made of the pieces that steer the scan: nesting, strings with
  // escapes, lone angle brackets, the keyword itself and object headers.
  const std::vector<std::string> pieces = {"<<", ">>", "<", ">", "(", ")", "\\", " stream\n", "stream",
                                           " 1 0 obj ", "x", " ", "<</A (", ")>>", "\\(", "<ab>"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 20000; round++) {
    std::string text;
    int n = 1 + static_cast<int>(rng() % 60);
    for (int k = 0; k < n; k++) text += pieces[rng() % pieces.size()];
    const byte *t = reinterpret_cast<const byte *>(text.data());
    int len = static_cast<int>(text.size());
    // Starts: every '<', in file order, as the loader visits object bodies;
    // each call may keep facts from the next start on.
    std::vector<int> starts;
    for (int i = 0; i < len; i++)
      if (text[static_cast<std::size_t>(i)] == '<') starts.push_back(i);
    StreamKwFinder finder(t, len);
    for (std::size_t k = 0; k < starts.size(); k++) {
      int keep = k + 1 < starts.size() ? starts[k + 1] : len;
      ASSERT_EQ(finder.find(starts[k], keep), dict_stream_kw(t, len, starts[k]))
          << "text: " << text << " start " << starts[k];
    }
  }
}
