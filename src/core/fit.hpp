#pragma once
// Fitting the numeric constants of a tree to the data by Adam steps through
// the differentiation engine, and the leaf-order walks over a tree's
// constants that polishing and snapping share.

#include <cstddef>
#include <span>
#include <vector>

#include "autograd/graph.hpp"
#include "core/cancel.hpp"
#include "core/dataset.hpp"
#include "core/discoverer.hpp"
#include "core/error.hpp"
#include "core/forest.hpp"
#include "expression/tree.hpp"
#include "support/expected.hpp"

namespace kvel_core::fit {

// The values of the Const leaves, left sub-tree before right.
std::vector<double> collect_consts(const tamrix::tree::EmlNode& node);

// A copy of the tree whose Const leaf at leaf position p (counted from the
// counter's start) holds values[p]; the counter advances once per Const leaf.
// A position past the end of values is a fatal error.
tamrix::tree::NodePtr substitute_consts(const tamrix::tree::EmlNode& node, std::span<const double> values,
                                        std::size_t& position);

// The training forward pass: as forest::build_forward, except that the k-th
// Const leaf becomes params[k] * ones and its own value is ignored.
gradix_autograd::tensor::Tensor build_param(const tamrix::tree::EmlNode& node,
                                            std::span<const gradix_autograd::tensor::Tensor> columns,
                                            const gradix_autograd::tensor::Tensor& ones,
                                            std::span<const gradix_autograd::tensor::Tensor> params,
                                            std::size_t& position);

// sum((prediction_i - y_i)^2) / max(n, 1), n = len(y), over the rows both have.
double mean_squared_error(std::span<const double> prediction, const xt::xtensor<double, 1>& y);

struct FittedTree {
  tamrix::tree::EmlTree tree;
  double mse = 0.0;
};

// The data of a search as its fits read it, shared by every fit it runs side
// by side: the columns as forward passes are fed them, and the target both
// as the array the training pass is fed and as the values errors are taken
// against.
struct FitData {
  const forest::FeedColumns& columns;
  const gradix_autograd::Array& target;
  const xt::xtensor<double, 1>& y;
};

// Exactly config.max_epochs full-batch Adam steps on the mean squared error
// (learning rate config.learning_rate), all through one training graph built
// for the fit; then the fitted constants are read back, put into a copy of
// the tree and scored. File
// descriptor 1 is silenced meanwhile. `cancel` is asked before every step.
kvel_support::Expected<FittedTree, error::KvelError> fit_constants(const tamrix::tree::EmlTree& tree,
                                                                   const dataset::DataSet& data,
                                                                   const discoverer::Discoverer& config,
                                                                   const cancel::CancelToken& cancel = cancel::never());
// The same fit on data a search already holds in that form.
kvel_support::Expected<FittedTree, error::KvelError> fit_constants(const tamrix::tree::EmlTree& tree,
                                                                   const FitData& data,
                                                                   const discoverer::Discoverer& config,
                                                                   const cancel::CancelToken& cancel = cancel::never());

}  // namespace kvel_core::fit
