#include "autograd/error.hpp"

#include <gtest/gtest.h>

namespace {

using gradix_autograd::error::EvalError;
using gradix_autograd::error::OpError;
using gradix_autograd::error::ShapeErrorKind;

TEST(EngineErrors, DebugFormOfEveryVariant) {
  const std::pair<OpError, std::string> rows[] = {
      {OpError::nd_array_error("reshape", ShapeErrorKind::IncompatibleShape),
       R"(NdArrayError("reshape", ShapeError/IncompatibleShape: incompatible shapes))"},
      {OpError::incompatible_shape("a"), R"(IncompatibleShape("a"))"},
      {OpError::type_unsupported("a"), R"(TypeUnsupported("a"))"},
      {OpError::invalid_dims("a"), R"(InvalidDims("a"))"},
      {OpError::out_of_bounds("a"), R"(OutOfBounds("a"))"},
      {OpError::runtime_error("Failed to compute tensor 12"), R"(RuntimeError("Failed to compute tensor 12"))"},
      {OpError::other(""), R"(Other(""))"},
      {OpError::conversion_error("c", "f64", "i32"), R"(ConversionError { context: "c", from_type: "f64", to_type: "i32" })"},
      {OpError::numeric_range_error("c", "1e400", "f64"),
       R"(NumericRangeError { context: "c", value: "1e400", target_type: "f64" })"},
      {OpError::lock_poison_error("c", "d"), R"(LockPoisonError { context: "c", details: "d" })"},
      {OpError::thread_join_error("a"), R"(ThreadJoinError { context: "a" })"},
      {OpError::slice_error("a"), R"(SliceError { context: "a" })"},
      {OpError::value_error("a"), R"(ValueError("a"))"},
  };
  for (std::size_t tag = 0; tag < std::size(rows); ++tag) {
    EXPECT_EQ(static_cast<std::size_t>(rows[tag].first.kind()), tag);
    EXPECT_EQ(rows[tag].first.debug(), rows[tag].second);
  }
}

TEST(EngineErrors, TextEscapes) {
  const std::pair<std::string, std::string> rows[] = {
      {"", R"("")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"a\\b", R"("a\\b")"},
      {"t\tr\rn\n", R"("t\tr\rn\n")"},
      {std::string("nul\0end", 7), R"("nul\0end")"},
      {"bell\x07 esc\x1b del\x7f", R"("bell\u{7} esc\u{1b} del\u{7f}")"},
      {"it's", R"("it's")"},
      {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
      {"\xc2\x85", R"("\u{85}")"},
  };
  for (const auto& [text, want] : rows) EXPECT_EQ(gradix_autograd::error::debug_text(text), want) << want;
}

TEST(EngineErrors, EvalErrorDebugForms) {
  EXPECT_EQ(EvalError::op_error(OpError::runtime_error("Failed to compute tensor 12")).debug(),
            R"(OpError(RuntimeError("Failed to compute tensor 12")))");
  EXPECT_EQ(EvalError::variable_error("Placeholder not found: \"kvel_x3\"").debug(),
            R"(VariableError("Placeholder not found: \"kvel_x3\""))");
  EXPECT_EQ(EvalError::other("").debug(), R"(Other(""))");
}

TEST(EngineErrors, CopyOwnsItsTexts) {
  std::optional<EvalError> original = EvalError::op_error(OpError::lock_poison_error("ctx", "details"));
  const EvalError copy = *original;
  original.reset();
  ASSERT_EQ(copy.kind(), EvalError::Kind::OpError);
  EXPECT_EQ(copy.wrapped().kind(), OpError::Kind::LockPoisonError);
  EXPECT_EQ(copy.wrapped().field(0), "ctx");
  EXPECT_EQ(copy.wrapped().field(1), "details");
}

}  // namespace
