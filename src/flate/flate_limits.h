// The limits of the compression subsystem, in one place. Every bound that
// protects against hostile or oversized input is named here; the code uses
// these names and no scattered literals.
#pragma once

#include <cstdint>

namespace zyk {

// Largest destination the decoder accepts (exactly this much is allowed).
// Callers size destinations from input lengths, so this also caps the memory
// one decode can make anyone reserve.
inline constexpr std::uint64_t k_inflate_max_out = std::uint64_t{1} << 30;

// decoded_stream reserves factor x raw length + slack bytes up front and
// decodes once; data that inflates to more is not available.
inline constexpr std::uint64_t k_stream_out_factor = 20;
inline constexpr std::uint64_t k_stream_out_slack = 4096;

// The encoder cuts its input into independent blocks of this many bytes and
// starts its output buffer at the initial size, doubling when full.
inline constexpr std::uint64_t k_deflate_block = 65536;
inline constexpr std::uint64_t k_deflate_out_initial = 1u << 20;
// Hash-chain walk limit per position of the encoder's greedy matcher.
inline constexpr int k_deflate_max_chain = 128;

}  // namespace zyk
