#include "expression/symreg/dedupe.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "expression/lower/pattern.hpp"
#include "expression/lower_simplify/simplify.hpp"
#include "expression/simplify.hpp"
#include "expression/symreg/topology.hpp"
#include "helpers/eml_parse.hpp"
#include "helpers/lowered_print.hpp"

namespace {

namespace topo = tamrix::symreg::topology;
using kvel_test::parse_tree;
using tamrix::tree::EmlTree;

std::vector<std::string> texts(const std::vector<EmlTree>& trees) {
  std::vector<std::string> out;
  for (const EmlTree& t : trees) out.push_back(t.to_string());
  return out;
}

std::vector<EmlTree> parse_all(std::initializer_list<const char*> sources) {
  std::vector<EmlTree> out;
  for (const char* s : sources) out.push_back(parse_tree(s));
  return out;
}

std::string reduced_text(const EmlTree& tree) {
  const EmlTree simplified = tamrix::simplify::simplify(tree);
  return kvel_test::lowered_text(
      tamrix::lower_simplify::simplify(tamrix::lower::pattern::lower_node(*simplified.root)));
}

TEST(Dedupe, EmptyListAndRepeatedTree) {
  EXPECT_TRUE(topo::dedupe_by_semantics({}).empty());
  const std::vector<EmlTree> in = parse_all({"eml(x0, 1)", "x0", "eml(x0, 1)"});
  const std::vector<EmlTree> out = topo::dedupe_by_semantics(in);
  ASSERT_EQ(out.size(), 2u);
  // The kept trees are the input trees themselves, not simplified copies.
  EXPECT_EQ(out[0].root, in[0].root);
  EXPECT_EQ(out[1].root, in[1].root);
}

TEST(Dedupe, DepthOneKeepsAllSixWithDistinctForms) {
  const std::vector<EmlTree> all = topo::enumerate_topologies(1, 1);
  const std::vector<std::string> want_forms = {
      "Const 1",
      "Var 0",
      "Const 2.718281828459045",
      "Sub(Const 2.718281828459045, Ln(Var 0))",
      "Exp(Var 0)",
      "Sub(Exp(Var 0), Ln(Var 0))",
  };
  ASSERT_EQ(all.size(), want_forms.size());
  for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(reduced_text(all[i]), want_forms[i]) << i;
  EXPECT_EQ(texts(topo::dedupe_by_semantics(all)), texts(all));
}

TEST(Dedupe, LaterTreesWithTheSameFormAreDropped) {
  // Both pairs reduce to one form: Const 0 (the first via the normal form,
  // which cancels exp(x0) - exp(x0); the second via ln 1 = 0), and ln x0.
  EXPECT_EQ(reduced_text(parse_tree("eml(x0, eml(eml(x0, 1), 1))")), "Const 0");
  EXPECT_EQ(reduced_text(parse_tree("eml(1, eml(eml(1, 1), 1))")), "Const 0");
  EXPECT_EQ(reduced_text(parse_tree("eml(x0, eml(eml(x0, x0), 1))")), "Ln(Var 0)");
  const std::vector<EmlTree> in = parse_all({
      "eml(1, eml(eml(1, 1), 1))",
      "eml(1, eml(eml(1, x0), 1))",
      "eml(x0, eml(eml(x0, 1), 1))",
      "eml(x0, x0)",
      "eml(x0, eml(eml(x0, x0), 1))",
  });
  const std::vector<EmlTree> out = topo::dedupe_by_semantics(in);
  EXPECT_EQ(texts(out), (std::vector<std::string>{"eml(1, eml(eml(1, 1), 1))", "eml(1, eml(eml(1, x0), 1))",
                                                  "eml(x0, x0)"}));
  // Idempotent on its own output.
  EXPECT_EQ(texts(topo::dedupe_by_semantics(out)), texts(out));
}

TEST(Dedupe, ConstantsAreKeyedByTheirBits) {
  // No tolerance between trees: pi and its neighbour double are two formulas.
  const double pi = 3.141592653589793;
  const std::vector<EmlTree> in = {EmlTree::from_node(tamrix::tree::EmlNode::constant(pi)),
                                   EmlTree::from_node(tamrix::tree::EmlNode::constant(std::nextafter(pi, 4.0)))};
  EXPECT_EQ(topo::dedupe_by_semantics(in).size(), 2u);
}

struct CountRow {
  std::size_t n;
  std::size_t depth;
  std::size_t in;
  std::size_t out;
};

class DedupeCounts : public ::testing::TestWithParam<CountRow> {};

// Ties lowering, both simplifiers and the normal form together: every count
// depends on all of them.
TEST_P(DedupeCounts, KeptCountsOfTheFullEnumeration) {
  const CountRow row = GetParam();
  const std::vector<EmlTree> all = topo::enumerate_topologies(row.depth, row.n);
  ASSERT_EQ(all.size(), row.in);
  const std::vector<EmlTree> kept = topo::dedupe_by_semantics(all);
  EXPECT_EQ(kept.size(), row.out);
  EXPECT_EQ(topo::dedupe_by_semantics(kept).size(), kept.size()) << "not idempotent";
  if (row.depth < 3) return;

  // The dropped trees are exactly eml(xi, eml(eml(xi, Y), 1)) for every
  // variable xi and leaf Y, all beyond the first 512.
  std::set<std::string> want_dropped;
  for (std::size_t i = 0; i < row.n; ++i) {
    const std::string xi = "x" + std::to_string(i);
    want_dropped.insert("eml(" + xi + ", eml(eml(" + xi + ", 1), 1))");
    for (std::size_t j = 0; j < row.n; ++j)
      want_dropped.insert("eml(" + xi + ", eml(eml(" + xi + ", x" + std::to_string(j) + "), 1))");
  }
  std::set<std::string> dropped;
  std::vector<std::size_t> dropped_at;
  std::size_t k = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (k < kept.size() && kept[k].root == all[i].root) {
      ++k;
      continue;
    }
    dropped.insert(all[i].to_string());
    dropped_at.push_back(i);
  }
  EXPECT_EQ(k, kept.size()) << "the output is not a sub-sequence of the input";
  EXPECT_EQ(dropped, want_dropped);
  if (!dropped_at.empty()) {
    EXPECT_GT(dropped_at.front(), 511u);
  }
  if (row.n == 1) {
    EXPECT_EQ(dropped_at, (std::vector<std::size_t>{1306, 1308}));
    EXPECT_EQ(reduced_text(all[1306]), reduced_text(all[1270]));
    EXPECT_EQ(reduced_text(all[1308]), reduced_text(all[1272]));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DedupeCounts,
                         ::testing::Values(CountRow{0, 1, 2, 2}, CountRow{0, 2, 5, 5}, CountRow{0, 3, 26, 26},
                                           CountRow{1, 1, 6, 6}, CountRow{1, 2, 38, 38},
                                           CountRow{1, 3, 1446, 1444}, CountRow{2, 1, 12, 12},
                                           CountRow{2, 2, 147, 147}, CountRow{2, 3, 21612, 21606},
                                           CountRow{3, 1, 20, 20}, CountRow{3, 2, 404, 404},
                                           CountRow{3, 3, 163220, 163208}));

TEST(Dedupe, StreamingStopMatchesTheFullRun) {
  for (const std::size_t n : {1u, 2u}) {
    std::vector<EmlTree> full = topo::dedupe_by_semantics(topo::enumerate_topologies(3, n));
    for (const std::size_t limit : {0u, 1u, 512u, 1444u, 5000u}) {
      const std::vector<EmlTree> streamed = topo::first_distinct_topologies(3, n, limit);
      const std::size_t want = std::min(limit, full.size());
      ASSERT_EQ(streamed.size(), want) << "n " << n << " limit " << limit;
      for (std::size_t i = 0; i < want; ++i) ASSERT_EQ(streamed[i].to_string(), full[i].to_string()) << i;
    }
  }
  // For up to three columns the first 512 kept trees are the first 512 enumerated.
  for (const std::size_t n : {1u, 2u, 3u}) {
    const std::vector<EmlTree> streamed = topo::first_distinct_topologies(3, n, 512);
    std::vector<EmlTree> first;
    topo::for_each_topology(3, n, [&](const EmlTree& t) {
      first.push_back(t);
      return first.size() < 512;
    });
    EXPECT_EQ(texts(streamed), texts(first)) << "n " << n;
  }
}

// A variable index far beyond the data leaves the key cheap to form, and
// no allocation failure leaves it.
TEST(Dedupe, FarVariableIndexKeysWithoutFailing) {
  using tamrix::tree::EmlNode;
  const auto key = [](std::uint64_t index) {
    return topo::semantic_key(EmlTree::from_node(EmlNode::eml(EmlNode::var(index), EmlNode::var(index))));
  };
  std::uint64_t far = 0;
  EXPECT_NO_THROW(far = key(1000000000000));
  EXPECT_NE(far, key(1000000000001));
  EXPECT_EQ(far, key(1000000000000));
}

}  // namespace
