// The 128-bit variant of MurmurHash3 for 64-bit machines (x64_128), written
// from Austin Appleby's public-domain description. The writer fingerprints
// its output with it for the file identifier /ID: the identifier has to be
// the same for the same output and differ when the output differs, but it
// protects nothing, so a non-cryptographic hash that runs several times
// faster than MD5 is enough.
//
// Decisions:
//   - Blocks of 16 bytes are read as two little-endian 64-bit words whatever
//     the machine's byte order (memcpy plus a swap on big-endian hosts), so
//     identifiers do not depend on the host.
//   - The tail of 1 to 15 bytes is folded in byte by byte as the reference
//     does; the length (mod 2^64) enters the finalisation.
//   - The digest is h1 then h2, each little-endian, as the reference stores
//     them on its (little-endian) test machines; its published verification
//     value (tests/crypt) pins the whole function, tail and seed included.
#include <bit>
#include <cstring>

#include "crypt/crypt.h"

namespace zyk {

namespace {

constexpr std::uint64_t k_c1 = 0x87c37b91114253d5ull;
constexpr std::uint64_t k_c2 = 0x4cf5ad432745937full;

std::uint64_t load_le64(const unsigned char *p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

void store_le64(std::uint64_t v, unsigned char *p) {
  for (int i = 0; i < 8; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t fmix64(std::uint64_t k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdull;
  k ^= k >> 33;
  k *= 0xc4ceb9fe1a85ec53ull;
  k ^= k >> 33;
  return k;
}

std::uint64_t mix_k1(std::uint64_t k1) { return std::rotl(k1 * k_c1, 31) * k_c2; }
std::uint64_t mix_k2(std::uint64_t k2) { return std::rotl(k2 * k_c2, 33) * k_c1; }

}  // namespace

void murmur3_128(const void *data, std::uint64_t n, std::uint32_t seed, unsigned char digest[16]) {
  const auto *p = static_cast<const unsigned char *>(data);
  std::uint64_t h1 = seed, h2 = seed;
  const std::uint64_t nblocks = n / 16;
  for (std::uint64_t i = 0; i < nblocks; i++, p += 16) {
    h1 ^= mix_k1(load_le64(p));
    h1 = std::rotl(h1, 27) + h2;
    h1 = h1 * 5 + 0x52dce729;
    h2 ^= mix_k2(load_le64(p + 8));
    h2 = std::rotl(h2, 31) + h1;
    h2 = h2 * 5 + 0x38495ab5;
  }
  const unsigned tail = static_cast<unsigned>(n & 15);
  std::uint64_t k1 = 0, k2 = 0;
  for (unsigned i = tail; i > 8; i--) k2 ^= static_cast<std::uint64_t>(p[i - 1]) << (8 * (i - 9));
  for (unsigned i = tail < 8 ? tail : 8; i > 0; i--) k1 ^= static_cast<std::uint64_t>(p[i - 1]) << (8 * (i - 1));
  if (tail > 8) h2 ^= mix_k2(k2);
  if (tail > 0) h1 ^= mix_k1(k1);
  h1 ^= n;
  h2 ^= n;
  h1 += h2;
  h2 += h1;
  h1 = fmix64(h1);
  h2 = fmix64(h2);
  h1 += h2;
  h2 += h1;
  store_le64(h1, digest);
  store_le64(h2, digest + 8);
}

}  // namespace zyk
