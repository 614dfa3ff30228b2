#pragma once
// The name every operator type reports through `Op::name`. The gradient rule
// chain matches these texts by equality, suffix and substring, so they are
// fixed character for character ("<f64>" included). Each operator class takes
// its `kName` from here.

#include <array>
#include <string_view>

namespace gradix_autograd::op_names {

inline constexpr std::string_view kAddOp = "gradix_autograd::tensor_ops::binary_ops::AddOp";
inline constexpr std::string_view kSubOp = "gradix_autograd::tensor_ops::binary_ops::SubOp";
inline constexpr std::string_view kMulOp = "gradix_autograd::tensor_ops::binary_ops::MulOp";
inline constexpr std::string_view kDivOp = "gradix_autograd::tensor_ops::binary_ops::DivOp";
inline constexpr std::string_view kMaybeReduceSum = "gradix_autograd::tensor_ops::binary_ops::MaybeReduceSum";
inline constexpr std::string_view kMaybeBroadcast = "gradix_autograd::tensor_ops::binary_ops::MaybeBroadcast";
inline constexpr std::string_view kNegOp = "gradix_autograd::tensor_ops::math_ops::NegOp";
inline constexpr std::string_view kExp = "gradix_autograd::tensor_ops::math_ops::Exp";
inline constexpr std::string_view kLn = "gradix_autograd::tensor_ops::math_ops::Ln";
inline constexpr std::string_view kPow = "gradix_autograd::tensor_ops::math_ops::Pow<f64>";
inline constexpr std::string_view kMaximum = "gradix_autograd::tensor_ops::math_ops::Maximum";
inline constexpr std::string_view kMinimum = "gradix_autograd::tensor_ops::math_ops::Minimum";
inline constexpr std::string_view kGreater = "gradix_autograd::tensor_ops::math_ops::Greater";
inline constexpr std::string_view kEqual = "gradix_autograd::tensor_ops::math_ops::Equal";
inline constexpr std::string_view kTranspose = "gradix_autograd::tensor_ops::math_ops::Transpose";
inline constexpr std::string_view kReshape = "gradix_autograd::tensor_ops::array_ops::Reshape";
inline constexpr std::string_view kSqueeze = "gradix_autograd::tensor_ops::array_ops::Squeeze";
inline constexpr std::string_view kExpandDims = "gradix_autograd::tensor_ops::array_ops::ExpandDims";
inline constexpr std::string_view kShape = "gradix_autograd::tensor_ops::array_ops::Shape";
inline constexpr std::string_view kAddN = "gradix_autograd::tensor_ops::array_ops::AddN";
inline constexpr std::string_view kInferBinOpShape = "gradix_autograd::tensor_ops::array_ops::InferBinOpShape";
inline constexpr std::string_view kSlice = "gradix_autograd::tensor_ops::array_ops::Slice";
inline constexpr std::string_view kSliceGrad = "gradix_autograd::tensor_ops::array_ops::SliceGrad";
inline constexpr std::string_view kGather = "gradix_autograd::tensor_ops::array_ops::Gather";
inline constexpr std::string_view kGatherGrad = "gradix_autograd::tensor_ops::array_ops::GatherGrad";
inline constexpr std::string_view kReduceSum = "gradix_autograd::tensor_ops::reduction_ops::ReduceSum";
inline constexpr std::string_view kReduceSumAll = "gradix_autograd::tensor_ops::reduction_ops::ReduceSumAll";
inline constexpr std::string_view kReduceSumToScalar =
    "gradix_autograd::tensor_ops::reduction_ops::ReduceSumToScalar";
inline constexpr std::string_view kReduceSumToScalarGrad =
    "gradix_autograd::tensor_ops::reduction_ops::ReduceSumToScalarGrad";
inline constexpr std::string_view kReduceMean = "gradix_autograd::tensor_ops::reduction_ops::ReduceMean";
inline constexpr std::string_view kReduceProd = "gradix_autograd::tensor_ops::reduction_ops::ReduceProd";
inline constexpr std::string_view kReduceGradCommon =
    "gradix_autograd::tensor_ops::reduction_ops::ReduceGradCommon";
inline constexpr std::string_view kExclusiveProd = "gradix_autograd::tensor_ops::reduction_ops::ExclusiveProd";
inline constexpr std::string_view kExclusiveProdGrad =
    "gradix_autograd::tensor_ops::reduction_ops::ExclusiveProdGrad";
inline constexpr std::string_view kScalar = "gradix_autograd::tensor_ops::const_gen_ops::Scalar<f64>";
inline constexpr std::string_view kConvertToTensor =
    "gradix_autograd::tensor_ops::const_gen_ops::ConvertToTensor<f64>";
inline constexpr std::string_view kVariable = "gradix_autograd::tensor_ops::basic_source_ops::Variable";
inline constexpr std::string_view kPlaceholder = "gradix_autograd::tensor_ops::basic_source_ops::Placeholder";
inline constexpr std::string_view kScalarMulOp = "gradix_autograd::tensor_ops::scalar_ops::ScalarMulOp<f64>";
inline constexpr std::string_view kMatMul = "gradix_autograd::tensor_ops::dot_ops::MatMul";
inline constexpr std::string_view kAdamOp =
    "gradix_autograd::tensor_ops::gradient_descent_ops::adam::AdamOp<f64>";
inline constexpr std::string_view kDiagOp = "gradix_autograd::tensor_ops::linalg_ops::DiagOp";
inline constexpr std::string_view kTraceBackwardOp = "gradix_autograd::tensor_ops::linalg_ops::TraceBackwardOp";
inline constexpr std::string_view kMatrixInverseOp = "gradix_autograd::tensor_ops::matrix_ops::MatrixInverseOp";
// KroneckerGradOp reports one of two short names, chosen by its `which` field.
inline constexpr std::string_view kKroneckerGradA = "KroneckerGradA";
inline constexpr std::string_view kKroneckerGradB = "KroneckerGradB";
inline constexpr std::string_view kMatrixLogBackwardOp = "MatrixLogBackward";
inline constexpr std::string_view kMatrixPowBackwardOp = "MatrixPowBackward";
inline constexpr std::string_view kMatrixSqrtBackwardOp = "MatrixSqrtBackward";
inline constexpr std::string_view kSVDBackwardOp = "SVDBackward";
inline constexpr std::string_view kCholeskyBackwardOp =
    "gradix_autograd::tensor_ops::decomposition_ops::backward_ops::CholeskyBackwardOp";
inline constexpr std::string_view kLUExtractBackwardOp =
    "gradix_autograd::tensor_ops::decomposition_ops::backward_ops::LUExtractBackwardOp";
inline constexpr std::string_view kQRExtractBackwardOp =
    "gradix_autograd::tensor_ops::decomposition_ops::backward_ops::QRExtractBackwardOp";

struct OpNameEntry {
  std::string_view type;
  std::string_view name;
};

// Every operator type with the name it reports, in declaration order;
// KroneckerGradOp has two rows.
inline constexpr std::array<OpNameEntry, 53> kAllOpNames{{
    {"AddOp", kAddOp},
    {"SubOp", kSubOp},
    {"MulOp", kMulOp},
    {"DivOp", kDivOp},
    {"MaybeReduceSum", kMaybeReduceSum},
    {"MaybeBroadcast", kMaybeBroadcast},
    {"NegOp", kNegOp},
    {"Exp", kExp},
    {"Ln", kLn},
    {"Pow", kPow},
    {"Maximum", kMaximum},
    {"Minimum", kMinimum},
    {"Greater", kGreater},
    {"Equal", kEqual},
    {"Transpose", kTranspose},
    {"Reshape", kReshape},
    {"Squeeze", kSqueeze},
    {"ExpandDims", kExpandDims},
    {"Shape", kShape},
    {"AddN", kAddN},
    {"InferBinOpShape", kInferBinOpShape},
    {"Slice", kSlice},
    {"SliceGrad", kSliceGrad},
    {"Gather", kGather},
    {"GatherGrad", kGatherGrad},
    {"ReduceSum", kReduceSum},
    {"ReduceSumAll", kReduceSumAll},
    {"ReduceSumToScalar", kReduceSumToScalar},
    {"ReduceSumToScalarGrad", kReduceSumToScalarGrad},
    {"ReduceMean", kReduceMean},
    {"ReduceProd", kReduceProd},
    {"ReduceGradCommon", kReduceGradCommon},
    {"ExclusiveProd", kExclusiveProd},
    {"ExclusiveProdGrad", kExclusiveProdGrad},
    {"Scalar", kScalar},
    {"ConvertToTensor", kConvertToTensor},
    {"Variable", kVariable},
    {"Placeholder", kPlaceholder},
    {"ScalarMulOp", kScalarMulOp},
    {"MatMul", kMatMul},
    {"AdamOp", kAdamOp},
    {"DiagOp", kDiagOp},
    {"TraceBackwardOp", kTraceBackwardOp},
    {"MatrixInverseOp", kMatrixInverseOp},
    {"KroneckerGradOp", kKroneckerGradA},
    {"KroneckerGradOp", kKroneckerGradB},
    {"MatrixLogBackwardOp", kMatrixLogBackwardOp},
    {"MatrixPowBackwardOp", kMatrixPowBackwardOp},
    {"MatrixSqrtBackwardOp", kMatrixSqrtBackwardOp},
    {"SVDBackwardOp", kSVDBackwardOp},
    {"CholeskyBackwardOp", kCholeskyBackwardOp},
    {"LUExtractBackwardOp", kLUExtractBackwardOp},
    {"QRExtractBackwardOp", kQRExtractBackwardOp},
}};

}  // namespace gradix_autograd::op_names
