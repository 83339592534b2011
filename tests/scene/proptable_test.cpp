// Property tables: what a declared change does, what undeclared ids give,
// how a kind's table overrides its base's, and declaration mistakes.

#include <gtest/gtest.h>

#include <stdexcept>

#include "scene/proptable.h"
#include "scene/scene_fixture.h"
#include "script/props.h"

namespace zirk::test {
namespace {

class Probe : public TZirkControl {
 public:
  using TZirkControl::TZirkControl;
  const TPropTable& Properties() const override {
    using P = TPropField<Probe>;
    static const TPropTable table(
        TZirkControl::Properties(),
        {
            P(PR_VALUE, &Probe::value, TPropChange::Redraw).Then(&Probe::hook),
            P(PR_MIN, &Probe::small).Clamp(0, 10).Then(&Probe::hook),
            P(PR_TEXT, &Probe::text, TPropChange::Relayout),
            P(PR_BARSIZE, &Probe::byte, TPropChange::RedrawAround),
            P(PR_MAX, &Probe::moved, TPropChange::Move),
            P(PR_REVERSE, &Probe::flag),
            P(PR_COUNT).Get([](Probe& p) { return p.hooks; }),
            P(PR_LEFT).ReadOnly(),
            P(PR_COLOR).WriteOnly(),
        });
    return table;
  }
  void Invalidate() override { ++invalidates; }
  void LayoutChanged() override { ++layouts; }
  void hook() { ++hooks; }

  int32_t value = 0, small = 0, moved = 0;
  std::string text;
  uint8_t byte = 0;
  bool flag = false;
  int hooks = 0, invalidates = 0, layouts = 0;
};

class PropTableTest : public SceneTest {
 protected:
  Probe* probe = scene.Create<Probe>(nullptr, "probe");
};

TEST_F(PropTableTest, ADeclaredChangeStoresComparesAndRedraws) {
  Probe* child = scene.Create<Probe>(probe, "child");
  struct Case {
    int id;
    std::string value;  // set as text, read back as text
    std::string read;
    int invalidates, childInvalidates, hooks, layouts;
  } cases[] = {
      {PR_VALUE, "7", "7", 1, 0, 1, 0},
      {PR_VALUE, "7", "7", 0, 0, 0, 0},  // equal: nothing at all
      {PR_MIN, "25", "10", 0, 0, 1, 0},  // clamped before the compare
      {PR_MIN, "12", "10", 0, 0, 0, 0},
      {PR_TEXT, "abc", "abc", 1, 0, 0, 1},
      {PR_BARSIZE, "300", "44", 2, 0, 0, 0},  // a byte keeps the low byte
      {PR_MAX, "3", "3", 2, 2, 0, 0},         // the children are redrawn too
      {PR_REVERSE, "1", "1", 0, 0, 0, 0},
      {PR_LEFT, "9", "0", 0, 0, 0, 0},  // read only: the base's getter stays
      {PR_COLOR, "5", "", 1, 0, 0, 0},  // write only: reads give nothing
  };
  for (const Case& c : cases) {
    const int inv = probe->invalidates, childInv = child->invalidates, hooks = probe->hooks,
              layouts = probe->layouts;
    probe->SetPropStr(c.id, c.value);
    EXPECT_EQ(probe->GetPropStr(c.id), c.read) << c.id;
    EXPECT_EQ(probe->invalidates - inv, c.invalidates) << c.id;
    EXPECT_EQ(child->invalidates - childInv, c.childInvalidates) << c.id;
    EXPECT_EQ(probe->hooks - hooks, c.hooks) << c.id;
    EXPECT_EQ(probe->layouts - layouts, c.layouts) << c.id;
  }
  EXPECT_EQ(probe->Color(), 5) << "the write reached the base's setter";
  EXPECT_EQ(probe->GetPropInt(PR_COUNT), probe->hooks);
}

TEST_F(PropTableTest, UndeclaredIdsReadEmptyAndIgnoreWrites) {
  probe->SetPropStr(PR_ONSELECT, "label");
  EXPECT_EQ(probe->GetPropStr(PR_ONSELECT), "");
  probe->SetPropInt(PR_COUNT, 5);  // declared without a setter
  EXPECT_EQ(probe->GetPropInt(PR_COUNT), 0);
  probe->SetPropInt(kPropertyCount, 1);
  probe->SetPropInt(-1, 1);
  EXPECT_EQ(probe->GetPropInt(kPropertyCount), 0);
  TParamInteger p;
  EXPECT_THROW(GetObjectProp(p, *probe, kPropertyCount), EPropError);
  EXPECT_THROW(SetObjectProp(*probe, kPropertyCount, p), EPropError);
  // The base's declarations still serve the kind.
  probe->SetPropStr(PR_NAME, "renamed");
  EXPECT_EQ(scene.FindComponentByName("renamed"), probe);
  EXPECT_EQ(probe->GetPropInt(PR_COMPOTYPE), 0);
}

TEST_F(PropTableTest, DeclarationMistakesAreRefused) {
  using P = TPropField<Probe>;
  auto build = [](std::initializer_list<TPropTable::TEntry> entries) { TPropTable t(entries); };
  EXPECT_THROW(build({P(PR_VALUE, &Probe::value), P(PR_VALUE, &Probe::small)}), std::logic_error);
  EXPECT_THROW(build({P(kPropertyCount, &Probe::value)}), std::logic_error);
  EXPECT_THROW(build({P(PR_VALUE).Then(&Probe::hook)}), std::logic_error);
  EXPECT_THROW(P(PR_TEXT, &Probe::text).Clamp(0, 1), std::logic_error);
  EXPECT_THROW(build({P(PR_VALUE, &Probe::value, TPropChange::Redraw).Set([](Probe&, int32_t) {})}),
               std::logic_error);
  using S = TPropField<TZirkBaseList>;
  EXPECT_THROW(S(
                   PR_WIDTH, [](TZirkBaseList& s) -> int32_t& { return s.DisplayScale; },
                   TPropChange::Redraw),
               std::logic_error);
}

}  // namespace
}  // namespace zirk::test
