// AES (FIPS-197) with 128- and 256-bit keys, and CBC mode over it.
//
// The state is the 16 input bytes in order (byte r + 4c is row r of column
// c), so loading and storing are plain copies. All tables (the S-box, its
// inverse and the GF(2^8) multiples that MixColumns and its inverse need)
// are computed at compile time from the field arithmetic rather than typed
// in, so there is nothing to mistype and nothing to initialise at run time.
// The cipher works byte by byte; the reader needs it only for the strings
// and streams of protected files, where it is far from the bottleneck.
#include <array>
#include <cstring>

#include "crypt/crypt.h"

namespace zyk {

namespace {

constexpr unsigned char gf_mul(unsigned a, unsigned b) {
  unsigned r = 0;
  for (int i = 0; i < 8; i++) {
    if (b & 1) r ^= a;
    a <<= 1;
    if (a & 0x100) a ^= 0x11B;  // the AES polynomial x^8 + x^4 + x^3 + x + 1
    b >>= 1;
  }
  return static_cast<unsigned char>(r);
}

// The multiplicative inverse as x^254 (0 maps to 0).
constexpr unsigned char gf_inv(unsigned x) {
  unsigned r = 1;
  unsigned p = x;
  for (unsigned e = 254; e; e >>= 1) {
    if (e & 1) r = gf_mul(r, p);
    p = gf_mul(p, p);
  }
  return x ? static_cast<unsigned char>(r) : 0;
}

constexpr unsigned rotl8(unsigned x, int c) { return ((x << c) | (x >> (8 - c))) & 0xFF; }

struct Tables {
  std::array<unsigned char, 256> sbox{}, inv{}, m2{}, m3{}, m9{}, m11{}, m13{}, m14{};
};

constexpr Tables make_tables() {
  Tables t;
  for (unsigned x = 0; x < 256; x++) {
    unsigned b = gf_inv(x);
    unsigned s = b ^ rotl8(b, 1) ^ rotl8(b, 2) ^ rotl8(b, 3) ^ rotl8(b, 4) ^ 0x63;
    t.sbox[x] = static_cast<unsigned char>(s);
    t.inv[s] = static_cast<unsigned char>(x);
    t.m2[x] = gf_mul(x, 2);
    t.m3[x] = gf_mul(x, 3);
    t.m9[x] = gf_mul(x, 9);
    t.m11[x] = gf_mul(x, 11);
    t.m13[x] = gf_mul(x, 13);
    t.m14[x] = gf_mul(x, 14);
  }
  return t;
}

constexpr Tables T = make_tables();
static_assert(T.sbox[0x00] == 0x63 && T.sbox[0x53] == 0xED && T.inv[0x63] == 0x00);

std::uint32_t sub_word(std::uint32_t w) {
  return static_cast<std::uint32_t>(T.sbox[w >> 24]) << 24 | static_cast<std::uint32_t>(T.sbox[(w >> 16) & 0xFF]) << 16 |
         static_cast<std::uint32_t>(T.sbox[(w >> 8) & 0xFF]) << 8 | T.sbox[w & 0xFF];
}

void add_round_key(unsigned char s[16], const std::uint32_t *w) {
  for (int c = 0; c < 4; c++)
    for (int r = 0; r < 4; r++) s[4 * c + r] ^= static_cast<unsigned char>(w[c] >> (24 - 8 * r));
}

void sub_shift(unsigned char s[16]) {
  unsigned char o[16];
  for (int c = 0; c < 4; c++)
    for (int r = 0; r < 4; r++) o[r + 4 * c] = T.sbox[s[r + 4 * ((c + r) & 3)]];
  std::memcpy(s, o, 16);
}

void inv_shift_sub(unsigned char s[16]) {
  unsigned char o[16];
  for (int c = 0; c < 4; c++)
    for (int r = 0; r < 4; r++) o[r + 4 * c] = T.inv[s[r + 4 * ((c - r + 4) & 3)]];
  std::memcpy(s, o, 16);
}

void mix_columns(unsigned char s[16]) {
  for (int c = 0; c < 4; c++) {
    unsigned char *a = s + 4 * c;
    unsigned char a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    a[0] = static_cast<unsigned char>(T.m2[a0] ^ T.m3[a1] ^ a2 ^ a3);
    a[1] = static_cast<unsigned char>(a0 ^ T.m2[a1] ^ T.m3[a2] ^ a3);
    a[2] = static_cast<unsigned char>(a0 ^ a1 ^ T.m2[a2] ^ T.m3[a3]);
    a[3] = static_cast<unsigned char>(T.m3[a0] ^ a1 ^ a2 ^ T.m2[a3]);
  }
}

void inv_mix_columns(unsigned char s[16]) {
  for (int c = 0; c < 4; c++) {
    unsigned char *a = s + 4 * c;
    unsigned char a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    a[0] = static_cast<unsigned char>(T.m14[a0] ^ T.m11[a1] ^ T.m13[a2] ^ T.m9[a3]);
    a[1] = static_cast<unsigned char>(T.m9[a0] ^ T.m14[a1] ^ T.m11[a2] ^ T.m13[a3]);
    a[2] = static_cast<unsigned char>(T.m13[a0] ^ T.m9[a1] ^ T.m14[a2] ^ T.m11[a3]);
    a[3] = static_cast<unsigned char>(T.m11[a0] ^ T.m13[a1] ^ T.m9[a2] ^ T.m14[a3]);
  }
}

}  // namespace

bool aes_key_setup(const unsigned char *key, int key_len, AesKey *k) {
  if (key_len != 16 && key_len != 32) return false;
  const int nk = key_len / 4;
  k->rounds = nk + 6;
  const int total = 4 * (k->rounds + 1);
  for (int i = 0; i < nk; i++)
    k->rk[i] = static_cast<std::uint32_t>(key[4 * i]) << 24 | static_cast<std::uint32_t>(key[4 * i + 1]) << 16 |
               static_cast<std::uint32_t>(key[4 * i + 2]) << 8 | key[4 * i + 3];
  std::uint32_t rcon = 1;
  for (int i = nk; i < total; i++) {
    std::uint32_t t = k->rk[i - 1];
    if (i % nk == 0) {
      t = sub_word(t << 8 | t >> 24) ^ rcon << 24;
      rcon = gf_mul(rcon, 2);
    } else if (nk > 6 && i % nk == 4) {
      t = sub_word(t);
    }
    k->rk[i] = k->rk[i - nk] ^ t;
  }
  return true;
}

void aes_encrypt_block(const AesKey &k, const unsigned char in[16], unsigned char out[16]) {
  unsigned char s[16];
  std::memcpy(s, in, 16);
  add_round_key(s, k.rk);
  for (int round = 1; round < k.rounds; round++) {
    sub_shift(s);
    mix_columns(s);
    add_round_key(s, k.rk + 4 * round);
  }
  sub_shift(s);
  add_round_key(s, k.rk + 4 * k.rounds);
  std::memcpy(out, s, 16);
}

void aes_decrypt_block(const AesKey &k, const unsigned char in[16], unsigned char out[16]) {
  unsigned char s[16];
  std::memcpy(s, in, 16);
  add_round_key(s, k.rk + 4 * k.rounds);
  for (int round = k.rounds - 1; round > 0; round--) {
    inv_shift_sub(s);
    add_round_key(s, k.rk + 4 * round);
    inv_mix_columns(s);
  }
  inv_shift_sub(s);
  add_round_key(s, k.rk);
  std::memcpy(out, s, 16);
}

void aes_cbc_encrypt(const AesKey &k, const unsigned char iv[16], unsigned char *data, std::size_t n) {
  const unsigned char *prev = iv;
  for (std::size_t off = 0; off + 16 <= n; off += 16) {
    unsigned char *b = data + off;
    for (int i = 0; i < 16; i++) b[i] ^= prev[i];
    aes_encrypt_block(k, b, b);
    prev = b;
  }
}

void aes_cbc_decrypt(const AesKey &k, const unsigned char iv[16], unsigned char *data, std::size_t n) {
  unsigned char prev[16], cur[16];
  std::memcpy(prev, iv, 16);
  for (std::size_t off = 0; off + 16 <= n; off += 16) {
    unsigned char *b = data + off;
    std::memcpy(cur, b, 16);
    aes_decrypt_block(k, b, b);
    for (int i = 0; i < 16; i++) b[i] ^= prev[i];
    std::memcpy(prev, cur, 16);
  }
}

}  // namespace zyk
