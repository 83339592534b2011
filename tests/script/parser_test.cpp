#include "script/parser.h"

#include <gtest/gtest.h>

namespace zirk {
namespace {

TEST(Parser, EvaluatesOperationsOverTemporaries) {
  TParserContext context;
  context.variable = [](const std::string& name) -> std::optional<long double> {
    if (name == "@Width") return 640;
    return std::nullopt;
  };
  context.random = [](int32_t n) { return n - 1; };  // the largest draw

  struct Case {
    std::vector<TParserOperation> ops;
    std::optional<int32_t> expected;
  };
  using O = TParserOp;
  const Case cases[] = {
      {{}, std::nullopt},
      {{{O::Assign, "#0", "250", ""}}, 250},
      {{{O::Add, "#0", "2", "3"}, {O::Mul, "#1", "#0", "-4"}}, -20},
      {{{O::Div, "#0", "@Width", "3"}}, 213},  // 213.33 -> nearest
      {{{O::Div, "#0", "5", "2"}}, 2},         // 2.5 -> even
      {{{O::Div, "#0", "1", "0"}}, 0},         // no fault on zero
      {{{O::Mod, "#0", "-7", "3"}}, -1},       // sign of the dividend
      {{{O::Mod, "#0", "7", "0"}}, 0},
      {{{O::Neg, "#0", "@Unknown", ""}}, 0},
      {{{O::Less, "#0", "1", "2"}, {O::And, "#1", "#0", "@Width"}}, 1},
      {{{O::NEqual, "#0", "3", "3"}, {O::Or, "#1", "#0", "0"}}, 0},
      {{{O::Random, "#0", "100", ""}}, 99},
      {{{O::Random, "#0", "0", ""}}, 0},
      {{{O::Mul, "#0", "1e30", "1e30"}}, 2147483647},  // saturates
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    TZirkParser p;
    for (const auto& op : cases[i].ops) p.Add(op.code, op.dest, op.left, op.right);
    EXPECT_EQ(p.ExecuteExpression(context), cases[i].expected) << "case " << i;
  }
}

TEST(Parser, RecordRoundTripAndRejectsBadRecords) {
  TZirkParser p;
  p.Add(TParserOp::Add, "#0", "@x", "16");
  p.Add(TParserOp::Mul, "#1", "#0", "2");
  TKwMemoryStream s;
  p.SaveToStream(s);
  s.SetPosition(0);
  TZirkParser q;
  q.LoadFromStream(s);
  EXPECT_EQ(q.Operations(), p.Operations());
  EXPECT_EQ(s.Remaining(), 0);

  auto record = [](int32_t count, int32_t code, const std::string& dest) {
    TKwMemoryStream m;
    WriteStreamInt(m, count);
    WriteStreamInt(m, code);
    WriteStreamString(m, dest);
    WriteStreamString(m, "1");
    WriteStreamString(m, "2");
    m.SetPosition(0);
    return m.Release();
  };
  const std::vector<std::vector<uint8_t>> bad = {
      record(-1, 0, "#0"),       // negative count
      record(1000000, 0, "#0"),  // count beyond the data
      record(1, 99, "#0"),       // unknown operation
      record(1, -5, "#0"),
      record(1, 0, "x"),    // destination not a temporary
      record(1, 0, "#64"),  // temporary out of range
      record(2, 0, "#0"),   // second operation missing
      {1, 0},               // truncated count
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    TKwMemoryStream m(bad[i]);
    TZirkParser r = q;
    EXPECT_ANY_THROW(r.LoadFromStream(m)) << "record " << i;
    EXPECT_EQ(r.Operations(), q.Operations()) << "a failed load keeps the expression";
  }
  EXPECT_THROW(q.Add(TParserOp::Assign, "result", "1"), EParserError);
}

}  // namespace
}  // namespace zirk
