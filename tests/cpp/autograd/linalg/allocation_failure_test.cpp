// An allocation failure inside an operator's compute is that operator's
// OpError, never an exception: called directly, and when the evaluator runs
// it. Failures are injected through sizes no allocation can hold and through
// a limit on the size of single allocations of this test program.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "autograd/evaluation.hpp"
#include "autograd/graph.hpp"
#include "autograd/tensor.hpp"
#include "autograd/linalg/decomposition_ops.hpp"
#include "autograd/linalg/linalg_ops.hpp"
#include "autograd/linalg/matrix_function_ops.hpp"
#include "helpers/allocation_faults.hpp"
#include "linalg_op_test_support.hpp"

namespace {

namespace bo = gradix_autograd::tensor_ops::decomposition_ops::backward_ops;
namespace mf = gradix_autograd::tensor_ops::matrix_functions;
using gradix_autograd::Array;
using gradix_autograd::ArrayShape;
using gradix_autograd::evaluation::EvalResult;
using gradix_autograd::evaluation::Evaluator;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using linalg_test::arr;
using linalg_test::OpKind;

// An array without elements whose extents make a factor too large to exist:
// QR builds an m × m Q, the SVD an n × n V (2^62 doubles each).
Array empty_of_shape(std::size_t rows, std::size_t cols) { return Array(ArrayShape{rows, cols}); }
constexpr std::size_t kHuge = std::size_t{1} << 31;

struct Row {
  const char* what;
  std::shared_ptr<const gradix_autograd::op::Op> op;
  std::vector<Array> inputs;
};

std::vector<Row> impossible_sizes() {
  return {
      {"QR of a 2^31 x 0 matrix", std::make_shared<bo::QRExtractBackwardOp>(1),
       {empty_of_shape(kHuge, 0), empty_of_shape(kHuge, 0)}},
      {"SVD of a 0 x 2^31 matrix", std::make_shared<bo::SVDBackwardOp>(1),
       {empty_of_shape(0, kHuge), gradix_test::vec({})}},
  };
}

std::string out_of_memory(const gradix_autograd::op::Op& op) { return std::string(op.name()) + ": out of memory"; }

TEST(AllocationFailure, ImpossibleSizeIsTheOperatorsError) {
  for (const Row& row : impossible_sizes())
    EXPECT_TRUE(linalg_test::fails_with(*row.op, row.inputs, OpKind::Other, out_of_memory(*row.op))) << row.what;
}

// The evaluator runs every operator through the same guard: the node has no
// value, its target reports the failure, the rest of the graph evaluates.
class ThrowingOp final : public gradix_autograd::op::NamedOp<ThrowingOp> {
 public:
  static constexpr std::string_view kName = "test::ThrowingOp";
  gradix_autograd::op::OpResult compute(gradix_autograd::op::ComputeContext& ctx) const override {
    ctx.append_output(gradix_test::scalar(1.0));
    throw std::bad_alloc();
  }
  void grad(gradix_autograd::op::GradientContext&) const override {}
};

TEST(AllocationFailure, EvaluatorReportsTheNodeAsNotComputed) {
  gradix_autograd::graph::run([](gradix_autograd::graph::Context& ctx) {
    const ThrowingOp throwing;
    gradix_autograd::op::ComputeContext direct({});
    const auto result = gradix_autograd::op::run_compute(throwing, direct);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().debug(), "Other(\"test::ThrowingOp: out of memory\")");
    EXPECT_TRUE(direct.outputs().empty());

    const Tensor a = ctx.placeholder("a", {-1, -1});
    const Tensor g = ctx.placeholder("g", {-1, -1});
    const Tensor qr = TensorBuilder(ctx.graph()).append_input(a, false).append_input(g, false).build(
        bo::QRExtractBackwardOp(1));
    const Tensor thrown = TensorBuilder(ctx.graph()).build(ThrowingOp{});
    const Tensor fine = TensorBuilder(ctx.graph()).append_input(a, false).append_input(g, false).build(
        bo::QRExtractBackwardOp(1));
    const Array huge = empty_of_shape(kHuge, 0);
    const Array two = arr(linalg_test::mat({{2}}));
    const Array one = arr(linalg_test::mat({{1}}));
    std::vector<EvalResult> results;
    EXPECT_NO_THROW(results = Evaluator(ctx).push(qr).push(thrown).feed("a", huge).feed("g", huge).run());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_FALSE(results[0].has_value());
    EXPECT_FALSE(results[1].has_value());
    const EvalResult ok = Evaluator(ctx).feed("a", two).feed("g", one).eval(fine);
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ok->data()[0], 1.0);
  });
}

// Under a memory limit that the square-root gradient's n × n matrices exceed
// (the case that was seen escaping), every linear-algebra operator fails with
// its error and leaves no output; without the limit the same call succeeds.
TEST(AllocationFailure, MemoryLimitIsTheOperatorsError) {
  const std::size_t n = 40;  // 12.8 kB per matrix
  const Array a = arr(linalg_test::fixed_spd(n, 5));
  const Array g = arr(linalg_test::fixed_random(n, n, 6));
  const std::vector<std::shared_ptr<const gradix_autograd::op::Op>> ops = {
      std::make_shared<mf::MatrixSqrtBackwardOp>(), std::make_shared<mf::MatrixLogBackwardOp>(),
      std::make_shared<bo::SVDBackwardOp>(0),       std::make_shared<bo::QRExtractBackwardOp>(0),
      std::make_shared<bo::LUExtractBackwardOp>(1), std::make_shared<bo::CholeskyBackwardOp>(),
  };
  const std::vector<Array> inputs = {a, g};
  for (const auto& op : ops) {
    const std::string expected = out_of_memory(*op);
    {
      const kvel_test::AllocationLimit limit(8000);
      EXPECT_TRUE(linalg_test::fails_with(*op, inputs, OpKind::Other, expected)) << op->name();
    }
    const gradix_test::OpRun run = gradix_test::run_op(*op, inputs);
    EXPECT_TRUE(run.result.has_value()) << op->name() << ": " << run.result.error().debug();
  }
  const gradix_autograd::tensor_ops::linalg_ops::DiagOp diag;
  const std::vector<Array> vector_input = {Array(xt::flatten(arr(linalg_test::fixed_random(1, n, 7))))};
  const std::string expected = out_of_memory(diag);
  const kvel_test::AllocationLimit limit(8000);
  EXPECT_TRUE(linalg_test::fails_with(diag, vector_input, OpKind::Other, expected));
}

}  // namespace
