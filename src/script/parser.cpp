#include "script/parser.h"

#include <array>
#include <cmath>

#include "script/params.h"

namespace zirk {

namespace {

// "#n" -> n, or -1 when the text is not a temporary.
int temporaryIndex(const std::string& text) {
  if (text.size() < 2 || text.size() > 3 || text[0] != '#') return -1;
  int n = 0;
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    n = n * 10 + (text[i] - '0');
  }
  return n < TZirkParser::kMaxTemporaries ? n : -1;
}

bool isLiteral(const std::string& text) {
  if (text.empty()) return false;
  char c = text[0];
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
}

void checkOperation(const TParserOperation& op) {
  if (op.code < TParserOp::Assign || op.code >= TParserOp::Count_) {
    throw EParserError("invalid expression operation");
  }
  if (temporaryIndex(op.dest) < 0) throw EParserError("invalid expression destination");
}

long double truncatedMod(long double a, long double b) {
  int64_t x = static_cast<int64_t>(std::trunc(a));
  int64_t y = static_cast<int64_t>(std::trunc(b));
  if (y == 0) return 0;
  if (y == -1) return 0;  // also avoids INT64_MIN % -1
  return static_cast<long double>(x % y);
}

}  // namespace

void TZirkParser::Add(TParserOp code, std::string dest, std::string left, std::string right) {
  TParserOperation op{code, std::move(dest), std::move(left), std::move(right)};
  checkOperation(op);
  ops_.push_back(std::move(op));
}

std::optional<long double> TZirkParser::Evaluate(const TParserContext& context) const {
  if (ops_.empty()) return std::nullopt;
  std::array<long double, kMaxTemporaries> temps{};
  auto value = [&](const std::string& text) -> long double {
    if (text.empty()) return 0;
    int t = temporaryIndex(text);
    if (t >= 0) return temps[t];
    if (isLiteral(text)) return TextToFloat(text);
    if (context.variable) {
      if (auto v = context.variable(text)) return *v;
    }
    return 0;
  };
  long double last = 0;
  for (const TParserOperation& op : ops_) {
    long double a = value(op.left);
    long double b = value(op.right);
    long double r = 0;
    switch (op.code) {
      case TParserOp::Assign:
        r = a;
        break;
      case TParserOp::Add:
        r = a + b;
        break;
      case TParserOp::Sub:
        r = a - b;
        break;
      case TParserOp::Mul:
        r = a * b;
        break;
      case TParserOp::Div:
        r = b == 0 ? 0 : a / b;
        break;
      case TParserOp::Mod:
        r = truncatedMod(a, b);
        break;
      case TParserOp::Neg:
        r = -a;
        break;
      case TParserOp::Less:
        r = a < b;
        break;
      case TParserOp::LessEq:
        r = a <= b;
        break;
      case TParserOp::Greater:
        r = a > b;
        break;
      case TParserOp::GreaterEq:
        r = a >= b;
        break;
      case TParserOp::Equal:
        r = a == b;
        break;
      case TParserOp::NEqual:
        r = a != b;
        break;
      case TParserOp::And:
        r = (a != 0) && (b != 0);
        break;
      case TParserOp::Or:
        r = (a != 0) || (b != 0);
        break;
      case TParserOp::Random: {
        int32_t n = FloatToInt32(a);
        r = (n < 1 || !context.random) ? 0 : context.random(n);
        break;
      }
      case TParserOp::Count_:
        break;
    }
    temps[temporaryIndex(op.dest)] = r;
    last = r;
  }
  return last;
}

std::optional<int32_t> TZirkParser::ExecuteExpression(const TParserContext& context) const {
  auto v = Evaluate(context);
  if (!v) return std::nullopt;
  return FloatToInt32(*v);
}

void TZirkParser::SaveToStream(TKwStream& stream) const {
  WriteStreamInt(stream, static_cast<int32_t>(ops_.size()));
  for (const TParserOperation& op : ops_) {
    WriteStreamInt(stream, static_cast<int32_t>(op.code));
    WriteStreamString(stream, op.dest);
    WriteStreamString(stream, op.left);
    WriteStreamString(stream, op.right);
  }
}

void TZirkParser::LoadFromStream(TKwStream& stream) {
  int32_t count = ReadStreamInt(stream);
  // Each operation takes at least 16 bytes, so a count beyond that is a lie.
  if (count < 0 || count > kMaxOperations || int64_t{count} * 16 > stream.Remaining()) {
    throw EParserError("invalid expression operation count");
  }
  std::vector<TParserOperation> ops;
  ops.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    TParserOperation op;
    op.code = static_cast<TParserOp>(ReadStreamInt(stream));
    op.dest = ReadStreamString(stream);
    op.left = ReadStreamString(stream);
    op.right = ReadStreamString(stream);
    checkOperation(op);
    ops.push_back(std::move(op));
  }
  ops_ = std::move(ops);
}

}  // namespace zirk
