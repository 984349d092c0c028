// The cryptographic primitives against published test vectors: RFC 1321
// (MD5), FIPS 180-4 examples (SHA-2), FIPS-197 appendix C and SP 800-38A
// (AES, CBC) and the classic RC4 vectors. Lengths around the padding
// boundaries (55, 56, 63, 64, 111, 112 bytes) and a message of many blocks
// are checked against digests computed independently.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypt/crypt.h"

using namespace zyk;

namespace {

std::string hex(const unsigned char *p, std::size_t n) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; i++) {
    s.push_back(d[p[i] >> 4]);
    s.push_back(d[p[i] & 15]);
  }
  return s;
}

std::vector<unsigned char> unhex(const std::string &h) {
  std::vector<unsigned char> v;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2) v.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return v;
}

const std::string k56 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string k112 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

}  // namespace

TEST(Md5, Rfc1321Vectors) {
  struct Case {
    std::string msg, want;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {k56, "8215ef0796a20bcaaae116d3876c664a"},  // the length field spills into a second block
      {std::string(1000, 'a'), "cabe45dcc9ae5b66ba86600cca6b8ba8"},
  };
  for (const Case &c : cases) {
    unsigned char d[16];
    md5(c.msg.data(), c.msg.size(), d);
    EXPECT_EQ(hex(d, 16), c.want) << c.msg.size() << " bytes";
  }
}

TEST(Sha2, Fips180Vectors) {
  struct Case {
    std::string msg, sha256, sha384, sha512;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
       "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81"
       "a538327af927da3e"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e"
       "2a9ac94fa54ca49f"},
      {k56, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
       "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c8452b",
       "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd703"
       "54ec631238ca3445"},
      {k112, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
       "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039",
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd2654"
       "5e96e55b874be909"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3",
       "f54480689c6b0b11d0303285d9a81b21a93bca6ba5a1b4472765dca4da45ee328082d469c650cd3b61b16d3266ab8ced",
       "67ba5535a46e3f86dbfbed8cbbaf0125c76ed549ff8b0b9e03e0c88cf90fa634fa7b12b47d77b694de488ace8d9a65967dc96df599727d32"
       "92a8d9d447709c97"},
  };
  for (const Case &c : cases) {
    unsigned char d[64];
    sha256(c.msg.data(), c.msg.size(), d);
    EXPECT_EQ(hex(d, 32), c.sha256) << c.msg.size() << " bytes";
    sha384(c.msg.data(), c.msg.size(), d);
    EXPECT_EQ(hex(d, 48), c.sha384) << c.msg.size() << " bytes";
    sha512(c.msg.data(), c.msg.size(), d);
    EXPECT_EQ(hex(d, 64), c.sha512) << c.msg.size() << " bytes";
  }
}

TEST(Rc4, KnownVectorsAndSymmetry) {
  struct Case {
    std::string key, plain, want;
  } cases[] = {
      {"Key", "Plaintext", "bbf316e8d940af0ad3"},
      {"Wiki", "pedia", "1021bf0420"},
      {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
  };
  for (const Case &c : cases) {
    std::vector<unsigned char> d(c.plain.begin(), c.plain.end());
    const auto *k = reinterpret_cast<const unsigned char *>(c.key.data());
    rc4(k, static_cast<int>(c.key.size()), d.data(), d.size());
    EXPECT_EQ(hex(d.data(), d.size()), c.want) << c.key;
    rc4(k, static_cast<int>(c.key.size()), d.data(), d.size());
    EXPECT_EQ(std::string(d.begin(), d.end()), c.plain) << c.key;
  }
}

TEST(Aes, Fips197BlockVectors) {
  struct Case {
    std::string key, plain, cipher;
  } cases[] = {
      {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
       "8ea2b7ca516745bfeafc49904b496089"},
  };
  for (const Case &c : cases) {
    auto key = unhex(c.key);
    AesKey k;
    ASSERT_TRUE(aes_key_setup(key.data(), static_cast<int>(key.size()), &k));
    auto p = unhex(c.plain);
    unsigned char out[16], back[16];
    aes_encrypt_block(k, p.data(), out);
    EXPECT_EQ(hex(out, 16), c.cipher) << c.key;
    aes_decrypt_block(k, out, back);
    EXPECT_EQ(hex(back, 16), c.plain) << c.key;
  }
  AesKey k;
  unsigned char key[24] = {};
  EXPECT_FALSE(aes_key_setup(key, 24, &k));
}

TEST(Aes, Sp80038aCbcVectors) {
  struct Case {
    std::string key, plain, cipher;
  } cases[] = {
      {"2b7e151628aed2a6abf7158809cf4f3c",
       "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
       "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
       "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
       "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"},
  };
  auto iv = unhex("000102030405060708090a0b0c0d0e0f");
  for (const Case &c : cases) {
    auto key = unhex(c.key);
    AesKey k;
    ASSERT_TRUE(aes_key_setup(key.data(), static_cast<int>(key.size()), &k));
    auto d = unhex(c.plain);
    aes_cbc_encrypt(k, iv.data(), d.data(), d.size());
    EXPECT_EQ(hex(d.data(), d.size()), c.cipher);
    aes_cbc_decrypt(k, iv.data(), d.data(), d.size());
    EXPECT_EQ(hex(d.data(), d.size()), c.plain);
  }
}

// MurmurHash3 x64_128: the reference's verification value (SMHasher hashes
// the keys {0}, {0,1}, ... of lengths 0 to 255 with seed 256 - length, then
// the concatenated digests with seed 0; the first four bytes read
// little-endian must give 0x6384BA69). Every tail length and the seed take
// part, so a slip anywhere changes it.
TEST(Murmur3, ReferenceVerificationValue) {
  unsigned char key[256], digests[16 * 256], final_digest[16];
  for (int i = 0; i < 256; i++) {
    key[i] = static_cast<unsigned char>(i);
    murmur3_128(key, static_cast<std::uint64_t>(i), static_cast<std::uint32_t>(256 - i), digests + 16 * i);
  }
  murmur3_128(digests, sizeof digests, 0, final_digest);
  const std::uint32_t v = static_cast<std::uint32_t>(final_digest[0]) | static_cast<std::uint32_t>(final_digest[1]) << 8 |
                          static_cast<std::uint32_t>(final_digest[2]) << 16 |
                          static_cast<std::uint32_t>(final_digest[3]) << 24;
  EXPECT_EQ(v, 0x6384BA69u);
}

// Digests known from other implementations, and the properties the file
// identifier relies on: the empty input with seed 0 is all zero, and one
// changed or one appended byte changes the digest.
TEST(Murmur3, KnownDigestsAndSensitivity) {
  unsigned char d[16];
  murmur3_128("", 0, 0, d);
  EXPECT_EQ(hex(d, 16), std::string(32, '0'));
  murmur3_128("foo", 3, 0, d);
  std::uint64_t h1 = 0, h2 = 0;
  for (int i = 7; i >= 0; i--) h1 = h1 << 8 | d[i], h2 = h2 << 8 | d[8 + i];
  EXPECT_EQ(static_cast<std::int64_t>(h1), -2129773440516405919LL);
  EXPECT_EQ(static_cast<std::int64_t>(h2), 9128664383759220103LL);

  std::string text(1000, 'x');
  unsigned char base[16], other[16];
  murmur3_128(text.data(), text.size(), 0, base);
  for (std::size_t at : {std::size_t{0}, std::size_t{15}, std::size_t{16}, std::size_t{999}}) {
    std::string t = text;
    t[at] = 'y';
    murmur3_128(t.data(), t.size(), 0, other);
    EXPECT_NE(hex(base, 16), hex(other, 16)) << "byte " << at;
  }
  murmur3_128(text.data(), text.size() - 1, 0, other);
  EXPECT_NE(hex(base, 16), hex(other, 16)) << "one byte shorter";
}
