// Runs the generated NumPy, SymPy and Rust code with the real tools and checks
// that it computes the tree's value. Points lie where every ln argument is
// positive, so no guard of eml matters. Skipped when a tool is missing.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/codegen.hpp"
#include "helpers/eml_parse.hpp"
#include "support/number_format.hpp"

namespace {

namespace fs = std::filesystem;
using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;

struct Case {
  const char* tree;
  std::vector<std::vector<double>> points;  // one value per parameter
};

const std::vector<Case>& cases() {
  static const std::vector<Case> table = {
      {"eml(x0, 1)", {{-1.5}, {0.0}, {0.7}, {2.0}}},
      {"1", {{0.3}, {4.0}}},
      {"eml(eml(1, x0), x1)", {{0.5, 2.0}, {3.0, 0.25}}},
      {"eml(x0, eml(x2, 2.5))", {{0.1, 9.0, 0.3}, {-2.0, 9.0, 1.2}}},
      {"eml(-2, eml(0.0000001, 1.0))", {{0.0}}},
      {"eml(-0.0, eml(x0, x0))", {{0.5}, {3.0}}},
      {"eml(eml(x1, eml(x0, 1)), eml(1, eml(x0, 1)))", {{0.5, -1.0}, {1.5, 0.2}}},
  };
  return table;
}

double eval_eml(const EmlNode& node, const std::vector<double>& point) {
  switch (node.kind) {
    case EmlNode::Kind::One: return 1.0;
    case EmlNode::Kind::Const: return node.value;
    case EmlNode::Kind::Var: return point.at(node.index);
    case EmlNode::Kind::Eml: {
      const double left = eval_eml(*node.left, point);
      const double right = eval_eml(*node.right, point);
      return std::exp(left) - std::log(right);
    }
  }
  return NAN;
}

bool tool_works(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

class GeneratedCode : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kvel_codegen_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  fs::path file(const char* name) const { return dir_ / name; }

  static void write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

  // Runs a shell command in the temporary folder; stdout goes to out.txt.
  bool run(const std::string& command) const {
    const std::string line = "cd '" + dir_.string() + "' && " + command + " >out.txt 2>err.txt";
    return std::system(line.c_str()) == 0;
  }
  std::string read(const char* name) const {
    std::ifstream in(file(name));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Lines "<tag> <case> <point> <value>" of out.txt against the tree values.
  void expect_values(const std::string& tag) const {
    std::map<std::pair<std::size_t, std::size_t>, double> got;
    std::istringstream lines(read("out.txt"));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string line_tag, value;
      std::size_t n = 0, k = 0;
      fields >> line_tag >> n >> k >> value;
      if (line_tag == tag) got[{n, k}] = std::strtod(value.c_str(), nullptr);
    }
    for (std::size_t n = 0; n < cases().size(); ++n) {
      const EmlTree tree = kvel_test::parse_tree(cases()[n].tree);
      for (std::size_t k = 0; k < cases()[n].points.size(); ++k) {
        const double want = eval_eml(*tree.root, cases()[n].points[k]);
        ASSERT_TRUE(std::isfinite(want)) << cases()[n].tree;
        const auto it = got.find({n, k});
        ASSERT_NE(it, got.end()) << tag << " gave no value for " << cases()[n].tree << " point " << k;
        EXPECT_NEAR(it->second, want, 1e-12 * std::max(1.0, std::fabs(want))) << tag << ": " << cases()[n].tree;
      }
    }
  }

  fs::path dir_;
};

TEST_F(GeneratedCode, NumpyLambdaAndSympyExpressionEvaluateTheTree) {
  if (!tool_works("python3 -c 'import numpy, sympy'")) GTEST_SKIP() << "python3 with numpy and sympy not found";
  std::string script = "import numpy as np, sympy\ncases = [\n";
  for (const Case& c : cases()) {
    const EmlTree tree = kvel_test::parse_tree(c.tree);
    script += "  (r\"\"\"" + kvel_core::codegen::numpy_code(tree) + "\"\"\", r\"\"\"" +
              kvel_core::codegen::sympy_code(tree) + "\"\"\", [";
    for (const auto& point : c.points) {
      script += '[';
      for (double v : point) script += kvel_support::format_shortest(v) + ", ";
      script += "], ";
    }
    script += "]),\n";
  }
  script += R"py(]
for n, (np_code, sp_code, points) in enumerate(cases):
    f = eval(np_code, {"np": np})
    cols = [np.array(col, dtype=np.float64) for col in zip(*points)]
    values = np.broadcast_to(np.asarray(f(*cols), dtype=np.float64), (len(points),))
    for k, v in enumerate(values):
        print("numpy", n, k, repr(float(v)))
    header, body = sp_code.split("\n")
    assert header.startswith("# symbols('") and header.endswith("')"), header
    syms = sympy.symbols(header[len("# symbols('"):-2], seq=True)
    expr = sympy.sympify(body, locals={s.name: s for s in syms})
    for k, p in enumerate(points):
        print("sympy", n, k, repr(float(expr.subs(dict(zip(syms, p))).evalf(30))))
)py";
  write(file("check.py"), script);
  ASSERT_TRUE(run("python3 check.py")) << read("err.txt");
  expect_values("numpy");
  expect_values("sympy");
}

TEST_F(GeneratedCode, RustFunctionCompilesAndEvaluatesTheTree) {
  if (!tool_works("rustc --version")) GTEST_SKIP() << "rustc not found";
  std::string program;
  std::string main = "fn main() {\n";
  for (std::size_t n = 0; n < cases().size(); ++n) {
    const EmlTree tree = kvel_test::parse_tree(cases()[n].tree);
    const std::string module = "c" + std::to_string(n);
    program += "mod " + module + " {\n" + kvel_core::codegen::rust_code(tree) + "\npub fn run() {\n";
    for (std::size_t k = 0; k < cases()[n].points.size(); ++k) {
      std::string args;
      for (double v : cases()[n].points[k]) args += (args.empty() ? "" : ", ") + kvel_support::format_shortest(v) + "_f64";
      program += "    println!(\"rust " + std::to_string(n) + " " + std::to_string(k) + " {:?}\", f(" + args + "));\n";
    }
    program += "}\n}\n";
    main += "    " + module + "::run();\n";
  }
  write(file("check.rs"), program + main + "}\n");
  ASSERT_TRUE(run("rustc -A warnings -o check check.rs")) << read("err.txt");
  ASSERT_TRUE(run("./check")) << read("err.txt");
  expect_values("rust");
}

}  // namespace
