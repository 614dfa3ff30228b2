#include "expression/symreg/topology.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace topo = tamrix::symreg::topology;
using tamrix::tree::EmlTree;

std::uint64_t depth_of(const tamrix::tree::EmlNode& node) {
  if (node.is_leaf()) return 0;
  const std::uint64_t l = depth_of(*node.left);
  const std::uint64_t r = depth_of(*node.right);
  return 1 + (l > r ? l : r);
}

std::vector<std::string> texts(const std::vector<EmlTree>& trees) {
  std::vector<std::string> out;
  for (const EmlTree& t : trees) out.push_back(t.to_string());
  return out;
}

struct CountRow {
  std::size_t n;
  std::size_t by_depth[4];
};

class TopologyCounts : public ::testing::TestWithParam<CountRow> {};

TEST_P(TopologyCounts, TreesPerDepthAndListLengths) {
  const CountRow row = GetParam();
  const topo::NodeList leaves = topo::build_leaves(row.n, false, 0.0);
  std::size_t total = 0;
  for (std::size_t d = 0; d < 4; ++d) {
    EXPECT_EQ(topo::enumerate_at_depth_nodes(d, leaves).size(), row.by_depth[d]) << "depth " << d;
    total += row.by_depth[d];
    const std::vector<EmlTree> all = topo::enumerate_topologies(d, row.n);
    ASSERT_EQ(all.size(), total) << "max depth " << d;
    // Grouped by depth, ascending.
    for (std::size_t i = 1; i < all.size(); ++i) ASSERT_LE(depth_of(*all[i - 1].root), depth_of(*all[i].root));
  }
}

INSTANTIATE_TEST_SUITE_P(CountTable, TopologyCounts,
                         ::testing::Values(CountRow{0, {1, 1, 3, 21}}, CountRow{1, {2, 4, 32, 1408}},
                                           CountRow{2, {3, 9, 135, 21465}},
                                           CountRow{3, {4, 16, 384, 162816}}));

TEST(Topology, OrderForOneVariable) {
  EXPECT_EQ(texts(topo::enumerate_topologies(1, 1)),
            (std::vector<std::string>{"1", "x0", "eml(1, 1)", "eml(1, x0)", "eml(x0, 1)", "eml(x0, x0)"}));
  const std::vector<std::string> d2 = texts(topo::enumerate_topologies(2, 1));
  ASSERT_EQ(d2.size(), 38u);
  EXPECT_EQ(d2[6], "eml(eml(1, 1), eml(1, 1))");
  EXPECT_EQ(d2[7], "eml(eml(1, 1), eml(1, x0))");
  EXPECT_EQ(d2[21], "eml(eml(x0, x0), eml(x0, x0))");
  EXPECT_EQ(d2[22], "eml(eml(1, 1), 1)");
  EXPECT_EQ(d2[23], "eml(eml(1, 1), x0)");
  EXPECT_EQ(d2[24], "eml(eml(1, x0), 1)");
  EXPECT_EQ(d2[29], "eml(eml(x0, x0), x0)");
  EXPECT_EQ(d2[30], "eml(1, eml(1, 1))");
  EXPECT_EQ(d2[33], "eml(1, eml(x0, x0))");
  EXPECT_EQ(d2[34], "eml(x0, eml(1, 1))");
  EXPECT_EQ(d2[37], "eml(x0, eml(x0, x0))");
}

TEST(Topology, DepthZeroIsTheLeavesAndTwoVariableStart) {
  EXPECT_EQ(texts(topo::enumerate_topologies(0, 3)), (std::vector<std::string>{"1", "x0", "x1", "x2"}));
  const std::vector<std::string> t = texts(topo::enumerate_topologies(1, 2));
  EXPECT_EQ(std::vector<std::string>(t.begin() + 3, t.begin() + 7),
            (std::vector<std::string>{"eml(1, 1)", "eml(1, x0)", "eml(1, x1)", "eml(x0, 1)"}));
}

TEST(Topology, LeavesWithConstantComeLast) {
  const topo::NodeList leaves = topo::build_leaves(2, true, 2.5);
  ASSERT_EQ(leaves.size(), 4u);
  EXPECT_EQ(leaves[0]->kind, tamrix::tree::EmlNode::Kind::One);
  EXPECT_EQ(leaves[2]->index, 1u);
  EXPECT_EQ(leaves[3]->kind, tamrix::tree::EmlNode::Kind::Const);
  EXPECT_EQ(leaves[3]->value, 2.5);
}

TEST(Topology, EachTreeCountsItsOwnVariables) {
  for (const EmlTree& t : topo::enumerate_topologies(3, 2)) {
    ASSERT_EQ(t.num_vars, tamrix::tree::count_vars(*t.root)) << t.to_string();
  }
  const std::vector<EmlTree> d1 = topo::enumerate_topologies(1, 2);
  EXPECT_EQ(d1[3].num_vars, 0u);  // eml(1, 1)
  EXPECT_EQ(d1[5].num_vars, 2u);  // eml(1, x1)
  EXPECT_EQ(d1[6].num_vars, 1u);  // eml(x0, 1)
}

TEST(Topology, ChildrenAreSharedNotCopied) {
  const topo::NodeList leaves = topo::build_leaves(1, false, 0.0);
  const topo::NodeList d1 = topo::enumerate_at_depth_nodes(1, leaves);
  EXPECT_EQ(d1[0]->left.get(), leaves[0].get());
  EXPECT_EQ(d1[1]->right.get(), leaves[1].get());
  // Depth 3 trees share their depth-2 and depth-1 children with each other.
  std::vector<EmlTree> d3;
  topo::enumerate_at_depth(3, leaves, d3);
  EXPECT_EQ(d3[0].root->left.get(), d3[1].root->left.get());
  EXPECT_EQ(d3[0].root->left->left.get(), d3[0].root->right->left.get());
}

TEST(Topology, LazyWalkVisitsTheEagerSequence) {
  for (std::size_t n = 0; n <= 3; ++n) {
    for (std::size_t depth = 0; depth <= 3; ++depth) {
      const std::vector<EmlTree> eager = topo::enumerate_topologies(depth, n);
      std::size_t i = 0;
      bool same = true;
      const bool finished = topo::for_each_topology(depth, n, [&](const EmlTree& t) {
        same = same && i < eager.size() && t.num_vars == eager[i].num_vars &&
               t.to_string() == eager[i].to_string();
        ++i;
        return true;
      });
      EXPECT_TRUE(finished);
      EXPECT_TRUE(same) << "n=" << n << " depth=" << depth << " at " << i;
      EXPECT_EQ(i, eager.size()) << "n=" << n << " depth=" << depth;
    }
  }
}

TEST(Topology, LazyWalkStopsEarlyOnWideData) {
  // 50 columns: the full depth-3 list would hold about 10^14 trees.
  std::size_t visited = 0;
  const bool finished = topo::for_each_topology(3, 50, [&](const EmlTree&) { return ++visited < 3000; });
  EXPECT_FALSE(finished);
  EXPECT_EQ(visited, 3000u);
}

}  // namespace
