#include "expression/lower_simplify/normal_form.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "helpers/lowered_build.hpp"

namespace {

namespace ls = tamrix::lower_simplify;
using namespace kvel_test;

TEST(NormalForm, CountsAndHash) {
  const LoweredOp e = add(un(OpKind::Sin, x(3)), mul(c(2), LoweredOp::named_const(1)));
  EXPECT_EQ(ls::count_vars(e), 4u);
  EXPECT_EQ(ls::count_vars(c(1)), 0u);
  EXPECT_EQ(ls::node_count(e), 6u);
  EXPECT_EQ(ls::ops_struct_hash(sub(x(0), c(1.0))), 0x9cebdf152e47e7c9ULL);
  EXPECT_EQ(ls::ops_struct_hash(LoweredOp::named_const(0)), ls::ops_struct_hash(c(3.141592653589793)));
}

TEST(NormalForm, AtomsAreSharedByHashAndNumberedLeftToRight) {
  const LoweredOp ex = un(OpKind::Exp, x(0));
  const LoweredOp e = add(mul(ex, div(x(1), c(2))), sub(un(OpKind::Exp, x(0)), pow(x(0), c(-1))));
  ls::AtomList atoms;
  const LoweredOp replaced = ls::extract_atoms(e, 2, atoms);
  ASSERT_EQ(atoms.size(), 3u);
  EXPECT_EQ(stream(atoms[0].second), stream(ex));
  EXPECT_EQ(atoms[1].first, ls::ops_struct_hash(div(x(1), c(2))));
  EXPECT_EQ(stream(replaced), stream(add(mul(x(2), x(3)), sub(x(2), x(4)))));
  EXPECT_EQ(stream(ls::substitute_atoms(replaced, 2, atoms)), stream(e));
  // Polynomial powers stay; their bases are searched.
  atoms.clear();
  EXPECT_EQ(stream(ls::extract_atoms(pow(ex, c(3)), 1, atoms)), stream(pow(x(1), c(3))));
}

struct Case {
  std::string name;
  LoweredOp in;
  LoweredOp want;  // empty: returned unchanged
};

TEST(NormalForm, CanonicalizeCases) {
  const LoweredOp half_x0 = div(x(0), c(2));
  const LoweredOp sum3 = add(add(x(0), x(1)), c(1));
  const Case rows[] = {
      {"x0+x1 sorts x1 first", add(x(0), x(1)), add(x(1), x(0))},
      {"x0-x1 would grow", sub(x(0), x(1)), {}},
      {"x0+x0", add(x(0), x(0)), mul(c(2), x(0))},
      {"x0*x0", mul(x(0), x(0)), pow(x(0), c(2))},
      {"atom sorts after", add(x(0), un(OpKind::Exp, x(0))), add(un(OpKind::Exp, x(0)), x(0))},
      {"shared quotient atom", add(half_x0, div(x(0), c(2))), mul(c(2), half_x0)},
      {"tiny constant is zero", mul(x(0), c(1e-10)), c(0.0)},
      {"one third", mul(c(0.3333333333), x(0)), mul(c(0.3333333333333333), x(0))},
      {"pi has no fraction", mul(c(3.141592653589793), x(0)), {}},
      {"cube grows", pow(sum3, c(3)), {}},
      {"tenth power has 66 terms", pow(sum3, c(10)), {}},
      {"no variables", add(un(OpKind::Exp, c(1)), un(OpKind::Exp, c(1))), mul(c(2), un(OpKind::Exp, c(1)))},
      {"single atom", un(OpKind::Ln, x(0)), un(OpKind::Ln, x(0))},
      {"exponent overflow", pow(pow(pow(pow(pow(x(0), c(100)), c(100)), c(100)), c(100)), c(100)), {}},
      // The cost follows the expression, not the largest variable index.
      {"x100000000+x100000000", add(x(100000000), x(100000000)), mul(c(2), x(100000000))},
      {"index 10^12", add(x(1000000000000), x(1000000000000)), mul(c(2), x(1000000000000))},
      {"far indices sort as near ones", add(x(3), x(1000000000000)), add(x(1000000000000), x(3))},
      {"largest index", mul(x(UINT64_MAX - 1), x(UINT64_MAX - 1)), pow(x(UINT64_MAX - 1), c(2))},
  };
  for (const auto& r : rows) {
    const LoweredOp got = ls::canonicalize_poly(r.in);
    if (!r.want) {
      EXPECT_TRUE(got.same_node(r.in)) << r.name;
    } else {
      EXPECT_EQ(stream(got), stream(r.want)) << r.name;
    }
  }
}

TEST(NormalForm, ExactlyFiftyTermsPass) {
  // x0 + ... + x49: fifty terms, rewritten; one more variable is too many.
  LoweredOp e = x(0);
  for (std::uint64_t i = 1; i < 50; ++i) e = add(e, x(i));
  const LoweredOp got = ls::canonicalize_poly(e);
  EXPECT_FALSE(got.same_node(e));
  EXPECT_EQ(ls::node_count(got), ls::node_count(e));
  LoweredOp e51 = add(e, x(50));
  EXPECT_TRUE(ls::canonicalize_poly(e51).same_node(e51));
}

TEST(NormalForm, FailedProbeKeepsTheOriginal) {
  // 9e-10 rounds to the fraction 0, but times 2.1^100 it is far from 0.
  const LoweredOp e = mul(c(9e-10), pow(x(0), c(100)));
  EXPECT_TRUE(ls::canonicalize_poly(e).same_node(e));
}

}  // namespace
