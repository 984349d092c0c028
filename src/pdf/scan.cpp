// Scanning primitives over raw PDF bytes.
//
// These functions are the whole of the reader's "parser": the loader, the
// page tree, font analysis, the writer and the inspection code all find
// keys by name searches within byte ranges. Their matching rules are
// deliberately simple and exact:
//   - a keyword stands at p when the bytes match and neither neighbour is a
//     word character (ASCII letter or digit);
//   - a name matches at a '/' followed by its bytes when the next byte is
//     the end of the window or not a name character (word, '_', '+', '-');
//     strings, comments and nesting are not looked at;
//   - integers are read in 32-bit two's-complement arithmetic, wrapping
//     silently.
// Every primitive reads only inside the length or window it is given.
#include <bit>
#include <cstdint>
#include <cstring>

#include "pdf/pdf.h"

namespace zyk {

int skip_ws(const byte *t, int pos, int end) {
  if (pos >= end) return pos;
  while (pos < end && is_pdf_ws(t[pos])) pos++;
  return pos;
}

int kw_at(const byte *t, int pos, int len, const char *kw) {
  int k = static_cast<int>(std::strlen(kw));
  if (pos < 0 || pos > len - k) return 0;
  if (std::memcmp(t + pos, kw, static_cast<std::size_t>(k)) != 0) return 0;
  if (pos > 0 && is_word(t[pos - 1])) return 0;
  if (pos + k < len && is_word(t[pos + k])) return 0;
  return 1;
}

int find_kw(const byte *t, int len, int start, const char *kw) {
  int k = static_cast<int>(std::strlen(kw));
  if (start < 0) start = 0;
  if (k == 0) return start <= len ? start : -1;
  for (int p = start; p <= len - k;) {
    const void *hit = memmem(t + p, static_cast<std::size_t>(len - p), kw, static_cast<std::size_t>(k));
    if (!hit) return -1;
    p = static_cast<int>(static_cast<const byte *>(hit) - t);
    if (kw_at(t, p, len, kw)) return p;
    p++;
  }
  return -1;
}

// One pass for the loader's five keywords instead of one memmem pass each.
// A whole-word keyword ends where its last two letters stand before a byte
// that is no word character, and the five end in only four pairs:
//   obj, endobj -> "bj"   endstream -> "am"   startxref -> "ef"   trailer -> "er"
// The pass compares sixteen positions at a time with both letters of every
// pair (portable vector code: SSE2 on x86-64), which in compressed data
// flags about one position in 16,000 and in text a few in a hundred; a
// flagged position is then tested with kw_at for each keyword of its pair,
// which decides exactly as find_kw does. Positions come out in file order,
// so each list is ascending.
namespace {

using V16 = unsigned char __attribute__((vector_size(16)));

void keyword_end_at(const byte *t, int len, int i, FileKeywords *out) {
  // t[i], t[i + 1] are the keyword's last two letters.
  if (i + 2 < len && is_word(t[i + 2])) return;
  auto test = [&](const char *kw, int k, std::vector<int> *list) {
    const int start = i + 2 - k;
    if (start >= 0 && kw_at(t, start, len, kw)) list->push_back(start);
  };
  const byte a = t[i], b = t[i + 1];
  if (a == 'b' && b == 'j') {
    test("obj", 3, &out->obj);
    test("endobj", 6, &out->endobj);
  } else if (a == 'a' && b == 'm') {
    test("endstream", 9, &out->endstream);
  } else if (a == 'e' && b == 'f') {
    test("startxref", 9, &out->startxref);
  } else if (a == 'e' && b == 'r') {
    test("trailer", 7, &out->trailer);
  }
}

}  // namespace

void file_keywords(const byte *t, int len, FileKeywords *out) {
  *out = FileKeywords{};
  int i = 0;
  // Whole blocks while the second letter of the block's last position is in
  // the file.
  for (; i + 17 <= len; i += 16) {
    V16 x, y;
    std::memcpy(&x, t + i, 16);
    std::memcpy(&y, t + i + 1, 16);
    const auto hit = ((x == 'b') & (y == 'j')) | ((x == 'a') & (y == 'm')) | ((x == 'e') & ((y == 'f') | (y == 'r')));
    std::uint64_t w[2];
    std::memcpy(w, &hit, 16);
    if (!(w[0] | w[1])) continue;
    for (int h = 0; h < 2; h++) {
      // Lane j (byte j of the block) is byte j of the word in memory order,
      // the low byte first once the word is read little-endian. A flagged
      // lane is 0xFF; it is taken once and cleared whole.
      std::uint64_t bits = w[h];
      if constexpr (std::endian::native == std::endian::big) bits = __builtin_bswap64(bits);
      while (bits) {
        const int lane = std::countr_zero(bits) / 8;
        bits &= ~(std::uint64_t{0xFF} << (8 * lane));
        keyword_end_at(t, len, i + 8 * h + lane, out);
      }
    }
  }
  for (; i + 2 <= len; i++) keyword_end_at(t, len, i, out);
}

int find_name(const byte *t, int len, int start, int end, const char *name) {
  int n = static_cast<int>(std::strlen(name));
  int w = len < end ? len : end;
  if (start < 0) start = 0;
  for (int q = start; q + n + 1 <= w; q++) {
    const void *hit = std::memchr(t + q, '/', static_cast<std::size_t>(w - n - q));
    if (!hit) return -1;
    q = static_cast<int>(static_cast<const byte *>(hit) - t);
    if (std::memcmp(t + q + 1, name, static_cast<std::size_t>(n)) != 0) continue;
    if (q + n + 1 == w || !is_name_cont(t[q + n + 1])) return q;
  }
  return -1;
}

// Skips a literal string whose '(' is at i: returns the position right after
// the closing ')', or -1 when the text ends inside the string. A backslash
// makes the next byte ordinary; parentheses nest.
int literal_end(const byte *t, int len, int i) {
  int nest = 1;
  for (int j = i + 1; j < len; j++) {
    byte c = t[j];
    if (c == '\\') {
      j++;
    } else if (c == '(') {
      nest++;
    } else if (c == ')' && --nest == 0) {
      return j + 1;
    }
  }
  return -1;
}

// Finds /name at dictionary depth 0 or 1, skipping comments, literal and
// hexadecimal strings. Anything that leaves the window unresolved (an open
// string, a lone '<' or '>' at the last byte) ends the search with -1.
int find_name_top(const byte *t, int len, int start, int end, const char *name) {
  int n = static_cast<int>(std::strlen(name));
  int w = len < end ? len : end;
  int depth = 0;
  int i = start < 0 ? 0 : start;
  while (i < w) {
    byte c = t[i];
    if (c == '%') {
      int j = i + 1;
      while (j < w && t[j] != '\r' && t[j] != '\n') j++;
      if (j >= w) return -1;
      i = j;
    } else if (c == '(') {
      if (i + 1 >= w) return -1;
      int nest = 1;
      int j = i + 1;
      for (;;) {
        if (j >= w) return -1;
        byte s = t[j];
        if (s == '\\') {
          if (j + 1 >= w) return -1;
          j += 2;
          continue;
        }
        if (s == '(') {
          nest++;
        } else if (s == ')' && --nest == 0) {
          break;
        }
        j++;
      }
      i = j + 1;
    } else if (c == '<') {
      if (i + 1 >= w) return -1;
      if (t[i + 1] == '<') {
        depth++;
        i += 2;
      } else {
        const void *gt = std::memchr(t + i + 1, '>', static_cast<std::size_t>(w - i - 1));
        if (!gt) return -1;
        i = static_cast<int>(static_cast<const byte *>(gt) - t) + 1;
      }
    } else if (c == '>') {
      if (i + 1 >= w) return -1;
      if (t[i + 1] == '>') {
        if (depth > 0) depth--;
        i += 2;
      } else {
        i++;
      }
    } else if (c == '/') {
      if (depth <= 1 && i + 1 + n <= w && std::memcmp(t + i + 1, name, static_cast<std::size_t>(n)) == 0 &&
          (i + 1 + n == w || !is_name_cont(t[i + 1 + n])))
        return i;
      i++;
    } else {
      i++;
    }
  }
  return -1;
}

// 1 for /Type /Page, 2 for /Type /Pages, 0 otherwise. A /Type whose value is
// not a name, or a name not starting with "Page", sends the search on to the
// next top-level /Type; /PageLabel and its kin end it with 0.
int obj_type(const byte *t, int start, int end) {
  int from = start;
  for (;;) {
    int p = find_name_top(t, end, from, end, "Type");
    if (p < 0) return 0;
    int q = skip_ws(t, p + 5, end);
    if (q >= end || t[q] != '/' || q + 5 > end || std::memcmp(t + q + 1, "Page", 4) != 0) {
      from = p + 1;
      continue;
    }
    int c = q + 5;
    if (c == end || !is_word(t[c])) return 1;
    if (t[c] == 's') return (c + 1 == end || !is_word(t[c + 1])) ? 2 : 0;
    return 0;
  }
}

// Position of the "stream" keyword after the dictionary that starts at pos,
// or -1 when the dictionary does not close or no stream follows it.
int dict_stream_kw(const byte *t, int len, int pos) {
  int depth = 0;
  int i = pos < 0 ? 0 : pos;
  while (i < len) {
    byte c = t[i];
    if (c == '<') {
      if (i + 1 >= len) return -1;
      if (t[i + 1] == '<') {
        depth++;
        i += 2;
      } else {
        i++;
      }
    } else if (c == '>') {
      if (i + 1 >= len) return -1;
      if (t[i + 1] == '>') {
        if (depth == 1) {
          int s = skip_ws(t, i + 2, len);
          return kw_at(t, s, len, "stream") ? s : -1;
        }
        depth--;
        i += 2;
      } else {
        i++;
      }
    } else if (c == '(') {
      if (i + 1 >= len) return -1;
      int j = literal_end(t, len, i);
      if (j < 0) return -1;
      i = j;
    } else {
      i++;
    }
  }
  return -1;
}

// Reads an optionally negative decimal integer after white space. The
// position moves past the digits on success and stays put on failure.
int parse_int_at(const byte *t, int len, int *pos) {
  int i = skip_ws(t, *pos, len);
  if (i >= len) return -1;
  bool neg = false;
  if (t[i] == '-') {
    neg = true;
    i++;
    if (i >= len) return -1;
  }
  if (!is_digit(t[i])) return -1;
  std::uint32_t v = 0;
  while (i < len && is_digit(t[i])) {
    v = v * 10u + static_cast<std::uint32_t>(t[i] - '0');
    i++;
  }
  *pos = i;
  if (neg) v = 0u - v;
  return static_cast<int>(v);
}

// Reads an integer for the number pairs of object streams. Unlike
// parse_int_at it always moves: past the number, to the end, or one byte past
// a byte that starts no number ('R' excepted, where it stays).
int read_int_adv(const byte *t, int end, int *pos) {
  int i = *pos;
  if (i >= end) return -1;
  i = skip_ws(t, i, end);
  if (i >= end) {
    *pos = end;
    return -1;
  }
  bool neg = false;
  if (t[i] == '+' || t[i] == '-') {
    neg = t[i] == '-';
    i++;
    if (i >= end) {
      *pos = i;
      return -1;
    }
  }
  if (!is_digit(t[i])) {
    *pos = (t[i] == 'R') ? i : i + 1;
    return -1;
  }
  std::uint32_t v = 0;
  while (i < end && is_digit(t[i])) {
    v = v * 10u + static_cast<std::uint32_t>(t[i] - '0');
    i++;
  }
  *pos = i;
  if (neg) v = 0u - v;
  return static_cast<int>(v);
}

// Reads the first usable /Length entry: a direct integer, the last
// non-negative number of an array, or an indirect reference N G R.
void parse_length(const byte *t, int len, int start, int end, int *direct, int *ref) {
  *direct = -1;
  *ref = -1;
  int from = start;
  for (;;) {
    int p = find_name(t, len, from, end, "Length");
    if (p < 0) return;
    from = p + 1;
    int i = skip_ws(t, p + 8, end);
    if (i >= end) return;
    byte c = t[i];
    if (c == '[') {
      int kept = -1;
      int j = i + 1;
      while (j < end && t[j] != ']') {
        int k = j;
        int v = parse_int_at(t, end, &k);
        if (k != j) {
          if (v >= 0) kept = v;
          j = k;
        } else {
          j++;
        }
      }
      if (kept >= 0) {
        *direct = kept;
        return;
      }
      continue;
    }
    if (is_digit(c) || c == '-') {
      int k = i;
      int v = parse_int_at(t, len, &k);
      if (v < 0) continue;
      int m = skip_ws(t, k, end);
      if (m < end && is_digit(t[m])) {
        parse_int_at(t, end, &m);
        m = skip_ws(t, m, end);
      }
      if (m < end && t[m] == 'R' && (m + 1 == end || !is_word(t[m + 1])))
        *ref = v;
      else
        *direct = v;
      return;
    }
  }
}

}  // namespace zyk
