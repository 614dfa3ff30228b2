#pragma once
// The discovery engine's single error type.

#include <cstdint>
#include <string>

namespace kvel_core::error {

class KvelError {
 public:
  // The tag order is fixed.
  enum class Kind : std::uint8_t {
    Io = 0,
    Csv = 1,
    Parse = 2,
    ShapeMismatch = 3,
    NumericalInstability = 4,
    NotConverged = 5,
    Evaluation = 6,
    Symbolic = 7,
    Backend = 8,
  };

  KvelError(Kind kind, std::string payload) : kind_(kind), payload_(std::move(payload)) {}

  static KvelError shape_mismatch(std::string text) { return {Kind::ShapeMismatch, std::move(text)}; }
  static KvelError numerical_instability(std::string text) {
    return {Kind::NumericalInstability, std::move(text)};
  }
  static KvelError not_converged(std::string text) { return {Kind::NotConverged, std::move(text)}; }
  static KvelError evaluation(std::string text) { return {Kind::Evaluation, std::move(text)}; }

  Kind kind() const noexcept { return kind_; }
  const std::string& payload() const noexcept { return payload_; }
  // The only text form: the variant's prefix, then the payload.
  std::string display() const;

 private:
  Kind kind_;
  std::string payload_;
};

}  // namespace kvel_core::error
