#include "autograd/tensor_ops/array_ops.hpp"

#include <gtest/gtest.h>

#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::Array;
using gradix_autograd::op::Op;
using gradix_test::compute1;
using gradix_test::fatal_message;
using gradix_test::make;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;

const Array k23 = make({2, 3}, {1, 2, 3, 4, 5, 6});

struct Row {
  const char* what;
  std::vector<Array> inputs;
  Array want;               // when neither error nor fatal is set
  std::string error = {};   // IncompatibleShape text
  std::string fatal = {};   // fatal message ("?" for any)
};

void check(const Op& op, const Row& row) {
  if (!row.fatal.empty()) {
    const std::string message = fatal_message([&] { gradix_test::run_op(op, row.inputs); });
    if (row.fatal == "?") {
      EXPECT_NE(message, "") << row.what;
    } else {
      EXPECT_EQ(message, row.fatal) << row.what;
    }
    return;
  }
  gradix_test::OpRun run = gradix_test::run_op(op, row.inputs);
  if (!row.error.empty()) {
    ASSERT_FALSE(run.result.has_value()) << row.what;
    EXPECT_EQ(run.result.error().kind(), gradix_autograd::error::OpError::Kind::IncompatibleShape);
    EXPECT_EQ(run.result.error().text(), row.error) << row.what;
    EXPECT_TRUE(run.outputs.empty()) << row.what;
    return;
  }
  ASSERT_TRUE(run.result.has_value()) << row.what << ": " << run.result.error().debug();
  ASSERT_EQ(run.outputs.size(), 1u) << row.what;
  EXPECT_TRUE(same_array(run.outputs[0], row.want)) << row.what;
}

TEST(ArrayOps, Reshape) {
  const ops::array_ops::Reshape op;
  const Array flat = vec({1, 2, 3, 4, 5, 6});
  const Row rows[] = {
      {"[-1]", {k23, vec({-1})}, flat},
      {"[3, -1]", {k23, vec({3, -1})}, make({3, 2}, {1, 2, 3, 4, 5, 6})},
      {"2.9 reads as 2", {k23, vec({2.9, 3})}, k23},
      {"-0.5 reads as 0", {make({0, 3}, {}), vec({-0.5, 3})}, make({0, 3}, {})},
      {"shape tensor of any shape", {flat, make({2, 1}, {2, 3})}, k23},
      {"0-d to [1, 1]", {scalar(4), vec({1, 1})}, make({1, 1}, {4})},
      {"[-1, 4] truncates 6 / 4", {k23, vec({-1, 4})}, {}, "reshape failed: [2, 3] vs [1, 4]"},
      {"[4, 2]", {k23, vec({4, 2})}, {}, "reshape failed: [2, 3] vs [4, 2]"},
      {"overflowing sizes", {k23, vec({4294967296.0, 4294967296.0})}, {},
       "reshape failed: [2, 3] vs [4294967296, 4294967296]"},
      {"[-1, -1]", {k23, vec({-1, -1})}, {}, {}, "Operation failed"},
      {"NaN", {k23, vec({NAN})}, {}, {}, "Operation failed"},
      {"-2", {k23, vec({-2, -3})}, {}, {}, "Operation failed"},
      {"[-1, 0]", {k23, vec({-1, 0})}, {}, {}, "attempt to divide by zero"},
  };
  for (const Row& row : rows) check(op, row);
}

TEST(ArrayOps, Squeeze) {
  const ops::array_ops::Squeeze op;
  const Array x = make({1, 3, 1}, {1, 2, 3});
  const Row rows[] = {
      {"[0, 2]", {x, vec({0, 2})}, vec({1, 2, 3})},
      {"[-1]", {x, vec({-1})}, make({1, 3}, {1, 2, 3})},
      {"[0]", {x, vec({0})}, make({3, 1}, {1, 2, 3})},
      {"no axes: a copy", {x, vec({})}, x},
      // Negative axes name axes of x whatever else is removed.
      {"[-3, -1]", {x, vec({-3, -1})}, vec({1, 2, 3})},
      {"[-1, 0]", {x, vec({-1, 0})}, vec({1, 2, 3})},
      {"[2, -3]", {x, vec({2, -3})}, vec({1, 2, 3})},
      {"[1]", {x, vec({1})}, {}, {}, "Can't squeeze a dim whose size != 1"},
      {"[3]", {x, vec({3})}, {}, {}, "?"},
      {"[-4]", {x, vec({-4})}, {}, {}, "?"},
      {"[0, 0]", {x, vec({0, 0})}, {}, {}, "?"},
      {"NaN", {x, vec({NAN})}, {}, {}, "Operation failed"},
  };
  for (const Row& row : rows) check(op, row);
}

TEST(ArrayOps, ExpandDims) {
  const ops::array_ops::ExpandDims op;
  const Array v = vec({1, 2, 3});
  const Array m = make({2, 2}, {1, 2, 3, 4});
  const Row rows[] = {
      {"[0]", {v, vec({0})}, make({1, 3}, {1, 2, 3})},
      {"[1]", {v, vec({1})}, make({3, 1}, {1, 2, 3})},
      {"[-1] is position 0 on rank 1", {v, vec({-1})}, make({1, 3}, {1, 2, 3})},
      {"[0, 2] on [2, 2]", {m, vec({2, 0})}, make({1, 2, 1, 2}, {1, 2, 3, 4})},
      {"0-d", {scalar(5), vec({0})}, vec({5})},
      {"[3] past the shape", {v, vec({3})}, {}, {}, "?"},
      {"[-3] below 0", {v, vec({-3})}, {}, {}, "?"},
      {"1e19", {v, vec({1e19})}, {}, {}, "Operation failed"},
  };
  for (const Row& row : rows) check(op, row);
}

TEST(ArrayOps, Transpose) {
  const ops::math_ops::Transpose forward(false);
  const ops::math_ops::Transpose inverted(true);
  const Array t = make({3, 2}, {1, 4, 2, 5, 3, 6});
  // x[i][j][k] = 100i + 10j + k over shape [2, 3, 4].
  std::vector<double> values;
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 4; ++k) values.push_back(100 * i + 10 * j + k);
  const Array x3 = make({2, 3, 4}, values);
  const std::string length = "transpose: inputs's ndim and axes's length must match";
  const Row rows[] = {
      {"[1, 0]", {k23, vec({1, 0})}, t},
      {"identity", {k23, vec({0, 1})}, k23},
      {"0-d with no axes", {scalar(2), vec({})}, scalar(2)},
      {"length", {k23, vec({0})}, {}, length},
      {"repeated axis", {k23, vec({0, 0})}, {}, {}, "?"},
      {"axis past the rank", {k23, vec({0, 2})}, {}, {}, "?"},
      {"-1", {k23, vec({-1, 0})}, {}, {}, "Operation failed"},
  };
  for (const Row& row : rows) check(forward, row);
  check(inverted, {"inverted [1, 0]", {k23, vec({1, 0})}, t});
  check(inverted, {"inverted past the rank", {k23, vec({2, 0})}, {}, {}, "?"});

  // Result axis i is x's axis p[i]: [2, 0, 1] gives (x2, x0, x1) = [4, 2, 3].
  const Array y = compute1(forward, {x3, vec({2, 0, 1})});
  ASSERT_EQ(y.dimension(), 3u);
  EXPECT_EQ(std::vector<std::size_t>(y.shape().begin(), y.shape().end()), (std::vector<std::size_t>{4, 2, 3}));
  EXPECT_EQ(y(3, 1, 2), 123.0);  // y[k][i][j] = x[i][j][k]
  // Inverted, x's axis i goes to position p[i]: (x1, x2, x0) = [3, 4, 2].
  const Array z = compute1(inverted, {x3, vec({2, 0, 1})});
  EXPECT_EQ(std::vector<std::size_t>(z.shape().begin(), z.shape().end()), (std::vector<std::size_t>{3, 4, 2}));
  EXPECT_EQ(z(2, 3, 1), 123.0);  // z[j][k][i] = x[i][j][k]
}

TEST(ArrayOps, ShapeAndAddN) {
  const ops::array_ops::Shape shape;
  check(shape, {"[4, 1]", {make({4, 1}, {1, 2, 3, 4})}, vec({4, 1})});
  check(shape, {"0-d", {scalar(1)}, vec({})});

  const ops::array_ops::AddN add_n;
  const Row rows[] = {
      {"one input: a copy", {k23}, k23},
      {"vector and 0-d", {vec({1, 2, 3}), scalar(10)}, vec({11, 12, 13})},
      {"two co-broadcast", {make({2, 1}, {1, 2}), vec({10, 20})}, make({2, 2}, {11, 21, 12, 22})},
      {"three, the third broadcast", {k23, k23, vec({100, 200, 300})}, make({2, 3}, {102, 204, 306, 108, 210, 312})},
      {"four in order", {vec({1e16}), vec({1}), vec({1}), vec({-1e16})}, vec({0})},
      {"no inputs", {}, {}, {}, "internal error: entered unreachable code"},
      {"a third input may not grow the sum", {vec({1, 2, 3}), vec({1, 2, 3}), k23}, {}, {}, "?"},
      {"two that do not co-broadcast", {vec({1, 2}), vec({1, 2, 3})}, {}, {}, "?"},
  };
  for (const Row& row : rows) check(add_n, row);
}

}  // namespace
