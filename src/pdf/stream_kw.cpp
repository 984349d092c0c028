#include "pdf/stream_kw.h"

namespace zyk {

int StreamKwFinder::find(int pos, int keep_from) {
  int q = walk(pos < 0 ? 0 : pos, keep_from);
  if (q < 0) return -1;
  int s = skip_ws(t_, q + 2, len_);
  return kw_at(t_, s, len_, "stream") ? s : -1;
}

// Position after the ')' that closes the literal string opened at i, or -1.
int StreamKwFinder::literal(int i, int keep_from) {
  if (!lit_.empty())
    if (auto it = lit_.find(i); it != lit_.end()) return it->second;
  lit_open_.clear();
  lit_open_.push_back(i);
  int j = i + 1;
  while (j < len_) {
    byte c = t_[j];
    if (c == '\\') {
      j += 2;
    } else if (c == '(') {
      if (auto it = lit_.empty() ? lit_.end() : lit_.find(j); it != lit_.end()) {
        if (it->second < 0) break;
        j = it->second;
      } else {
        lit_open_.push_back(j);
        j++;
      }
    } else if (c == ')') {
      int o = lit_open_.back();
      lit_open_.pop_back();
      if (o >= keep_from) lit_[o] = j + 1;
      if (lit_open_.empty()) return j + 1;
      j++;
    } else {
      j++;
    }
  }
  for (int o : lit_open_)
    if (o >= keep_from) lit_[o] = -1;
  return -1;
}

// Position of the ">>" that closes the dictionary walk from pos, or -1.
int StreamKwFinder::walk(int pos, int keep_from) {
  open_.clear();
  zero_lt_.clear();
  int depth = 0;
  int i = pos;
  int result = -1;
  bool closed = false;
  // Whether the "<<" still open at the end are known never to close: true
  // when the text ran out, false when a remembered fact ended the walk early
  // (tokens opened below depth 0 may still close further on).
  bool open_never_close = true;
  while (i < len_) {
    byte c = t_[i];
    if (c == '<') {
      if (i + 1 >= len_) break;
      bool dbl = t_[i + 1] == '<';
      if (depth >= 0 && (dbl || depth == 0) && !close0_.empty()) {
        if (auto it = close0_.find(i); it != close0_.end()) {
          int m = it->second;
          if (m < 0) {
            // Never closes from here, so neither does this walk; a "<<" that
            // never returns to this depth also leaves every open token open.
            open_never_close = dbl;
            break;
          }
          if (depth == 0) {
            result = m;
            closed = true;
            open_never_close = false;
            break;
          }
          i = m + 2;  // a known balanced "<< ... >>": depth unchanged
          continue;
        }
      }
      if (dbl) {
        open_.push_back(i);
        depth++;
        i += 2;
      } else {
        if (depth == 0 && i >= keep_from) zero_lt_.push_back(i);
        i++;
      }
    } else if (c == '>') {
      if (i + 1 >= len_) break;
      if (t_[i + 1] != '>') {
        i++;
        continue;
      }
      if (!open_.empty()) {
        if (open_.back() >= keep_from) close0_[open_.back()] = i;
        open_.pop_back();
      }
      if (depth == 1) {
        result = i;
        closed = true;
        break;
      }
      depth--;
      i += 2;
    } else if (c == '(') {
      if (i + 1 >= len_) break;
      int j = literal(i, keep_from);
      if (j < 0) break;
      i = j;
    } else {
      i++;
    }
  }
  if (!closed && open_never_close) {
    for (int o : open_)
      if (o >= keep_from) close0_[o] = -1;
  }
  for (int z : zero_lt_) close0_[z] = closed ? result : -1;
  return closed ? result : -1;
}

}  // namespace zyk
