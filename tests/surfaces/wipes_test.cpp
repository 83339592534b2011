// Screen transitions: every effect id cross-fades, the film's settings are
// kept, and the special factory is asked first.

#include "surfaces/wipes.h"

#include <gtest/gtest.h>

#include "base/vocab.h"

namespace zirk {
namespace {

TEST(Wipes, FactoryServesEveryEffectIdWithACrossFade) {
  EXPECT_EQ(CreateWipe(WP_NONE, 30, 0), nullptr);
  EXPECT_EQ(CreateWipe(-1, 30, 0), nullptr);
  EXPECT_EQ(CreateWipe(kTransitionCount, 30, 0), nullptr);
  for (int32_t kind = 1; kind <= WP_BLOCKRANDOM; ++kind) {
    auto w = CreateWipe(kind, 30, 5);
    ASSERT_NE(w, nullptr) << kind;
    EXPECT_EQ(w->Kind(), kind);
    EXPECT_NE(dynamic_cast<TCrossFadeWipe*>(w.get()), nullptr);
    EXPECT_EQ(w->Elapsed(), 5);
  }
  // A special factory wins for the ids it knows.
  struct Special : TCrossFadeWipe {
    using TCrossFadeWipe::TCrossFadeWipe;
  };
  TWipeFactory special = [](int32_t kind) -> std::unique_ptr<TCustomWipe> {
    if (kind == 7) return std::make_unique<Special>(kind);
    return nullptr;
  };
  EXPECT_NE(dynamic_cast<Special*>(CreateWipe(7, 10, 0, special).get()), nullptr);
  EXPECT_EQ(dynamic_cast<Special*>(CreateWipe(8, 10, 0, special).get()), nullptr);
}

TEST(Wipes, SettingsAndTime) {
  auto w = CreateWipe(3, 0, -4);
  w->SetParam(0, 11);
  w->SetParam(1, -12);
  w->SetParam(2, 99);
  w->SetName("mask\\wipe.dor");
  w->SetFlag(0x81);
  w->Prepare();
  EXPECT_EQ(w->GetParam(0), 11);
  EXPECT_EQ(w->GetParam(1), -12);
  EXPECT_EQ(w->GetParam(2), 0);
  EXPECT_EQ(w->GetName(), "mask\\wipe.dor");
  EXPECT_EQ(w->GetFlag(), 0x81);
  EXPECT_TRUE(w->Prepared());
  EXPECT_EQ(w->Length(), 1);  // a zero length cannot divide by zero
  EXPECT_EQ(w->Elapsed(), 0);
  w->SetLength(60);
  w->Advance(30);
  EXPECT_EQ(w->Level(), 127);
  w->Advance(1000);
  EXPECT_TRUE(w->Finished());
  EXPECT_EQ(w->Level(), 255);
}

TEST(Wipes, CrossFadeBlendsTheOldScreenIntoTheNew) {
  TDIBX oldS(2, 1, 32), newS(2, 1, 32), out(2, 1, 32);
  oldS.FillRect(oldS.GetBoundsRect(), 0x000000);
  newS.FillRect(newS.GetBoundsRect(), 0xFF00FF);
  auto w = CreateWipe(1, 4, 0);
  struct Case {
    int elapsed;
    uint32_t want;
  } cases[] = {{0, 0x000000}, {1, 0x3F003F}, {2, 0x7F007F}, {4, 0xFF00FF}};
  for (const Case& c : cases) {
    w->SetElapsed(c.elapsed);
    w->Compose(out, oldS, newS);
    EXPECT_EQ(out.GetPixel(1, 0), c.want) << c.elapsed;
    // Composing in place on either screen gives the same frame.
    TDIBX o2(2, 1, 32), n2(2, 1, 32);
    o2.CopyFrom(oldS);
    n2.CopyFrom(newS);
    w->Compose(o2, o2, newS);
    w->Compose(n2, oldS, n2);
    EXPECT_EQ(o2.GetPixel(0, 0), c.want) << c.elapsed;
    EXPECT_EQ(n2.GetPixel(0, 0), c.want) << c.elapsed;
  }
}

}  // namespace
}  // namespace zirk
