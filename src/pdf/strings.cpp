// The bytes of PDF literal string tokens. The reader needs them for the
// strings of protected files, the writer for shown text, so the escape rules
// live here once (hexadecimal text is decoded by the filter service's
// hex_decode).
#include <string>

#include "pdf/pdf.h"

namespace zyk {

// Bytes of a literal string token "(...)" by the PDF rules: the escapes
// \n \r \t \b \f \( \) \\, octal \d \dd \ddd (modulo 256), a backslash before
// an end-of-line removes both, a backslash before any other byte is dropped,
// and an unescaped CR or CR LF reads as LF.
void literal_bytes(const byte *t, int s, int e, std::string *out) {
  out->clear();
  int end = e - 1;  // the closing parenthesis, when there is one
  if (end <= s || t[end] != ')') end = e;
  for (int i = s + 1; i < end; i++) {
    byte c = t[i];
    if (c == '\r') {
      out->push_back('\n');
      if (i + 1 < end && t[i + 1] == '\n') i++;
      continue;
    }
    if (c != '\\') {
      out->push_back(static_cast<char>(c));
      continue;
    }
    if (++i >= end) break;
    byte x = t[i];
    switch (x) {
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 't': out->push_back('\t'); break;
      case 'b': out->push_back('\b'); break;
      case 'f': out->push_back('\f'); break;
      case '\r':
        if (i + 1 < end && t[i + 1] == '\n') i++;
        break;
      case '\n': break;
      default:
        if (x >= '0' && x <= '7') {
          int v = x - '0';
          for (int k = 0; k < 2 && i + 1 < end && t[i + 1] >= '0' && t[i + 1] <= '7'; k++) v = v * 8 + (t[++i] - '0');
          out->push_back(static_cast<char>(v & 0xFF));
        } else {
          out->push_back(static_cast<char>(x));
        }
    }
  }
}

}  // namespace zyk
