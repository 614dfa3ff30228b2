#include "autograd/error.hpp"

namespace gradix_autograd::error {

namespace {

enum class Layout : std::uint8_t { Unnamed, NdArray, Named };

struct VariantInfo {
  std::string_view name;
  Layout layout;
  std::array<std::string_view, 3> fields;  // field names of Named variants
};

// Indexed by OpError::Kind.
constexpr std::array<VariantInfo, 13> kVariants{{
    {"NdArrayError", Layout::NdArray, {}},
    {"IncompatibleShape", Layout::Unnamed, {}},
    {"TypeUnsupported", Layout::Unnamed, {}},
    {"InvalidDims", Layout::Unnamed, {}},
    {"OutOfBounds", Layout::Unnamed, {}},
    {"RuntimeError", Layout::Unnamed, {}},
    {"Other", Layout::Unnamed, {}},
    {"ConversionError", Layout::Named, {"context", "from_type", "to_type"}},
    {"NumericRangeError", Layout::Named, {"context", "value", "target_type"}},
    {"LockPoisonError", Layout::Named, {"context", "details"}},
    {"ThreadJoinError", Layout::Named, {"context"}},
    {"SliceError", Layout::Named, {"context"}},
    {"ValueError", Layout::Unnamed, {}},
}};

constexpr std::array<std::string_view, 6> kShapeErrorNames{
    "IncompatibleShape", "IncompatibleLayout", "RangeLimited", "OutOfBounds", "Unsupported", "Overflow"};
constexpr std::array<std::string_view, 6> kShapeErrorTexts{
    "incompatible shapes", "incompatible memory layout", "the shape does not fit in type limits",
    "out of bounds indexing", "unsupported operation", "arithmetic overflow"};

}  // namespace

OpError OpError::nd_array_error(std::string text, ShapeErrorKind shape_error) {
  OpError e(Kind::NdArrayError, std::move(text));
  e.shape_error_ = shape_error;
  return e;
}

OpError OpError::conversion_error(std::string context, std::string from_type, std::string to_type) {
  OpError e(Kind::ConversionError, std::move(context));
  e.fields_[1] = std::move(from_type);
  e.fields_[2] = std::move(to_type);
  return e;
}

OpError OpError::numeric_range_error(std::string context, std::string value, std::string target_type) {
  OpError e(Kind::NumericRangeError, std::move(context));
  e.fields_[1] = std::move(value);
  e.fields_[2] = std::move(target_type);
  return e;
}

OpError OpError::lock_poison_error(std::string context, std::string details) {
  OpError e(Kind::LockPoisonError, std::move(context));
  e.fields_[1] = std::move(details);
  return e;
}

void OpError::append_debug(std::string& out) const {
  const VariantInfo& info = kVariants[static_cast<std::size_t>(kind_)];
  out += info.name;
  switch (info.layout) {
    case Layout::Unnamed:
      out += '(';
      append_debug_text(out, fields_[0]);
      out += ')';
      break;
    case Layout::NdArray: {
      out += '(';
      append_debug_text(out, fields_[0]);
      out += ", ShapeError/";
      const auto k = static_cast<std::size_t>(shape_error_);
      out += kShapeErrorNames[k];
      out += ": ";
      out += kShapeErrorTexts[k];
      out += ')';
      break;
    }
    case Layout::Named:
      out += " { ";
      for (std::size_t i = 0; i < info.fields.size() && !info.fields[i].empty(); ++i) {
        if (i > 0) out += ", ";
        out += info.fields[i];
        out += ": ";
        append_debug_text(out, fields_[i]);
      }
      out += " }";
      break;
  }
}

std::string OpError::debug() const {
  std::string out;
  append_debug(out);
  return out;
}

EvalError EvalError::not_computed(std::size_t id, bool out_of_memory) {
  OpError wrapped = OpError::runtime_error("Failed to compute tensor " + std::to_string(id));
  if (out_of_memory) wrapped = std::move(wrapped).marked_out_of_memory();
  return op_error(std::move(wrapped));
}

std::string EvalError::debug() const {
  std::string out;
  switch (kind_) {
    case Kind::OpError:
      out += "OpError(";
      wrapped_.append_debug(out);
      break;
    case Kind::VariableError:
      out += "VariableError(";
      append_debug_text(out, text_);
      break;
    case Kind::Other:
      out += "Other(";
      append_debug_text(out, text_);
      break;
  }
  out += ')';
  return out;
}

}  // namespace gradix_autograd::error
