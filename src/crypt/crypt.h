// Cryptographic primitives: MD5, RC4, AES (128 and 256 bit keys, CBC mode)
// and SHA-256/384/512, and one fast non-cryptographic 128-bit hash.
//
// The primitives serve the reader, which opens files protected by the
// standard security handler with an empty user password; the hash serves
// the writer, which fingerprints its output for the file identifier. None
// of them is used to protect anything, so the code aims at exactness and clarity
// rather than at resistance to timing attacks. Every function works on
// whole buffers given by pointer and length; nothing keeps state between
// calls and no table is built at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyk {

// ---- digests ----------------------------------------------------------------------

void md5(const void *data, std::uint64_t n, unsigned char digest[16]);
void sha256(const void *data, std::size_t n, unsigned char digest[32]);
void sha384(const void *data, std::size_t n, unsigned char digest[48]);
void sha512(const void *data, std::size_t n, unsigned char digest[64]);

// MurmurHash3 x64_128 of n bytes with a 32-bit seed: h1 then h2, each stored
// little-endian. Fast and well mixed, not cryptographic.
void murmur3_128(const void *data, std::uint64_t n, std::uint32_t seed, unsigned char digest[16]);

// ---- RC4 --------------------------------------------------------------------------

// Encrypts or decrypts (the same operation) n bytes in place with a key of
// 1 to 256 bytes.
void rc4(const unsigned char *key, int key_len, unsigned char *data, std::size_t n);

// ---- AES --------------------------------------------------------------------------

// An expanded AES key: 10 rounds for a 16-byte key, 14 for a 32-byte key.
struct AesKey {
  std::uint32_t rk[60];
  int rounds;
};

// key_len is 16 or 32; returns false for any other length.
[[nodiscard]] bool aes_key_setup(const unsigned char *key, int key_len, AesKey *k);
void aes_encrypt_block(const AesKey &k, const unsigned char in[16], unsigned char out[16]);
void aes_decrypt_block(const AesKey &k, const unsigned char in[16], unsigned char out[16]);

// CBC over n bytes in place, n a multiple of 16 (a shorter tail is left as
// it is); no padding is added or removed.
void aes_cbc_encrypt(const AesKey &k, const unsigned char iv[16], unsigned char *data, std::size_t n);
void aes_cbc_decrypt(const AesKey &k, const unsigned char iv[16], unsigned char *data, std::size_t n);

}  // namespace zyk
