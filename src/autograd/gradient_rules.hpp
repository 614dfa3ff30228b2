#pragma once
// Which gradient rule an operator meets, decided by the name it reports: the
// rules are tried in order and the first whose test matches wins. A test
// compares the whole name, its end, or looks for a literal anywhere in it.
//
// The name is fixed per operator type, so the decision is made once per type
// (see gradient.cpp) and, for every operator of this engine, checked here at
// compile time.

#include <cstdint>
#include <string_view>

#include "autograd/op_names.hpp"

namespace gradix_autograd::gradient {

// Rows of the chain. Rows that several literals share are split by literal
// where the outcome differs (the reductions).
enum class Rule : std::uint8_t {
  kAdd,                  // 1
  kSub,                  // 2
  kMul,                  // 3
  kDiv,                  // 4
  kNeg,                  // 5
  kMaybeReduceSum,       // 6
  kMaybeBroadcast,       // 7
  kReduceGrad,           // 8
  kReduceToScalar,       // 9: ReduceSumToScalar, ReduceSumAll
  kReduceAxes,           // 9: ReduceSum, Mean, ReduceMax, ReduceMin, ReduceProd
  kMatMul,               // 10
  kSigmoid,              // 11
  kReLU,                 // 12
  kTanh,                 // 13
  kSoftmax,              // 14
  kExtractDiag,          // 15
  kCheckpoint,           // 16
  kTrace,                // 17
  kMatrixInverse,        // 18
  kDeterminant,          // 19
  kLinearSolve,          // 20
  kMatrixSqrt,           // 21
  kMatrixLog,            // 22
  kMatrixPow,            // 23
  kSqueeze,              // 24
  kExpandDims,           // 25
  kReshape,              // 26
  kAddN,                 // 27
  kCustomActivation,     // 28
  kConcat,               // 29
  kSlice,                // 30
  kConditional,          // 31
  kConstantSource,       // 32
  kEml,                  // 33
  kKronecker,            // 34
  kScalarMul,            // 35
  kCholesky,             // 36
  kLUExtract,            // 37
  kQRExtract,            // 38
  kSVDExtract,           // 39
  kUnmatched,            // 40
};

namespace detail {

constexpr bool has(std::string_view name, std::string_view literal) {
  return name.find(literal) != std::string_view::npos;
}
constexpr bool ends(std::string_view name, std::string_view literal) { return name.ends_with(literal); }
template <class... L>
constexpr bool is_any(std::string_view name, L... literals) {
  return ((name == literals) || ...);
}
template <class... L>
constexpr bool has_any(std::string_view name, L... literals) {
  return (has(name, literals) || ...);
}

}  // namespace detail

constexpr Rule classify(std::string_view n) {
  using namespace detail;
  if (n == "Add" || ends(n, "AddOp") || is_any(n, "SimdAdd", "SimdElementwiseAdd", "OptimizedBroadcastAdd",
                                               "SimdGradientAccumulate")) {
    return Rule::kAdd;
  }
  if (n == "Sub" || ends(n, "SubOp") || is_any(n, "SimdElementwiseSub", "OptimizedBroadcastSub")) return Rule::kSub;
  if (n == "Mul" || ends(n, "MulOp") || is_any(n, "SimdMul", "SimdElementwiseMul", "OptimizedBroadcastMul")) {
    return Rule::kMul;
  }
  if (n == "Div" || ends(n, "DivOp") || is_any(n, "SimdElementwiseDiv", "OptimizedBroadcastDiv")) return Rule::kDiv;
  if (has(n, "NegOp") || n == "Neg") return Rule::kNeg;
  if (has(n, "MaybeReduceSum")) return Rule::kMaybeReduceSum;
  if (has(n, "MaybeBroadcast")) return Rule::kMaybeBroadcast;
  if (has_any(n, "ReduceSumToScalarGrad", "ReduceGradCommon")) return Rule::kReduceGrad;
  if (has_any(n, "ReduceSumToScalar", "ReduceSumAll")) return Rule::kReduceToScalar;
  if (has_any(n, "ReduceSum", "Mean", "ReduceMax", "ReduceMin", "ReduceProd")) return Rule::kReduceAxes;
  if (ends(n, "MatMul")) return Rule::kMatMul;
  if (has(n, "Sigmoid")) return Rule::kSigmoid;
  if (has(n, "ReLU")) return Rule::kReLU;
  if (has(n, "Tanh")) return Rule::kTanh;
  if (has(n, "Softmax")) return Rule::kSoftmax;
  if (has(n, "ExtractDiagOp") || n == "ExtractDiag") return Rule::kExtractDiag;
  if (has_any(n, "CheckpointOp", "Checkpoint")) return Rule::kCheckpoint;
  if (has(n, "TraceOp") || n == "Trace") return Rule::kTrace;
  if (has_any(n, "MatrixInverseOp", "MatrixInverse") || n == "MatInv") return Rule::kMatrixInverse;
  if (has_any(n, "GeneralDeterminantOp", "Determinant")) return Rule::kDeterminant;
  if (has_any(n, "LinearSolveOp", "LinearSolve")) return Rule::kLinearSolve;
  if (n == "MatrixSqrt") return Rule::kMatrixSqrt;
  if (n == "MatrixLog") return Rule::kMatrixLog;
  if (n == "MatrixPow") return Rule::kMatrixPow;
  if (has(n, "Squeeze")) return Rule::kSqueeze;
  if (has(n, "ExpandDims")) return Rule::kExpandDims;
  if (has_any(n, "Reshape", "Flatten")) return Rule::kReshape;
  if (has(n, "AddN")) return Rule::kAddN;
  if (has(n, "CustomActivation")) return Rule::kCustomActivation;
  if (has(n, "Concat")) return Rule::kConcat;
  if (has(n, "Slice")) return Rule::kSlice;
  if (has(n, "Conditional")) return Rule::kConditional;
  if (has_any(n, "Fill", "Ones", "Zeros", "ConvertToTensor")) return Rule::kConstantSource;
  if (is_any(n, "EmlOp", "EmlElementWiseOp")) return Rule::kEml;
  if (n == "Kronecker") return Rule::kKronecker;
  if (has(n, "ScalarMulOp")) return Rule::kScalarMul;
  if (n == "Cholesky") return Rule::kCholesky;
  if (is_any(n, "LUExtractL", "LUExtractU", "LUExtractP")) return Rule::kLUExtract;
  if (is_any(n, "QRExtractQ", "QRExtractR")) return Rule::kQRExtract;
  if (is_any(n, "SVDExtractU", "SVDExtractS", "SVDExtractVt")) return Rule::kSVDExtract;
  return Rule::kUnmatched;
}

// The rows whose result builds linear-algebra operators.
constexpr bool builds_linear_algebra(Rule r) {
  switch (r) {
    case Rule::kMatMul:
    case Rule::kExtractDiag:
    case Rule::kTrace:
    case Rule::kMatrixInverse:
    case Rule::kDeterminant:
    case Rule::kLinearSolve:
    case Rule::kMatrixSqrt:
    case Rule::kMatrixLog:
    case Rule::kMatrixPow:
    case Rule::kKronecker:
    case Rule::kCholesky:
    case Rule::kLUExtract:
    case Rule::kQRExtract:
    case Rule::kSVDExtract:
      return true;
    default:
      return false;
  }
}

// Rows whose result is not the derivative, so the operator's own `grad` is
// used instead: the binary rows hand a broadcast operand the unreduced
// gradient; the broadcast-helper and reduce-gradient rows pass gy on in the
// wrong shape; the axis reductions spread gy as if every axis were summed
// (no division for a mean, no product rule); the n-ary sum hands a broadcast
// summand the unreduced gradient; and an unmatched name passes gy
// on unchanged (exp, ln, pow, the clip's maximum and minimum, ...).
constexpr bool uses_own_grad(Rule r) {
  switch (r) {
    case Rule::kAdd:
    case Rule::kSub:
    case Rule::kMul:
    case Rule::kDiv:
    case Rule::kMaybeReduceSum:
    case Rule::kReduceGrad:
    case Rule::kReduceAxes:
    case Rule::kAddN:
    case Rule::kUnmatched:
      return true;
    default:
      return false;
  }
}

namespace detail {

struct ExpectedRule {
  std::string_view name;
  Rule rule;
};

namespace on = op_names;
// The rule every operator of this engine meets.
inline constexpr ExpectedRule kExpectedRules[] = {
    {on::kAddOp, Rule::kAdd},
    {on::kSubOp, Rule::kSub},
    {on::kMulOp, Rule::kMul},
    {on::kDivOp, Rule::kDiv},
    {on::kNegOp, Rule::kNeg},
    {on::kMaybeReduceSum, Rule::kMaybeReduceSum},
    {on::kMaybeBroadcast, Rule::kMaybeBroadcast},
    {on::kReduceSumToScalarGrad, Rule::kReduceGrad},
    {on::kReduceGradCommon, Rule::kReduceGrad},
    {on::kReduceSumToScalar, Rule::kReduceToScalar},
    {on::kReduceSumAll, Rule::kReduceToScalar},
    {on::kReduceSum, Rule::kReduceAxes},
    {on::kReduceMean, Rule::kReduceAxes},
    {on::kReduceProd, Rule::kReduceAxes},
    {on::kExclusiveProd, Rule::kUnmatched},
    {on::kExclusiveProdGrad, Rule::kUnmatched},
    {on::kMatMul, Rule::kMatMul},
    {on::kMatrixInverseOp, Rule::kMatrixInverse},
    {on::kSqueeze, Rule::kSqueeze},
    {on::kExpandDims, Rule::kExpandDims},
    {on::kReshape, Rule::kReshape},
    {on::kAddN, Rule::kAddN},
    {on::kSlice, Rule::kSlice},
    {on::kSliceGrad, Rule::kSlice},
    {on::kConvertToTensor, Rule::kConstantSource},
    {on::kScalarMulOp, Rule::kScalarMul},
    {on::kExp, Rule::kUnmatched},
    {on::kLn, Rule::kUnmatched},
    {on::kPow, Rule::kUnmatched},
    {on::kMaximum, Rule::kUnmatched},
    {on::kMinimum, Rule::kUnmatched},
    {on::kGreater, Rule::kUnmatched},
    {on::kEqual, Rule::kUnmatched},
    {on::kTranspose, Rule::kUnmatched},
    {on::kShape, Rule::kUnmatched},
    {on::kInferBinOpShape, Rule::kUnmatched},
    {on::kGather, Rule::kUnmatched},
    {on::kGatherGrad, Rule::kUnmatched},
    {on::kScalar, Rule::kUnmatched},
    {on::kPlaceholder, Rule::kUnmatched},
    {on::kVariable, Rule::kUnmatched},
    {on::kAdamOp, Rule::kUnmatched},
    {on::kDiagOp, Rule::kUnmatched},
    {on::kTraceBackwardOp, Rule::kUnmatched},
    {on::kCholeskyBackwardOp, Rule::kUnmatched},
    {on::kLUExtractBackwardOp, Rule::kUnmatched},
    {on::kQRExtractBackwardOp, Rule::kUnmatched},
    {on::kKroneckerGradA, Rule::kUnmatched},
    {on::kKroneckerGradB, Rule::kUnmatched},
    {on::kMatrixLogBackwardOp, Rule::kUnmatched},
    {on::kMatrixPowBackwardOp, Rule::kUnmatched},
    {on::kMatrixSqrtBackwardOp, Rule::kUnmatched},
    {on::kSVDBackwardOp, Rule::kUnmatched},
};

constexpr bool every_operator_meets_its_rule() {
  for (const ExpectedRule& e : kExpectedRules) {
    if (classify(e.name) != e.rule) return false;
  }
  // Every operator of the engine is in the list above.
  for (const op_names::OpNameEntry& entry : op_names::kAllOpNames) {
    bool listed = false;
    for (const ExpectedRule& e : kExpectedRules) listed = listed || e.name == entry.name;
    if (!listed) return false;
  }
  return true;
}
static_assert(every_operator_meets_its_rule());

}  // namespace detail

}  // namespace gradix_autograd::gradient
