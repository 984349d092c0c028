// Opening files protected by the standard security handler (inside the
// reader only; the loader calls it for conversions).
#pragma once

#include <string>
#include <vector>

#include "pdf/pdf.h"

namespace zyk {

// A trailer dictionary's bytes [start, end) in the file image.
struct TrailerWindow {
  int start;
  int end;
};

// How strings or streams of a protected file are enciphered.
enum class Cipher { none, rc4, aes128, aes256 };

// What the security handler yields once the empty user password has opened
// the file: the file key and the ciphers of strings and streams.
struct Security {
  int v = 0;
  int r = 0;
  std::string key;
  Cipher strings = Cipher::none;
  Cipher streams = Cipher::none;
  bool encrypt_metadata = true;
};

// Reads the encryption dictionary t[s, e) ("<<" ... ">>") and authenticates
// the empty user password with the first element of the file identifier.
// Returns false when the handler is not the standard one, its revision is
// unknown, or the file needs a password.
[[nodiscard]] bool security_open(const byte *t, int s, int e, const std::string &id0, Security *sec);

// Deciphers the bytes of a string or stream of object num, generation gen,
// in place. AES data loses its 16-byte initialisation vector and padding.
void decrypt_bytes(const Security &sec, Cipher c, int num, int gen, std::string *data);

// Builds the image of a protected file with every string and stream
// deciphered, for the loader to load instead of the file. `d` holds the file
// and its table after the object scan (steps up to the removal of nested
// objects); `trailers` are the trailer dictionaries that name /Encrypt,
// newest first, and each of /Encrypt, /ID and /Info is taken from the first
// that has it. The image keeps every object in table order under its own number and
// ends in a trailer carrying /Root and /Info and no /Encrypt. Returns false
// when the file cannot be opened without a password.
[[nodiscard]] bool decrypted_image(const Doc &d, const std::vector<TrailerWindow> &trailers, std::string *image);

}  // namespace zyk
