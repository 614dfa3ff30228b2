#pragma once
// The training data of one search.

#include <string>
#include <vector>

#include "core/error.hpp"
#include "support/expected.hpp"
#include "support/xtensor.hpp"

namespace kvel_core::dataset {

struct DataSet {
  std::vector<std::string> variable_names;  // x0, x1, ... one per column
  std::string target_name;                  // "y"
  xt::xtensor<double, 2> x;                 // rows x variables
  xt::xtensor<double, 1> y;                 // one target per row

  // Only the row count is checked: zero rows, zero columns and non-finite
  // values are accepted here.
  static kvel_support::Expected<DataSet, error::KvelError> from_arrays(xt::xtensor<double, 2> x,
                                                                     xt::xtensor<double, 1> y);
};

}  // namespace kvel_core::dataset
