#pragma once
// A compiled run-time expression: a list of three-address operations over
// named operands and temporaries. The objects that hold one (the end delay
// of multi-frame images, the spawn expressions of particles) only evaluate,
// save and load it.
//
// Stream record:
//   int32 operation count (0 = empty expression, which yields no result)
//   per operation: int32 code, string destination, string left, string right
// Operands are texts: a decimal literal ("12", "-3", "0.5"), a temporary
// "#n" (n = 0..kMaxTemporaries-1), or a variable name resolved by the
// evaluation context (an unknown name reads 0). The destination of every
// operation is a temporary; the value of the last one is the result.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/streams.h"

namespace zirk {

enum class TParserOp : int32_t {
  Assign = 0,  // dest := left
  Add,         // dest := left + right
  Sub,
  Mul,
  Div,   // division by 0 gives 0
  Mod,   // integer remainder, sign of the dividend; by 0 gives 0
  Neg,   // dest := -left
  Less,  // comparisons give 1 or 0
  LessEq,
  Greater,
  GreaterEq,
  Equal,
  NEqual,
  And,  // logical: 1 when both are non-zero
  Or,
  Random,  // dest := random integer in 0 .. left-1 (0 when left < 1)
  Count_   // not a code
};

class EParserError : public Exception {
 public:
  using Exception::Exception;
};

struct TParserOperation {
  TParserOp code = TParserOp::Assign;
  std::string dest;
  std::string left;
  std::string right;
  bool operator==(const TParserOperation&) const = default;
};

// What an expression reads from outside: variables and random draws.
struct TParserContext {
  std::function<std::optional<long double>(const std::string&)> variable;
  std::function<int32_t(int32_t)> random;  // 0 .. n-1
};

class TZirkParser {
 public:
  static constexpr int kMaxTemporaries = 64;
  static constexpr int32_t kMaxOperations = 4096;

  bool IsEmpty() const { return ops_.empty(); }
  void Clear() { ops_.clear(); }
  // Appends one operation; raises EParserError for a destination that is not
  // a temporary or a code out of range.
  void Add(TParserOp code, std::string dest, std::string left, std::string right = {});
  const std::vector<TParserOperation>& Operations() const { return ops_; }

  // The value of the last operation converted to an integer (nearest, halves
  // to even, saturated), or no result for an empty expression.
  std::optional<int32_t> ExecuteExpression(const TParserContext& context = {}) const;
  std::optional<long double> Evaluate(const TParserContext& context = {}) const;

  void SaveToStream(TKwStream& stream) const;
  // Replaces the operations; a bad record raises and leaves the expression
  // unchanged.
  void LoadFromStream(TKwStream& stream);

 private:
  std::vector<TParserOperation> ops_;
};

}  // namespace zirk
