// Predictors of /DecodeParms, undone after Flate or LZW: TIFF predictor 2
// (8-bit components only) and the PNG predictors 10 to 15, where every row
// starts with its own filter-type byte (0 none, 1 sub, 2 up, 3 average,
// 4 Paeth). A last row cut short is decoded as far as it goes.
#include <algorithm>
#include <cstdlib>

#include "filter/filter.h"

namespace zyk {

DecodeStatus unpredict(const FilterParams &p, std::string *data) {
  if (p.predictor <= 1) return DecodeStatus::done;
  if (p.colors < 1 || p.colors > 32 || p.columns < 1 || p.columns > (1 << 24) ||
      (p.bpc != 1 && p.bpc != 2 && p.bpc != 4 && p.bpc != 8 && p.bpc != 16))
    return DecodeStatus::corrupt;
  const std::size_t bpp = std::max<std::size_t>(1, static_cast<std::size_t>(p.colors * p.bpc) / 8);
  const std::size_t row = (static_cast<std::size_t>(p.colors) * static_cast<std::size_t>(p.bpc) *
                               static_cast<std::size_t>(p.columns) +
                           7) /
                          8;
  std::string out;
  if (p.predictor == 2) {
    if (p.bpc != 8) return DecodeStatus::unsupported;
    out = *data;
    for (std::size_t r = 0; r + row <= out.size(); r += row)
      for (std::size_t i = bpp; i < row; i++)
        out[r + i] =
            static_cast<char>(static_cast<unsigned char>(out[r + i]) + static_cast<unsigned char>(out[r + i - bpp]));
    *data = std::move(out);
    return DecodeStatus::done;
  }
  if (p.predictor < 10) return DecodeStatus::unsupported;
  std::string prior(row, '\0');
  std::string cur(row, '\0');
  std::size_t i = 0;
  while (i < data->size()) {
    auto type = static_cast<unsigned char>((*data)[i++]);
    std::size_t n = std::min(row, data->size() - i);
    std::fill(cur.begin(), cur.end(), '\0');
    std::copy_n(data->begin() + static_cast<std::ptrdiff_t>(i), n, cur.begin());
    i += n;
    for (std::size_t k = 0; k < row; k++) {
      int a = k >= bpp ? static_cast<unsigned char>(cur[k - bpp]) : 0;
      int b = static_cast<unsigned char>(prior[k]);
      int c = k >= bpp ? static_cast<unsigned char>(prior[k - bpp]) : 0;
      int x = static_cast<unsigned char>(cur[k]);
      switch (type) {
        case 0:
          break;
        case 1:
          x += a;
          break;
        case 2:
          x += b;
          break;
        case 3:
          x += (a + b) / 2;
          break;
        case 4: {
          int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
          x += (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
          break;
        }
        default:
          return DecodeStatus::corrupt;
      }
      cur[k] = static_cast<char>(x & 0xff);
    }
    out.append(cur, 0, n);
    prior = cur;
  }
  *data = std::move(out);
  return DecodeStatus::done;
}

}  // namespace zyk
