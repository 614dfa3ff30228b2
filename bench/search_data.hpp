#pragma once
// The data the search benchmarks run on: columns spread over [0.5, 3] by a
// golden-ratio walk, target exp(x0) - ln(x0).

#include <cmath>
#include <cstddef>
#include <utility>

#include "core/dataset.hpp"

namespace kvel_bench {

inline kvel_core::dataset::DataSet make_search_data(std::size_t rows, std::size_t cols) {
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({rows, cols});
  xt::xtensor<double, 1> y = xt::xtensor<double, 1>::from_shape({rows});
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t j = 0; j < cols; ++j)
      x(i, j) = 0.5 + 2.5 * std::fmod(0.618033988749895 * static_cast<double>(i * cols + j + 1), 1.0);
    y(i) = std::exp(x(i, 0)) - std::log(x(i, 0));
  }
  return std::move(kvel_core::dataset::DataSet::from_arrays(std::move(x), std::move(y))).value();
}

}  // namespace kvel_bench
