// Finds the "stream" keyword after many object dictionaries of one file in
// near-linear total time. Internal to the pdf folder.
#pragma once

#include <unordered_map>
#include <vector>

#include "pdf/pdf.h"

namespace zyk {

// Gives, for object bodies visited in increasing file order, exactly what
// dict_stream_kw gives, without rescanning what earlier scans already read.
//
// A scan from a body walks tokens ("<<", ">>", literal strings, other bytes)
// counting depth and closes at the first ">>" met at depth 1. The walk from
// any token boundary is fully determined by that position, so what one scan
// learns holds for every later scan that reaches the same boundary:
//   - for a "<<" token: the ">>" that brings the walk back to the depth it
//     had before the token, or "never";
//   - for a lone '<' reached at depth 0: where that walk closes, or "never";
//   - for a '(' token: the position after its closing ')', or "never".
// A later scan that reaches such a boundary jumps over the known part (or
// knows its own result at once). Facts are kept only for positions at or
// after the next "obj" keyword, because later scans start beyond it and only
// move forward; in well-formed files every dictionary closes before that and
// nothing is kept at all.
class StreamKwFinder {
 public:
  StreamKwFinder(const byte *t, int len) : t_(t), len_(len) {}
  // The "stream" keyword position after the dictionary starting at pos, or
  // -1. `keep_from` is the smallest position a later call can start at.
  int find(int pos, int keep_from);

 private:
  int walk(int pos, int keep_from);
  int literal(int i, int keep_from);

  const byte *t_;
  int len_;
  std::unordered_map<int, int> close0_;  // '<' position -> close position or -1
  std::unordered_map<int, int> lit_;     // '(' position -> after ')' or -1
  std::vector<int> open_;
  std::vector<int> zero_lt_;
  std::vector<int> lit_open_;
};

}  // namespace zyk
