#include "autograd/tensor_ops/slicing_ops.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops::array_ops;
using gradix_autograd::Array;
using gradix_test::compute1;
using gradix_test::fatal_message;
using gradix_test::make;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;
using Range = ops::SliceElement;

const Array k5 = vec({0, 1, 2, 3, 4});

TEST(Slicing, Slice) {
  struct Row {
    const char* what;
    std::vector<Range> ranges;
    Array x, want;
  };
  const Array m = make({3, 3}, {0, 1, 2, 3, 4, 5, 6, 7, 8});
  const Row rows[] = {
      {"1..3", {{1, 3, 1}}, k5, vec({1, 2})},
      {"1..", {{1, std::nullopt, 1}}, k5, vec({1, 2, 3, 4})},
      {"-2..", {{-2, std::nullopt, 1}}, k5, vec({3, 4})},
      {"0..-2", {{0, -2, 1}}, k5, vec({0, 1, 2})},
      {"step 2", {{0, std::nullopt, 2}}, k5, vec({0, 2, 4})},
      {"step -2 walks backwards", {{0, std::nullopt, -2}}, k5, vec({4, 2, 0})},
      {"end before start is empty", {{3, 1, 1}}, k5, vec({})},
      {"5..5 is empty", {{5, 5, 1}}, k5, vec({})},
      {"per axis", {{1, std::nullopt, 1}, {0, 2, 1}}, m, make({2, 2}, {3, 4, 6, 7})},
  };
  for (const Row& row : rows) EXPECT_TRUE(same_array(compute1(ops::Slice(row.ranges), {row.x}), row.want)) << row.what;

  const std::vector<std::vector<Range>> refused = {
      {{6, std::nullopt, 1}},  // start past the axis
      {{-6, std::nullopt, 1}},
      {{0, 6, 1}},  // end past the axis: never clamped
      {{0, -6, 1}},
      {{0, 2, 0}},                  // step 0
      {{0, 2, 1}, {0, 1, 1}},       // two ranges for rank 1
  };
  for (const auto& ranges : refused) EXPECT_NE(fatal_message([&] { compute1(ops::Slice(ranges), {k5}); }), "");
  const ops::Slice slice({{1, 3, 1}});
  EXPECT_EQ(slice.as_any(), &slice);
}

// A step beyond the axis selects one position; the region is computed
// without overflow for every step, the extreme ones included.
TEST(Slicing, ExtremeSteps) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const Array m = make({2, 5}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  const struct {
    const char* what;
    std::int64_t step;
    Array want;
  } rows[] = {
      {"INT64_MAX", kMax, make({2, 1}, {0, 5})},
      {"INT64_MIN", kMin, make({2, 1}, {4, 9})},
      {"INT64_MAX - 1", kMax - 1, make({2, 1}, {0, 5})},
      {"5", 5, make({2, 1}, {0, 5})},
      {"4", 4, make({2, 2}, {0, 4, 5, 9})},
  };
  for (const auto& row : rows) {
    const std::vector<Range> ranges{{0, std::nullopt, 1}, {0, std::nullopt, row.step}};
    EXPECT_TRUE(same_array(compute1(ops::Slice(ranges), {m}), row.want)) << row.what;
    const Array spread = compute1(ops::SliceGrad(ranges), {m, row.want});
    double total = 0;
    for (std::size_t i = 0; i < spread.size(); ++i) total += spread.data()[i];
    double want_total = 0;
    for (std::size_t i = 0; i < row.want.size(); ++i) want_total += row.want.data()[i];
    EXPECT_EQ(total, want_total) << row.what;
  }
}

TEST(Slicing, SliceGrad) {
  const ops::SliceGrad grad({{1, 3, 1}});
  EXPECT_TRUE(same_array(compute1(grad, {k5, vec({10, 20})}), vec({0, 10, 20, 0, 0})));
  EXPECT_TRUE(same_array(compute1(grad, {k5, scalar(7)}), vec({0, 7, 7, 0, 0})));
  EXPECT_TRUE(same_array(compute1(grad, {k5, vec({7})}), vec({0, 7, 7, 0, 0})));
  const ops::SliceGrad rows({{0, 2, 1}, {1, std::nullopt, 1}});
  EXPECT_TRUE(same_array(compute1(rows, {make({2, 3}, {9, 9, 9, 9, 9, 9}), vec({1, 2})}),
                         make({2, 3}, {0, 1, 2, 0, 1, 2})));
  EXPECT_NE(fatal_message([&] { compute1(grad, {k5, vec({1, 2, 3})}); }), "");
  EXPECT_EQ(ops::SliceGrad({}).as_any(), nullptr);
}

TEST(Slicing, Gather) {
  struct Row {
    const char* what;
    std::int64_t axis;
    bool normalize;
    Array indices, want;
  };
  const Array p = make({3, 2}, {1, 2, 3, 4, 5, 6});
  const Row rows[] = {
      {"rows 2 and 0", 0, true, vec({2, 0}), make({2, 2}, {5, 6, 1, 2})},
      {"indices of shape [2, 1]", 0, true, make({2, 1}, {2, 0}), make({2, 1, 2}, {5, 6, 1, 2})},
      {"0-d index", 0, true, scalar(1), vec({3, 4})},
      {"axis 1", 1, true, vec({1}), make({3, 1}, {2, 4, 6})},
      {"axis -1", -1, true, vec({0, 0}), make({3, 2}, {1, 1, 3, 3, 5, 5})},
      {"-1 is the last row", 0, true, vec({-1}), make({1, 2}, {5, 6})},
      {"-5 reads as row 0", 0, true, vec({-5}), make({1, 2}, {1, 2})},
      {"1.7 reads as 1", 0, false, vec({1.7}), make({1, 2}, {3, 4})},
      {"no indices", 0, false, vec({}), make({0, 2}, {})},
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(same_array(compute1(ops::Gather(row.axis, row.normalize), {row.indices, p}), row.want)) << row.what;
  }
  EXPECT_EQ(fatal_message([&] { compute1(ops::Gather(0, false), {vec({-1}), p}); }), "Invalid index value");
  EXPECT_EQ(fatal_message([&] { compute1(ops::Gather(0, false), {vec({NAN}), p}); }), "Invalid index value");
  EXPECT_NE(fatal_message([&] { compute1(ops::Gather(0, true), {vec({3}), p}); }), "");
  EXPECT_NE(fatal_message([&] { compute1(ops::Gather(2, true), {vec({0}), p}); }), "");
  EXPECT_NE(fatal_message([&] { compute1(ops::Gather(-3, true), {vec({0}), p}); }), "");
}

TEST(Slicing, GatherGrad) {
  EXPECT_TRUE(same_array(compute1(ops::GatherGrad(0), {vec({0, 0, 2}), vec({0, 0, 0}), vec({1, 2, 3})}),
                         vec({3, 0, 3})));
  const Array p = make({3, 2}, {0, 0, 0, 0, 0, 0});
  // gy of shape [2, 2] for the rows picked by -1 and 0.
  EXPECT_TRUE(same_array(compute1(ops::GatherGrad(0), {vec({-1, 0}), p, make({2, 2}, {1, 2, 3, 4})}),
                         make({3, 2}, {3, 4, 0, 0, 1, 2})));
  EXPECT_TRUE(same_array(compute1(ops::GatherGrad(1), {vec({1}), p, vec({1, 2, 3})}),
                         make({3, 2}, {0, 1, 0, 2, 0, 3})));
  EXPECT_EQ(fatal_message([&] { compute1(ops::GatherGrad(0), {vec({0}), p, vec({1, 2, 3})}); }), "Operation failed");
  EXPECT_EQ(fatal_message([&] { compute1(ops::GatherGrad(0), {vec({1e19}), p, vec({1, 2})}); }),
            "index out of bounds: index 10000000000000000000 on an axis of length 3");
  EXPECT_NE(fatal_message([&] { compute1(ops::GatherGrad(0), {vec({3}), p, vec({1, 2})}); }), "");
  EXPECT_NE(fatal_message([&] { compute1(ops::GatherGrad(0, false), {vec({-1}), p, vec({1, 2})}); }), "");
}

// The gradient lands where Gather read: the indices are normalised once, as
// the forward pass does it, and then truncated.
TEST(Slicing, GatherGradReadsIndicesAsGatherDoes) {
  const Array p = make({3, 2}, {1, 2, 3, 4, 5, 6});
  const struct {
    const char* label;
    double index;
    bool normalize;
  } rows[] = {
      {"-1.5 reads position 1", -1.5, true},
      {"-5 reads position 0", -5, true},
      {"-4 reads position 0", -4, true},
      {"-0.5 reads position 2", -0.5, true},
      {"-0.5 without normalising reads position 0", -0.5, false},
      {"1.7 reads position 1", 1.7, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const Array picked = compute1(ops::Gather(0, row.normalize), {vec({row.index}), p});
    ASSERT_EQ(picked.size(), 2u);
    const Array spread = compute1(ops::GatherGrad(0, row.normalize), {vec({row.index}), p, make({1, 2}, {1, 1})});
    // The row that received the gradient is the row that was read.
    for (std::size_t r = 0; r < 3; ++r) {
      const bool read = p.data()[2 * r] == picked.data()[0];
      EXPECT_EQ(spread.data()[2 * r], read ? 1.0 : 0.0) << "row " << r;
    }
  }
}

}  // namespace
