// The data files compiled into the library. The build turns data/*.ttf,
// data/*.icc and data/*.bin into byte arrays named after the file (see cmake/EmbedData.cmake);
// this file is the only one that knows those generated names.
#include "font/font.h"
#include "font/source_font.h"

namespace zyk {

extern const unsigned char zyk_data_LiberationSans_Regular_ttf[];
extern const std::size_t zyk_data_LiberationSans_Regular_ttf_size;
extern const unsigned char zyk_data_cjk_cmaps_bin[];
extern const std::size_t zyk_data_cjk_cmaps_bin_size;
extern const unsigned char zyk_data_zyk_srgb_icc[];
extern const std::size_t zyk_data_zyk_srgb_icc_size;
extern const unsigned char zyk_data_zyk_cmyk_icc[];
extern const std::size_t zyk_data_zyk_cmyk_icc_size;

std::span<const unsigned char> font_liberation_sans() {
  return {zyk_data_LiberationSans_Regular_ttf, zyk_data_LiberationSans_Regular_ttf_size};
}

std::span<const unsigned char> cjk_cmap_data() { return {zyk_data_cjk_cmaps_bin, zyk_data_cjk_cmaps_bin_size}; }

std::span<const unsigned char> icc_srgb_profile() { return {zyk_data_zyk_srgb_icc, zyk_data_zyk_srgb_icc_size}; }

std::span<const unsigned char> icc_cmyk_profile() { return {zyk_data_zyk_cmyk_icc, zyk_data_zyk_cmyk_icc_size}; }

}  // namespace zyk
