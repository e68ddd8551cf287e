// Observations are the per-variable columns interleaved row by row, for every
// observation size and for lane counts around the four-lane vector width.
#include <gtest/gtest.h>

#include <vector>

#include "envs/core/interleave.hpp"

namespace vorlisk::envs {
namespace {

template <std::size_t K>
void check(std::size_t lanes) {
  std::vector<std::vector<float>> data(K, std::vector<float>(lanes));
  std::array<const float*, K> columns;
  for (std::size_t c = 0; c < K; ++c) {
    for (std::size_t i = 0; i < lanes; ++i) data[c][i] = static_cast<float>(100 * c + i);
    columns[c] = data[c].data();
  }
  std::vector<float> out(lanes * K + 1, -1.0f);
  interleave<K>(columns, lanes, out.data());
  for (std::size_t i = 0; i < lanes; ++i) {
    for (std::size_t c = 0; c < K; ++c) ASSERT_EQ(out[i * K + c], data[c][i]) << K << " " << i;
  }
  EXPECT_EQ(out[lanes * K], -1.0f) << "wrote past the end";
}

TEST(Interleave, RowsFromColumns) {
  for (std::size_t lanes : {1u, 3u, 4u, 5u, 8u, 13u, 64u}) {
    check<2>(lanes);
    check<3>(lanes);
    check<4>(lanes);
  }
}

}  // namespace
}  // namespace vorlisk::envs
