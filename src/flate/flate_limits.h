// The limits of decoding, in one place: the codecs (flate/, filter/) and the
// stream service (pdf/stream.cpp) use these names and no scattered literals.
// Every bound that protects against hostile or oversized input is here.
#pragma once

#include <cstdint>

namespace zyk {

// Largest destination the decoder accepts (exactly this much is allowed).
// Callers size destinations from input lengths, so this also caps the memory
// one decode can make anyone reserve.
inline constexpr std::uint64_t k_inflate_max_out = std::uint64_t{1} << 30;

// The filter chain: no stage of a decoded stream may produce more than this
// many bytes (an optional per-conversion budget may lower it). Its Flate
// stage starts at first factor x input + slack and doubles, and only when
// the decoder reports its output full.
inline constexpr std::uint64_t k_max_decoded = std::uint64_t{1} << 30;
inline constexpr std::uint64_t k_inflate_first_factor = 8;
inline constexpr std::uint64_t k_inflate_slack = 4096;

// One conversion decodes at most this much content in all (page content,
// forms, patterns, appearances; a stream kept in the shared cache counts
// once), and one page's content, its streams joined, is at most this long.
// A few hundred MiB are far beyond any real page; a decompression bomb stops
// here instead of at the memory of the machine.
inline constexpr std::uint64_t k_doc_decode_budget = std::uint64_t{768} << 20;
inline constexpr std::uint64_t k_page_content_max = std::uint64_t{256} << 20;
// Decoded content streams are kept for reuse (pages sharing one stream)
// while their total stays under this many bytes.
inline constexpr std::uint64_t k_content_cache_max = std::uint64_t{64} << 20;

// Streams read for what they say rather than painted: font programs, CMaps
// (ToUnicode, encodings, CIDToGIDMap) and XMP packets. The largest real
// ones are tens of MiB (a full CJK font); one that decodes to more is read
// as absent, so that a small file cannot make a reader hold a gigabyte.
inline constexpr std::uint64_t k_font_stream_max = std::uint64_t{64} << 20;
inline constexpr std::uint64_t k_metadata_max = std::uint64_t{64} << 20;
// A soft mask is read to learn whether it is fully opaque (then it is
// dropped) only up to this many samples; a larger one stays a mask.
inline constexpr std::uint64_t k_mask_samples_max = std::uint64_t{256} << 20;

// Object streams: larger encoded bodies are skipped, decoded bodies are
// bounded, and so are the object count and one object's length.
inline constexpr long long k_objstm_max_encoded = 268435456;
inline constexpr std::uint64_t k_objstm_max_body = 268435455;
inline constexpr int k_objstm_max_n = 100000;
inline constexpr int k_objstm_max_obj_len = 1048576;

// DEFLATE's largest expansion: a 258-byte match costs at least two bits, so
// no stream inflates to more than this many bytes per input byte (plus a
// little for the header and the last block). A destination beyond that
// ratio cannot help a stream that filled a smaller one.
inline constexpr std::uint64_t k_deflate_max_ratio = 1032;
inline constexpr std::uint64_t k_deflate_max_ratio_slack = 64;

// The encoder cuts its input into independent blocks of this many bytes and
// starts its output buffer at the initial size, doubling when full.
inline constexpr std::uint64_t k_deflate_block = 65536;
inline constexpr std::uint64_t k_deflate_out_initial = 1u << 20;
// Hash-chain walk limit per position of the encoder's greedy matcher.
inline constexpr int k_deflate_max_chain = 128;

}  // namespace zyk
