#include "core/codegen.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "support/number_format.hpp"

namespace kvel_core::codegen {
namespace {

using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;

// How one target language spells the leaves and the eml term
// (eml_open, left, eml_middle, right, eml_close).
struct Dialect {
  std::string_view one;
  std::string_view const_suffix;
  std::string_view eml_open;
  std::string_view eml_middle;
  std::string_view eml_close;
  std::string_view param_suffix;
  std::string_view param_separator;
};

constexpr Dialect kNumpy{"1.0", "", "(np.exp(", ") - np.log(", "))", "", ", "};
constexpr Dialect kSympy{"1", "", "(exp(", ") - log(", "))", "", " "};
constexpr Dialect kRust{"1.0_f64", "_f64", "((", ").exp() - (", ").ln())", ": f64", ", "};

void append_expr(std::string& out, const EmlNode& node, const Dialect& dialect) {
  switch (node.kind) {
    case EmlNode::Kind::One:
      out += dialect.one;
      return;
    case EmlNode::Kind::Const:
      kvel_support::append_shortest(out, node.value);
      out += dialect.const_suffix;
      return;
    case EmlNode::Kind::Var:
      out += 'x';
      out += std::to_string(node.index);
      return;
    case EmlNode::Kind::Eml:
      out += dialect.eml_open;
      append_expr(out, *node.left, dialect);
      out += dialect.eml_middle;
      append_expr(out, *node.right, dialect);
      out += dialect.eml_close;
      return;
  }
}

// x0 .. x{n-1} with n = max(num_vars, 1): a tree without variables still
// takes one argument, and unused indices below the largest are kept.
void append_params(std::string& out, const EmlTree& tree, const Dialect& dialect) {
  const std::uint64_t count = std::max<std::uint64_t>(tree.num_vars, 1);
  for (std::uint64_t i = 0; i < count; ++i) {
    if (i != 0) out += dialect.param_separator;
    out += 'x';
    out += std::to_string(i);
    out += dialect.param_suffix;
  }
}

std::string expr_text(const EmlNode& node, const Dialect& dialect) {
  std::string out;
  append_expr(out, node, dialect);
  return out;
}

}  // namespace

std::string numpy_code(const EmlTree& tree) {
  std::string out = "lambda ";
  append_params(out, tree, kNumpy);
  out += ": ";
  append_expr(out, *tree.root, kNumpy);
  return out;
}

std::string sympy_code(const EmlTree& tree) {
  std::string out = "# symbols('";
  append_params(out, tree, kSympy);
  out += "')\n";
  append_expr(out, *tree.root, kSympy);
  return out;
}

std::string rust_code(const EmlTree& tree) {
  std::string out = "fn f(";
  append_params(out, tree, kRust);
  out += ") -> f64 { ";
  append_expr(out, *tree.root, kRust);
  out += " }";
  return out;
}

std::string numpy_expr(const EmlNode& node) { return expr_text(node, kNumpy); }
std::string sympy_expr(const EmlNode& node) { return expr_text(node, kSympy); }
std::string rust_expr(const EmlNode& node) { return expr_text(node, kRust); }

}  // namespace kvel_core::codegen
