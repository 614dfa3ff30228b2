#include "core/dataset.hpp"

#include <gtest/gtest.h>

#include "core/error.hpp"

namespace {

using kvel_core::dataset::DataSet;
using kvel_core::error::KvelError;

TEST(KvelError, DisplayTextsInTagOrder) {
  const char* prefixes[] = {"I/O error: ",        "CSV error: ",
                            "parse error: ",      "shape mismatch: ",
                            "numerical instability: ", "not converged: ",
                            "evaluation error: ", "symbolic error: ",
                            "backend error: "};
  for (std::uint8_t tag = 0; tag < 9; ++tag) {
    const KvelError e(static_cast<KvelError::Kind>(tag), "detail");
    EXPECT_EQ(e.display(), std::string(prefixes[tag]) + "detail");
  }
  EXPECT_EQ(KvelError::not_converged("no finite-scoring candidate expression found").display(),
            "not converged: no finite-scoring candidate expression found");
}

TEST(DataSet, RowMismatchIsAShapeError) {
  auto result = DataSet::from_arrays(xt::xtensor<double, 2>::from_shape({5, 2}), xt::xtensor<double, 1>::from_shape({4}));
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind(), KvelError::Kind::ShapeMismatch);
  EXPECT_EQ(result.error().display(), "shape mismatch: x has 5 rows but y has 4 entries");
}

TEST(DataSet, AcceptsEmptyShapesAndNamesColumns) {
  auto no_columns = DataSet::from_arrays(xt::xtensor<double, 2>::from_shape({3, 0}), xt::xtensor<double, 1>::from_shape({3}));
  ASSERT_TRUE(no_columns.has_value());
  EXPECT_TRUE(no_columns->variable_names.empty());
  EXPECT_EQ(no_columns->target_name, "y");

  auto no_rows = DataSet::from_arrays(xt::xtensor<double, 2>::from_shape({0, 2}), xt::xtensor<double, 1>::from_shape({0}));
  ASSERT_TRUE(no_rows.has_value());
  EXPECT_EQ(no_rows->variable_names, (std::vector<std::string>{"x0", "x1"}));
}

}  // namespace
