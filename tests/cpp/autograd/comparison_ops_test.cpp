#include <gtest/gtest.h>

#include "autograd/tensor_ops/math_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace m = gradix_autograd::tensor_ops::math_ops;
using gradix_autograd::Array;
using gradix_autograd::op::Op;
using gradix_test::compute1;
using gradix_test::fatal_message;
using gradix_test::make;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;

const m::Maximum kMax;
const m::Minimum kMin;
const m::Greater kGreater;
const m::Equal kEqual;

TEST(ComparisonOps, ValuesAndShapes) {
  const struct {
    const char* what;
    const Op* op;
    Array x0, x1, want;
  } rows[] = {
      {"max drops NaN", &kMax, vec({1, 5, NAN}), scalar(3), vec({3, 5, 3})},
      {"min drops NaN", &kMin, vec({1, 5, NAN}), scalar(3), vec({1, 3, 3})},
      {"max [1] vs [3]", &kMax, vec({5}), vec({1, 7, 3}), vec({5, 7, 5})},
      {"max 0-d vs [1] keeps 0-d", &kMax, scalar(2), vec({9}), scalar(9)},
      {"max [1] vs 0-d keeps [1]", &kMax, vec({2}), scalar(9), vec({9})},
      {"min NaN NaN", &kMin, vec({NAN}), vec({NAN}), vec({NAN})},
      {"max NaN on the right", &kMax, vec({NAN, 1}), vec({2, NAN}), vec({2, 1})},
      {"max x1 broadcast on axis 0", &kMax, make({2, 3}, {1, 9, 1, 9, 1, 9}), make({1, 3}, {5, 5, 5}),
       make({2, 3}, {5, 9, 5, 9, 5, 9})},
      {"min x0 broadcast on axis 1", &kMin, make({2, 1}, {1, 4}), make({2, 2}, {0, 2, 3, 5}), make({2, 2}, {0, 1, 3, 4})},
      {"greater vector vs 0-d", &kGreater, vec({1, 2, 3}), scalar(2), vec({0, 0, 1})},
      {"greater 0-d vs vector", &kGreater, scalar(2), vec({1, 2, 3}), vec({1, 0, 0})},
      {"greater with NaN", &kGreater, vec({NAN, 1}), vec({0, NAN}), vec({0, 0})},
      {"equal IEEE", &kEqual, vec({0.0, NAN, 1}), vec({-0.0, NAN, 2}), vec({1, 0, 0})},
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(same_array(compute1(*row.op, {row.x0, row.x1}), row.want)) << row.what;
  }
  // A missing input reads as the 0-d zero.
  EXPECT_TRUE(same_array(compute1(kMax, {vec({-1, 1})}), vec({0, 1})));
}

TEST(ComparisonOps, RankAndBroadcastErrors) {
  const struct {
    const Op* op;
    Array x0, x1;
    const char* message;
  } rows[] = {
      {&kMax, vec({1, 2, 3}), make({2, 3}, {1, 2, 3, 4, 5, 6}),
       "Tensor ranks mismatch: 1(Maximum's lhs input) vs 2(Maximum's rhs input)"},
      {&kMin, make({2, 3}, {1, 2, 3, 4, 5, 6}), vec({1, 2, 3}),
       "Tensor ranks mismatch: 2(Minimum's lhs input) vs 1(Minimum's rhs input)"},
      {&kEqual, vec({1, 2}), make({1, 2}, {1, 2}), "Tensor ranks mismatch: 1(Equal's lhs input) vs 2(Equal's rhs input)"},
      {&kGreater, vec({1, 2}), make({1, 2}, {1, 2}),
       "Tensor ranks mismatch: 1(Greater's lhs input) vs 2(Greater's rhs input)"},
      // One-way only: [2, 1] and [1, 3] would co-broadcast, but do not here.
      {&kMax, make({2, 1}, {1, 2}), make({1, 3}, {1, 2, 3}), "Cannot broadcast shapes [2, 1] and [1, 3] for operation Maximum"},
      {&kMax, vec({}), vec({1, 2, 3}), "Cannot broadcast shapes [0] and [3] for operation Maximum"},
      {&kMin, vec({1, 2}), vec({1, 2, 3}), "Cannot broadcast shapes [2] and [3] for operation Minimum"},
      {&kEqual, vec({1, 2}), vec({1, 2, 3}), "Cannot broadcast shapes [2] and [3] for operation Equal"},
      {&kGreater, vec({1, 2}), vec({1, 2, 3}), "Cannot broadcast shapes [2] and [3] for operation Greater"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(fatal_message([&] { gradix_test::run_op(*row.op, {row.x0, row.x1}); }), row.message);
  }
}

// clip(x, lo, hi) is Maximum(Minimum(x, hi), lo) over 0-d bounds.
Array clip_via_min_max(const Array& x, double lo, double hi) { return compute1(kMax, {compute1(kMin, {x, scalar(hi)}), scalar(lo)}); }

TEST(ComparisonOps, ClipThroughMinimumAndMaximum) {
  EXPECT_TRUE(same_array(clip_via_min_max(vec({-100, 0.5, 100, NAN}), -50, 50), vec({-50, 0.5, 50, 50})));
  EXPECT_TRUE(same_array(clip_via_min_max(vec({-100, 0.5, 100, NAN}), 1, 0), vec({1, 1, 1, 1})));
  EXPECT_TRUE(same_array(clip_via_min_max(make({2, 1}, {0.0, 1e300}), 1e-12, 1.7976931348623157e308), make({2, 1}, {1e-12, 1e300})));
}

}  // namespace
