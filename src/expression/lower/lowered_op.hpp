#pragma once
// Expressions in ordinary operators: the lowered form of an EML tree, consumed
// by evaluation, hashing, the algebraic simplifier and LaTeX rendering.
// Immutable; children are shared, so copying a LoweredOp is one reference.

#include <cstdint>
#include <memory>

namespace tamrix::lower {

// The 30 kinds, in tag order (the tags are part of the structural hash).
enum class OpKind : std::uint8_t {
  Const = 0,
  Var = 1,
  Add = 2,
  Sub = 3,
  Mul = 4,
  Div = 5,
  Exp = 6,
  Ln = 7,
  Sin = 8,
  Cos = 9,
  Pow = 10,
  Neg = 11,
  Tan = 12,
  Sinh = 13,
  Cosh = 14,
  Tanh = 15,
  Arcsin = 16,
  Arccos = 17,
  Arctan = 18,
  Arcsinh = 19,
  Arccosh = 20,
  Arctanh = 21,
  NamedConst = 22,
  Erf = 23,
  LnGamma = 24,
  Digamma = 25,
  Trigamma = 26,
  Ei = 27,
  Si = 28,
  Ci = 29,
};

inline constexpr int kOpKindCount = 30;

// Leaves are Const, Var and NamedConst; Add, Sub, Mul, Div and Pow are binary;
// every other kind has one child.
constexpr int arity(OpKind kind) noexcept {
  switch (kind) {
    case OpKind::Const:
    case OpKind::Var:
    case OpKind::NamedConst:
      return 0;
    case OpKind::Add:
    case OpKind::Sub:
    case OpKind::Mul:
    case OpKind::Div:
    case OpKind::Pow:
      return 2;
    default:
      return 1;
  }
}

struct LoweredNode;

class LoweredOp {
 public:
  LoweredOp() = default;  // empty handle; only valid as a placeholder

  static LoweredOp constant(double value);
  static LoweredOp var(std::uint64_t index);
  // `index` 0 to 16 (the table of named constants); 17 or more is fatal.
  static LoweredOp named_const(std::uint8_t index);
  static LoweredOp unary(OpKind kind, LoweredOp child);
  static LoweredOp binary(OpKind kind, LoweredOp left, LoweredOp right);

  OpKind kind() const noexcept;
  double value() const noexcept;            // Const
  std::uint64_t index() const noexcept;     // Var
  std::uint8_t named_index() const noexcept;  // NamedConst, 0 to 16
  const LoweredOp& child() const noexcept;  // unary kinds
  const LoweredOp& left() const noexcept;   // binary kinds
  const LoweredOp& right() const noexcept;  // binary kinds

  const LoweredNode* get() const noexcept { return node_.get(); }
  explicit operator bool() const noexcept { return node_ != nullptr; }
  // Same node (not structural equality).
  bool same_node(const LoweredOp& other) const noexcept { return node_ == other.node_; }

 private:
  explicit LoweredOp(std::shared_ptr<const LoweredNode> node) : node_(std::move(node)) {}
  std::shared_ptr<const LoweredNode> node_;
};

struct LoweredNode {
  OpKind kind = OpKind::Const;
  std::uint8_t named = 0;  // NamedConst only
  union {
    double value;
    std::uint64_t index;
  } payload{0.0};
  LoweredOp first;   // the child of a unary kind, the left of a binary kind
  LoweredOp second;  // the right of a binary kind
};

inline OpKind LoweredOp::kind() const noexcept { return node_->kind; }
inline double LoweredOp::value() const noexcept { return node_->payload.value; }
inline std::uint64_t LoweredOp::index() const noexcept { return node_->payload.index; }
inline std::uint8_t LoweredOp::named_index() const noexcept { return node_->named; }
inline const LoweredOp& LoweredOp::child() const noexcept { return node_->first; }
inline const LoweredOp& LoweredOp::left() const noexcept { return node_->first; }
inline const LoweredOp& LoweredOp::right() const noexcept { return node_->second; }

}  // namespace tamrix::lower
