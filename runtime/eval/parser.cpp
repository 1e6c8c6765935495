#include <algorithm>

#include "runtime/eval/builtins.hpp"
#include "runtime/eval/scopes.hpp"
#include "runtime/eval/syntax_tree.hpp"

namespace vtn::eval {
namespace {

constexpr int32_t kInvalidExpression = 800;
constexpr int32_t kUnboundName = 801;

NodeKind kind_of_variable(const TypedReference& variable) {
  const TypedReference* target = variable.resolved();
  if (target == nullptr) return NodeKind::kText;
  switch (natural_kind_of(target->type())) {
    case ValueType::LONG:
      return NodeKind::kInteger;
    case ValueType::REAL:
    case ValueType::DECIMAL:
      return NodeKind::kReal;
    default:
      return NodeKind::kText;
  }
}

NodeKind kind_of_result(char result) {
  return result == 'L' ? NodeKind::kInteger : result == 'R' ? NodeKind::kReal : NodeKind::kText;
}

NodeKind kind_of_param(ParamKind kind) {
  return kind == ParamKind::kLong   ? NodeKind::kInteger
         : kind == ParamKind::kReal ? NodeKind::kReal
                                    : NodeKind::kText;
}

class Parser {
 public:
  Parser(std::string_view text, SyntaxTree& tree, CompileError& error)
      : scanner_(text), tree_(tree), error_(error) {}

  bool parse() {
    advance();
    const int32_t root = parse_or();
    if (root < 0) return false;
    if (token_.type != TokenType::kEnd) return fail("unexpected text after the expression");
    tree_.root = root;
    return true;
  }

 private:
  bool fail(const char* reason, int32_t code = kInvalidExpression) {
    if (error_.code == 0) {
      error_.code = code;
      error_.offset = token_.offset;
      error_.reason = reason;
    }
    return false;
  }

  // The next token; a name becomes its operator word, or carries its binding.
  void advance() {
    token_ = scanner_.next();
    record_ = nullptr;
    if (token_.type != TokenType::kName) return;
    record_ = lookup_name(token_.text);
    if (record_ == nullptr) {
      if (error_.code == 0) {
        error_.code = kUnboundName;
        error_.offset = token_.offset;
        error_.reason = "no BIND on this name";
        error_.name = token_.text;
      }
      token_.type = TokenType::kError;
    } else if (record_->type == NameRecord::Type::kOperator) {
      token_.type = TokenType::kOperator;
      token_.op = static_cast<OpCode>(record_->word);
    }
  }

  bool at(OpCode op) const { return token_.type == TokenType::kOperator && token_.op == op; }

  int32_t add(Node node) {
    for (int32_t child : {node.left, node.right}) {
      if (child >= 0) node.depth = std::max(node.depth, tree_.nodes[child].depth + 1);
    }
    if (node.depth > kMaxTreeDepth) {
      fail("expression too long or nested too deeply");
      return -1;
    }
    tree_.nodes.push_back(node);
    return static_cast<int32_t>(tree_.nodes.size() - 1);
  }

  int32_t binary(OpCode op, int32_t left, int32_t right) {
    Node n;
    n.type = Node::Type::kBinary;
    n.op = op;
    n.left = left;
    n.right = right;
    if (op == OpCode::kConcat) {
      n.kind = NodeKind::kText;
    } else if (op >= OpCode::kEqual && op <= OpCode::kGreaterEqual) {
      n.kind = NodeKind::kInteger;
    } else if (op >= OpCode::kAnd && op <= OpCode::kXor) {
      n.kind = NodeKind::kInteger;
    } else {
      n.kind = NodeKind::kReal;
    }
    return add(n);
  }

  // One level of left-associative binary operators.
  template <typename Next, typename IsOperator>
  int32_t binary_level(Next next, IsOperator is_operator) {
    int32_t left = (this->*next)();
    while (left >= 0 && token_.type == TokenType::kOperator && is_operator(token_.op)) {
      const OpCode op = token_.op;
      advance();
      const int32_t right = (this->*next)();
      if (right < 0) return -1;
      left = binary(op, left, right);
    }
    return left;
  }

  int32_t parse_or() {
    if (++nesting_ > kMaxNesting) {
      fail("expression nested too deeply");
      return -1;
    }
    const int32_t result = binary_level(
        &Parser::parse_and, [](OpCode op) { return op == OpCode::kOr || op == OpCode::kXor; });
    --nesting_;
    return result;
  }

  int32_t parse_and() {
    return binary_level(&Parser::parse_not, [](OpCode op) { return op == OpCode::kAnd; });
  }

  int32_t parse_not() {
    int count = 0;
    while (at(OpCode::kNot)) {
      ++count;
      advance();
    }
    const int32_t operand = parse_compare();
    if (operand < 0 || count % 2 == 0) return operand;
    Node n;
    n.type = Node::Type::kNot;
    n.kind = NodeKind::kInteger;
    n.left = operand;
    return add(n);
  }

  int32_t parse_compare() {
    return binary_level(&Parser::parse_concat, [](OpCode op) {
      return op >= OpCode::kEqual && op <= OpCode::kGreaterEqual;
    });
  }

  int32_t parse_concat() {
    return binary_level(&Parser::parse_sum, [](OpCode op) { return op == OpCode::kConcat; });
  }

  int32_t parse_sum() {
    return binary_level(&Parser::parse_product,
                        [](OpCode op) { return op == OpCode::kAdd || op == OpCode::kSubtract; });
  }

  int32_t parse_product() {
    return binary_level(&Parser::parse_power, [](OpCode op) {
      return op == OpCode::kMultiply || op == OpCode::kDivide || op == OpCode::kModulo;
    });
  }

  int32_t parse_power() {
    return binary_level(&Parser::parse_unary, [](OpCode op) { return op == OpCode::kPower; });
  }

  int32_t parse_unary() {
    bool negate = false;
    while (at(OpCode::kAdd) || at(OpCode::kSubtract)) {
      if (at(OpCode::kSubtract)) negate = !negate;
      advance();
    }
    const int32_t operand = parse_primary();
    if (operand < 0 || !negate) return operand;
    Node n;
    n.type = Node::Type::kNegate;
    n.kind = NodeKind::kReal;
    n.left = operand;
    return add(n);
  }

  int32_t constant_text(NodeKind kind) {
    Node n;
    n.kind = kind;
    n.text = static_cast<int32_t>(tree_.texts.size());
    tree_.texts.push_back(std::move(token_.text));
    advance();
    return add(n);
  }

  int32_t parse_primary() {
    Node n;
    switch (token_.type) {
      case TokenType::kInteger:
        n.kind = NodeKind::kInteger;
        n.integer = token_.integer;
        advance();
        return add(n);
      case TokenType::kReal:
        n.kind = NodeKind::kReal;
        n.real = token_.real;
        advance();
        return add(n);
      case TokenType::kText:
        return constant_text(NodeKind::kText);
      case TokenType::kPicture:
        return constant_text(NodeKind::kPicture);
      case TokenType::kName:
        return parse_name();
      case TokenType::kOperator:
        if (at(OpCode::kLeftParen)) {
          advance();
          const int32_t inner = parse_or();
          if (inner < 0) return -1;
          if (!at(OpCode::kRightParen)) {
            fail("a closing parenthesis is missing");
            return -1;
          }
          advance();
          return inner;
        }
        fail("a value is missing here");
        return -1;
      case TokenType::kEnd:
        fail("the expression ends too early");
        return -1;
      case TokenType::kError:
        fail("not a number, text, name or operator");
        return -1;
    }
    return -1;
  }

  int32_t parse_name() {
    const std::shared_ptr<const NameRecord> record = record_;
    Node n;
    if (record->type == NameRecord::Type::kVariable) {
      n.type = Node::Type::kVariable;
      n.kind = kind_of_variable(*record->variable);
      n.binding = static_cast<int32_t>(tree_.bindings.size());
      tree_.bindings.push_back(record);
      advance();
      return add(n);
    }
    int min_args = 0, max_args = 0;
    bool (*optional)(const NameRecord&, int) = nullptr;
    if (record->type == NameRecord::Type::kBuiltin) {
      n.type = Node::Type::kCall;
      n.kind = kind_of_result(record->builtin->result);
      n.binding = record->builtin->number;
      min_args = record->builtin->min_args;
      max_args = record->builtin->max_args;
      optional = [](const NameRecord& r, int i) { return i >= r.builtin->min_args; };
    } else {
      n.type = Node::Type::kProcedure;
      n.kind = kind_of_param(record->procedure->result);
      n.binding = static_cast<int32_t>(tree_.bindings.size());
      tree_.bindings.push_back(record);
      min_args = max_args = static_cast<int>(record->procedure->parameters.size());
      optional = [](const NameRecord&, int) { return false; };
    }
    advance();
    std::vector<int32_t> arguments;
    if (at(OpCode::kLeftParen)) {
      advance();
      if (!at(OpCode::kRightParen)) {
        while (true) {
          if (at(OpCode::kComma) || at(OpCode::kRightParen)) {
            arguments.push_back(-1);  // left empty
          } else {
            const int32_t argument = parse_or();
            if (argument < 0) return -1;
            arguments.push_back(argument);
          }
          if (!at(OpCode::kComma)) break;
          advance();
        }
      }
      if (!at(OpCode::kRightParen)) {
        fail("a closing parenthesis is missing");
        return -1;
      }
      advance();
    }
    const int count = static_cast<int>(arguments.size());
    if (count < min_args || count > max_args) {
      fail("wrong number of arguments");
      return -1;
    }
    for (int i = 0; i < count; ++i) {
      if (arguments[i] < 0 && !optional(*record, i)) {
        fail("an argument without a default is left out");
        return -1;
      }
      if (arguments[i] >= 0) n.depth = std::max(n.depth, tree_.nodes[arguments[i]].depth + 1);
    }
    // Empty arguments at the end are the same as arguments left out.
    while (!arguments.empty() && arguments.back() < 0) arguments.pop_back();
    n.first_argument = static_cast<int32_t>(tree_.arguments.size());
    n.argument_count = static_cast<int32_t>(arguments.size());
    tree_.arguments.insert(tree_.arguments.end(), arguments.begin(), arguments.end());
    return add(n);
  }

  Scanner scanner_;
  Token token_;
  std::shared_ptr<const NameRecord> record_;
  SyntaxTree& tree_;
  CompileError& error_;
  int nesting_ = 0;
};

}  // namespace

bool parse_expression(std::string_view text, SyntaxTree& tree, CompileError& error) {
  tree = SyntaxTree{};
  error = CompileError{};
  return Parser(text, tree, error).parse();
}

}  // namespace vtn::eval
