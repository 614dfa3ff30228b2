#pragma once
// A tree's forward pass through the differentiation engine, with a
// numerically guarded eml: exp(clip(a, -50, 50)) - ln(clip(b, 1e-12, max)).

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "autograd/array.hpp"
#include "autograd/graph.hpp"
#include "core/error.hpp"
#include "expression/tree.hpp"
#include "support/expected.hpp"
#include "support/xtensor.hpp"

namespace kvel_core::forest {

using gradix_autograd::Array;
using gradix_autograd::tensor::Tensor;

// What every forward pass is fed: one array per column of x, in column order,
// and a vector of ones with one entry per row. A search copies its data into
// this form once and reuses it for every evaluation.
struct FeedColumns {
  std::vector<Array> columns;
  Array ones;

  static FeedColumns from_matrix(const xt::xtensor<double, 2>& x);
  std::size_t rows() const noexcept { return ones.size(); }
};

using Prediction = std::vector<double>;

// Evaluates the tree on every row of x in a fresh graph. Fails with an
// evaluation error (the engine error's debug text) or "forward pass produced
// non-finite values".
kvel_support::Expected<Prediction, error::KvelError> eval_tree(const tamrix::tree::EmlTree& tree,
                                                               const xt::xtensor<double, 2>& x);
kvel_support::Expected<Prediction, error::KvelError> eval_tree(const tamrix::tree::EmlTree& tree,
                                                               const FeedColumns& data);

// One: the ones tensor; Const c: c * ones (its own node); Var i: columns[i]
// (fatal when out of range); Eml: left, then right, then the guarded eml.
Tensor build_forward(const tamrix::tree::EmlNode& node, std::span<const Tensor> columns, const Tensor& ones);

// exp(clip(a, -50, 50)) - ln(clip(b, 1e-12, DBL_MAX)), nodes in that order.
Tensor eml_guarded(const Tensor& a, const Tensor& b);

// "kvel_x{j}", interned for the life of the process (never moves).
const std::string& col_placeholder_name(std::size_t j);

// Column placeholders kvel_x0.. for `n` columns, then "kvel_ones", all with
// shape [-1], in that order; returns the ones placeholder.
Tensor make_placeholders(gradix_autograd::graph::Context& ctx, std::size_t n, std::vector<Tensor>& columns);

}  // namespace kvel_core::forest
