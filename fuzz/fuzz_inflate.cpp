// libFuzzer target for the decoder and the encoder.
//
// Input layout: byte 0 picks the destination capacity (a power of two up to
// 1 MiB, or 0), the rest is the zlib stream. The decoder must stay inside
// the destination and report a length no larger than it. The same bytes are
// then compressed with sx_deflate and must come back unchanged through the
// decoder. Build (clang): see CMakeLists.txt in this folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "flate/flate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint64_t cap = (data[0] % 22) == 21 ? 0 : std::uint64_t{1} << (data[0] % 21);
  auto dst = std::make_unique<unsigned char[]>(cap ? cap : 1);
  std::uint64_t len = 0;
  int rc = zyk::inflate_decompress(data + 1, size - 1, dst.get(), cap, &len);
  if (rc != 0 && len != 0) std::abort();
  if (len > cap) std::abort();

  unsigned char *z = nullptr;
  std::uint64_t zlen = 0;
  if (zyk::sx_deflate(data, size, &z, &zlen) != 0) std::abort();
  auto back = std::make_unique<unsigned char[]>(size ? size : 1);
  std::uint64_t blen = 0;
  if (zyk::inflate_decompress(z, zlen, back.get(), size, &blen) != 0 || blen != size ||
      (size && std::memcmp(back.get(), data, size) != 0))
    std::abort();
  std::free(z);
  return 0;
}
