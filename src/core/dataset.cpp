#include "core/dataset.hpp"

namespace kvel_core::dataset {

kvel_support::Expected<DataSet, error::KvelError> DataSet::from_arrays(xt::xtensor<double, 2> x,
                                                             xt::xtensor<double, 1> y) {
  const std::size_t rows = x.shape(0);
  const std::size_t entries = y.shape(0);
  if (rows != entries) {
    return kvel_support::unexpected(error::KvelError::shape_mismatch("x has " + std::to_string(rows) + " rows but y has " +
                                            std::to_string(entries) + " entries"));
  }
  DataSet data;
  data.variable_names.reserve(x.shape(1));
  for (std::size_t i = 0; i < x.shape(1); ++i) data.variable_names.push_back("x" + std::to_string(i));
  data.target_name = "y";
  data.x = std::move(x);
  data.y = std::move(y);
  return data;
}

}  // namespace kvel_core::dataset
