#pragma once
// A one-column data set on an even grid of [0.5, 3] with y = f(x0).

#include <cstddef>
#include <utility>

#include "core/dataset.hpp"

namespace kvel_test {

inline kvel_core::dataset::DataSet grid_data(std::size_t rows, double (*f)(double)) {
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({rows, 1});
  xt::xtensor<double, 1> y = xt::xtensor<double, 1>::from_shape({rows});
  for (std::size_t i = 0; i < rows; ++i) {
    x(i, 0) = 0.5 + 2.5 * static_cast<double>(i) / static_cast<double>(rows > 1 ? rows - 1 : 1);
    y(i) = f(x(i, 0));
  }
  return std::move(kvel_core::dataset::DataSet::from_arrays(std::move(x), std::move(y))).value();
}

}  // namespace kvel_test
