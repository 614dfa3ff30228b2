#pragma once
// Test-only reader of the EML text form: "1", "x3", "2.5", "-0.5", "NaN",
// "inf", "-inf", "eml(a, b)". Numbers other than a lone "1" become Const
// leaves; "1" is the One leaf ("1.0" is a Const).

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "expression/tree.hpp"

namespace kvel_test {

class EmlParser {
 public:
  explicit EmlParser(std::string_view text) : text_(text) {}

  tamrix::tree::NodePtr parse() {
    auto node = parse_node();
    skip_spaces();
    if (pos_ != text_.size()) fail("trailing text");
    return node;
  }

 private:
  using EmlNode = tamrix::tree::EmlNode;

  tamrix::tree::NodePtr parse_node() {
    skip_spaces();
    if (consume("eml(")) {
      auto left = parse_node();
      skip_spaces();
      if (!consume(",")) fail("expected ','");
      auto right = parse_node();
      skip_spaces();
      if (!consume(")")) fail("expected ')'");
      return EmlNode::eml(std::move(left), std::move(right));
    }
    if (consume("x")) return EmlNode::var(std::stoull(std::string(take_token())));
    if (consume("NaN")) return EmlNode::constant(std::nan(""));
    if (consume("inf")) return EmlNode::constant(INFINITY);
    if (consume("-inf")) return EmlNode::constant(-INFINITY);
    const std::string token(take_token());
    if (token.empty()) fail("expected a node");
    if (token == "1") return EmlNode::one();
    return EmlNode::constant(std::strtod(token.c_str(), nullptr));
  }

  std::string_view take_token() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != ')' && text_[pos_] != ' ') ++pos_;
    return text_.substr(start, pos_ - start);
  }
  bool consume(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  void skip_spaces() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }
  [[noreturn]] void fail(const char* why) const {
    throw std::invalid_argument(std::string(why) + " at " + std::to_string(pos_) + " in " + std::string(text_));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

inline tamrix::tree::NodePtr parse_eml(std::string_view text) { return EmlParser(text).parse(); }
inline tamrix::tree::EmlTree parse_tree(std::string_view text) {
  return tamrix::tree::EmlTree::from_node(parse_eml(text));
}

}  // namespace kvel_test
