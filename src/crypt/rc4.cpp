// RC4: a 256-byte permutation keyed once, then one keystream byte per data
// byte, XORed into the data. Encryption and decryption are the same.
#include <utility>

#include "crypt/crypt.h"

namespace zyk {

void rc4(const unsigned char *key, int key_len, unsigned char *data, std::size_t n) {
  if (key_len <= 0) return;
  unsigned char s[256];
  for (int i = 0; i < 256; i++) s[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; i++) {
    j = (j + s[i] + key[i % key_len]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  int i = 0, j = 0;
  for (std::size_t k = 0; k < n; k++) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

}  // namespace zyk
