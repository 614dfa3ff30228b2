#include "core/error.hpp"

namespace kvel_core::error {

std::string KvelError::display() const {
  const char* prefix = "";
  switch (kind_) {
    case Kind::Io: prefix = "I/O error: "; break;
    case Kind::Csv: prefix = "CSV error: "; break;
    case Kind::Parse: prefix = "parse error: "; break;
    case Kind::ShapeMismatch: prefix = "shape mismatch: "; break;
    case Kind::NumericalInstability: prefix = "numerical instability: "; break;
    case Kind::NotConverged: prefix = "not converged: "; break;
    case Kind::Evaluation: prefix = "evaluation error: "; break;
    case Kind::Symbolic: prefix = "symbolic error: "; break;
    case Kind::Backend: prefix = "backend error: "; break;
  }
  return prefix + payload_;
}

}  // namespace kvel_core::error
