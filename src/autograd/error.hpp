#pragma once
// Recoverable failures of the engine. `OpError` is what an operator's
// `compute` returns; `EvalError` is the evaluator's result for one target.
// Neither has a display form: the debug form below is the only text, and the
// discovery engine carries it into its own error verbatim.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/debug_text.hpp"

namespace gradix_autograd::error {

// The array library's shape error kinds, with its debug form
// "ShapeError/<Kind>: <description>".
enum class ShapeErrorKind : std::uint8_t {
  IncompatibleShape,
  IncompatibleLayout,
  RangeLimited,
  OutOfBounds,
  Unsupported,
  Overflow,
};

class OpError {
 public:
  // Tag order is fixed (it is also the declaration order).
  enum class Kind : std::uint8_t {
    NdArrayError = 0,
    IncompatibleShape = 1,
    TypeUnsupported = 2,
    InvalidDims = 3,
    OutOfBounds = 4,
    RuntimeError = 5,
    Other = 6,
    ConversionError = 7,
    NumericRangeError = 8,
    LockPoisonError = 9,
    ThreadJoinError = 10,
    SliceError = 11,
    ValueError = 12,
  };

  static OpError nd_array_error(std::string text, ShapeErrorKind shape_error);
  static OpError incompatible_shape(std::string text) { return {Kind::IncompatibleShape, std::move(text)}; }
  static OpError type_unsupported(std::string text) { return {Kind::TypeUnsupported, std::move(text)}; }
  static OpError invalid_dims(std::string text) { return {Kind::InvalidDims, std::move(text)}; }
  static OpError out_of_bounds(std::string text) { return {Kind::OutOfBounds, std::move(text)}; }
  static OpError runtime_error(std::string text) { return {Kind::RuntimeError, std::move(text)}; }
  static OpError other(std::string text) { return {Kind::Other, std::move(text)}; }
  static OpError conversion_error(std::string context, std::string from_type, std::string to_type);
  static OpError numeric_range_error(std::string context, std::string value, std::string target_type);
  static OpError lock_poison_error(std::string context, std::string details);
  static OpError thread_join_error(std::string context) { return {Kind::ThreadJoinError, std::move(context)}; }
  static OpError slice_error(std::string context) { return {Kind::SliceError, std::move(context)}; }
  static OpError value_error(std::string text) { return {Kind::ValueError, std::move(text)}; }
  // The same error, marked as a failure for lack of memory rather than on
  // the operation's input.
  OpError marked_out_of_memory() && {
    out_of_memory_ = true;
    return std::move(*this);
  }

  Kind kind() const noexcept { return kind_; }
  // The text payload of the single-text variants; the first named field
  // (`context`) of the others.
  const std::string& text() const noexcept { return fields_[0]; }
  // Payload field i in declaration order; unused fields are empty.
  const std::string& field(std::size_t i) const { return fields_.at(i); }
  // Meaningful for NdArrayError only.
  ShapeErrorKind shape_error() const noexcept { return shape_error_; }
  // Whether it was marked so; the mark is not part of the debug form.
  bool is_out_of_memory() const noexcept { return out_of_memory_; }

  std::string debug() const;
  void append_debug(std::string& out) const;

 private:
  OpError(Kind kind, std::string first) : kind_(kind) { fields_[0] = std::move(first); }

  Kind kind_;
  ShapeErrorKind shape_error_ = ShapeErrorKind::IncompatibleShape;
  bool out_of_memory_ = false;
  std::array<std::string, 3> fields_;
};

class EvalError {
 public:
  enum class Kind : std::uint8_t { OpError = 0, VariableError = 1, Other = 2 };

  static EvalError op_error(error::OpError wrapped) { return EvalError(std::move(wrapped)); }
  static EvalError variable_error(std::string text) { return EvalError(Kind::VariableError, std::move(text)); }
  static EvalError other(std::string text) { return EvalError(Kind::Other, std::move(text)); }
  // The evaluator's "Failed to compute tensor {id}" for a target that has no
  // value because a node it needs ran out of memory.
  static EvalError not_computed(std::size_t id, bool out_of_memory);

  Kind kind() const noexcept { return kind_; }
  // The wrapped operator error (meaningful for Kind::OpError).
  const error::OpError& wrapped() const noexcept { return wrapped_; }
  // The text of VariableError and Other.
  const std::string& text() const noexcept { return text_; }
  // Whether the failure comes from a lack of memory (then the wrapped
  // error says so too); not part of the debug form.
  bool is_out_of_memory() const noexcept { return kind_ == Kind::OpError && wrapped_.is_out_of_memory(); }

  std::string debug() const;

 private:
  explicit EvalError(error::OpError wrapped)
      : kind_(Kind::OpError), wrapped_(std::move(wrapped)) {}
  EvalError(Kind kind, std::string text)
      : kind_(kind), wrapped_(error::OpError::other({})), text_(std::move(text)) {}

  Kind kind_;
  error::OpError wrapped_;
  std::string text_;
};

// The debug form of a text: quoted, with \" \\ \t \r \n \0 and \u{h} escapes.
using kvel_support::append_debug_text;
using kvel_support::debug_text;

}  // namespace gradix_autograd::error
