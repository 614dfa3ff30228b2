#pragma once
// EML forms of elementary functions, built only from new One leaves, the
// argument trees (shared, not copied) and EmlTree::eml, so num_vars is the
// largest among the arguments. Exact over the complex numbers with the
// principal logarithm; sin and cos pass through complex intermediates.

#include "expression/tree.hpp"

namespace tamrix::canonical {

struct Canonical {
  static tree::EmlTree ln(const tree::EmlTree& x);
  static tree::EmlTree sub(const tree::EmlTree& a, const tree::EmlTree& b);
  static tree::EmlTree neg(const tree::EmlTree& x);
  static tree::EmlTree mul(const tree::EmlTree& a, const tree::EmlTree& b);
  static tree::EmlTree div(const tree::EmlTree& a, const tree::EmlTree& b);
  static tree::EmlTree reciprocal(const tree::EmlTree& x);
  static tree::EmlTree sin(const tree::EmlTree& x);
  static tree::EmlTree cos(const tree::EmlTree& x);
};

}  // namespace tamrix::canonical
