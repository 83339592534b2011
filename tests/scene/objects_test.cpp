// Naming, the object tree, scrapping and the tick loop, properties, and
// the save record of the scene model.

#include <gtest/gtest.h>

#include <climits>

#include "base/records.h"
#include "scene/cabinet.h"
#include "scene/capabilities.h"
#include "scene/proptable.h"
#include "scene/scene_fixture.h"
#include "script/props.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

using ObjectsTest = SceneTest;

// Sizes itself from a virtual operation, which only the step after the
// constructor can reach.
class SelfSizing : public TestBox {
 public:
  using TestBox::TestBox;
  virtual int32_t Cells() { return 2; }
  void AfterCreate() override {
    named = GetName();
    StoreSize(Cells() * 10, 10);
  }
  std::string named;
};
class WiderSizing : public SelfSizing {
 public:
  using SelfSizing::SelfSizing;
  int32_t Cells() override { return 4; }
};

TEST_F(ObjectsTest, CreationEndsWithTheDerivedSetUpStep) {
  auto* w = scene.Create<WiderSizing>(nullptr, "wide");
  EXPECT_EQ(w->Width(), 40);
  EXPECT_EQ(w->named, "wide");
  RegisterKind(LT_BOX, [](TZirkBaseList& s) { return std::make_unique<WiderSizing>(s); });
  EXPECT_EQ(static_cast<WiderSizing*>(scene.CreateKind(LT_BOX, nullptr, ""))->Width(), 40);
  EXPECT_EQ(scene.CreateKind(LT_TIMER, nullptr, ""), nullptr) << "nobody registered timers";
}

TEST_F(ObjectsTest, GeneratedNamesTakeTheFirstFreeNumberThroughChurn) {
  // Objects named, renamed and freed in a long mixed run, with prefixes
  // that end in digits, differ only in case or are numbers of each other:
  // each generated name is the lowest number no object holds.
  const std::string prefixes[] = {"object", "p1", "P", "p", "q0"};
  std::vector<TestBox*> live;
  uint32_t seed = 12345;
  auto next = [&] { return (seed = seed * 1103515245 + 12345) >> 8; };
  for (int step = 0; step < 600; ++step) {
    const std::string& prefix = prefixes[next() % 5];
    const uint32_t what = next() % 4;
    if (what < 2 || live.empty()) {
      int n = 0;
      while (scene.FindComponentByName(prefix + std::to_string(n))) ++n;
      const std::string name = scene.MakeUniqueName(prefix);
      ASSERT_EQ(name, prefix + std::to_string(n)) << step;
      live.push_back(scene.Create<TestBox>(nullptr, name));
    } else {
      const size_t i = next() % live.size();
      if (what == 2) {
        scene.FreeObject(live[i]);
        live.erase(live.begin() + ptrdiff_t(i));
      } else {
        const std::string name = prefix + std::to_string(next() % 40);
        if (!scene.FindComponentByName(name)) live[i]->SetName(name);
      }
    }
  }
}

TEST_F(ObjectsTest, NamesAreRegisteredUniqueAndCaseInsensitive) {
  EXPECT_EQ(scene.FindComponentByName("base0"), scene.GetBase(0));
  TestBox* a = scene.Create<TestBox>(nullptr, "");
  TestBox* b = scene.Create<TestBox>(nullptr, "");
  EXPECT_EQ(a->GetName(), "object0");
  EXPECT_EQ(b->GetName(), "object1");
  EXPECT_EQ(scene.MakeUniqueName("object"), "object2");
  EXPECT_EQ(scene.MakeUniqueName("\x01host\x01"),
            "\x01host\x01"
            "0");

  a->SetName("Title");
  EXPECT_EQ(scene.FindComponentByName("TITLE"), a);
  EXPECT_EQ(scene.FindComponentByName("object0"), nullptr);
  EXPECT_EQ(scene.MakeUniqueName("object"), "object0");  // the freed number is reused
  // A Shift-JIS trail byte in the ASCII range is not case-folded.
  TestBox* k = scene.Create<TestBox>(nullptr, "\x83\x41");  // "ア"
  EXPECT_EQ(scene.FindComponentByName("\x83\x61"), nullptr);
  EXPECT_EQ(scene.FindComponentByName("\x83\x41"), k);

  EXPECT_THROW(b->SetName("title"), EZirkObjectError);
  EXPECT_EQ(b->GetName(), "object1");
  EXPECT_EQ(scene.FindComponentByName("title"), a);
  EXPECT_THROW(scene.Create<TestBox>(nullptr, "Title"), EZirkObjectError);
  EXPECT_EQ(scene.ObjectCount(), 3);

  // Through the property dispatcher.
  SetObjectProp(*b, PR_NAME, TParamString("menu"));
  TParamString name;
  GetObjectProp(name, *b, PR_NAME);
  EXPECT_EQ(name.AsString(), "menu");
}

TEST_F(ObjectsTest, ScrapLeavesTickDrawAndHitTestAtOnceAndFreesAtTheTickEnd) {
  TestBox* box = addBox(scene, nullptr, 10, 10, 20, 20, 0x0000FF, "victim");
  TestBox* child = addBox(scene, box, 0, 0, 5, 5, 0x00FF00, "child");
  scene.Events().PostEvent(box, "*label", PR_ONLBTNDOWN);
  frame();
  ASSERT_EQ(box->ticks, 1);
  EXPECT_EQ(scene.GetBase(0)->HitTest({15, 15}, kAllMouseMask), box);
  const uint64_t childSerial = child->Serial();
  EXPECT_EQ(scene.FindBySerial(childSerial), child);

  box->Scrap();
  EXPECT_EQ(scene.FindBySerial(childSerial), nullptr);
  EXPECT_TRUE(box->IsScrapped());
  EXPECT_EQ(box->GetName(), "");
  EXPECT_EQ(scene.FindComponentByName("victim"), nullptr);
  EXPECT_EQ(scene.FindComponentByName("child"), nullptr);
  EXPECT_EQ(scene.GetBase(0)->HitTest({15, 15}, kAllMouseMask), nullptr);
  EXPECT_FALSE(scene.Contains(box));
  EXPECT_FALSE(scene.Contains(child));
  EXPECT_EQ(scene.DeletedCount(), 1);
  EXPECT_EQ(scene.Events().FindEvent(box, PR_ONLBTNDOWN), 0);  // kept until freed

  scene.TickObjects();
  EXPECT_EQ(scene.DeletedCount(), 0);
  EXPECT_EQ(scene.Events().Count(), 0) << "the freed object's event is dropped";
  scene.Paint();
  EXPECT_EQ(pixel(15, 15), 0u) << "the scrapped box is painted over";
  EXPECT_EQ(scene.ObjectCount(), 0);
}

TEST_F(ObjectsTest, ObjectsRemovedDuringTheTickNeverLeaveTheLoopOnFreedMemory) {
  // a scraps c (later) and returns true; b frees itself; d scraps a's sibling
  // e that already ticked; f is paused. Each live object ticks exactly once.
  TestBox* a = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* b = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* c = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* d = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* e = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* f = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* g = addBox(scene, nullptr, 0, 0, 1, 1);
  f->paused = true;
  std::vector<TestBox*> order;
  for (TestBox* x : {a, b, c, d, e, f, g}) {
    x->onTick = [&order](TestBox& self) {
      order.push_back(&self);
      return false;
    };
  }
  a->onTick = [&](TestBox& self) {
    order.push_back(&self);
    c->Scrap();
    return true;
  };
  b->onTick = [&](TestBox& self) {
    order.push_back(&self);
    return true;
  };
  e->onTick = [&](TestBox& self) {
    order.push_back(&self);
    d->Scrap();  // already ticked this frame
    return false;
  };
  scene.TickObjects();
  EXPECT_EQ(order, (std::vector<TestBox*>{a, b, d, e, g}));
  EXPECT_EQ(scene.ObjectCount(), 3);  // e, f, g
  EXPECT_EQ(scene.Objects()[0], e);
  EXPECT_EQ(f->ticks, 0);
}

TEST_F(ObjectsTest, ATickingObjectMayFreeHelpersAtOnceAndResetTheTickIndex) {
  // An emitter that frees its helpers at once and makes new ones every
  // tick, as particles do; the helpers sit after it in the tick order.
  TestBox* before = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* emitter = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* after = addBox(scene, nullptr, 0, 0, 1, 1);
  std::vector<TestBox*> helpers;
  emitter->onTick = [&](TestBox& self) {
    for (TestBox* h : helpers) scene.FreeObject(h);
    helpers.clear();
    scene.TickIndex = scene.IndexOfObject(&self);
    for (int i = 0; i < 3; ++i) {
      helpers.push_back(scene.Create<TestBox>(&self, scene.MakeUniqueName("\x01p")));
    }
    return false;
  };
  for (int t = 0; t < 4; ++t) scene.TickObjects();
  EXPECT_EQ(before->ticks, 4);
  EXPECT_EQ(emitter->ticks, 4);
  EXPECT_EQ(after->ticks, 4);
  EXPECT_EQ(scene.ObjectCount(), 6);
  EXPECT_EQ(scene.DeletedCount(), 0);
  for (TestBox* h : helpers) EXPECT_EQ(h->ticks, 1) << "helpers made this tick ran once";
  EXPECT_EQ(helpers[0]->GetName(), "\x01p0") << "freed names are free again";

  // Freeing is refused for screens and objects of another scene.
  TZirkBaseList other;
  other.FreeObject(emitter);
  scene.FreeObject(scene.GetBase(0));
  EXPECT_TRUE(scene.Contains(emitter));
  EXPECT_EQ(scene.IndexOfObject(scene.GetBase(0)), -1);
}

// Keeps raw pointers to its helper children, as a particle emitter does.
class Emitter : public TestBox {
 public:
  Emitter(TZirkBaseList& scene, int* leftAtDestruction)
      : TestBox(scene), left_(leftAtDestruction) {}
  ~Emitter() override {
    for (TZirkObject* h : helpers) h->GetName();  // must all be alive
    *left_ = static_cast<int>(helpers.size());
  }
  void ChildRemoved(TZirkObject* child) override { std::erase(helpers, child); }
  std::vector<TZirkObject*> helpers;

 private:
  int* left_;
};

TEST_F(ObjectsTest, AParentHearsOfEveryChildLeavingBeforeItIsFreed) {
  int left = -1;
  auto* e = scene.Create<Emitter>(nullptr, "emitter", &left);
  for (int i = 0; i < 4; ++i) e->helpers.push_back(scene.Create<TestBox>(e, ""));
  e->helpers[0]->Scrap();
  EXPECT_EQ(e->helpers.size(), 3u);
  e->helpers[0]->SetParent(nullptr);
  EXPECT_EQ(e->helpers.size(), 2u);
  static_cast<TestBox*>(e->helpers[0])->onTick = [](TestBox&) { return true; };
  scene.TickObjects();
  EXPECT_EQ(e->helpers.size(), 1u);
  e->Scrap();
  scene.FreeDeleted();
  EXPECT_EQ(left, 0) << "children go first and the parent hears of each";
}

TEST_F(ObjectsTest, AnObjectCannotBecomeItsOwnAncestor) {
  TestBox* a = addBox(scene, nullptr, 0, 0, 10, 10);
  TestBox* b = addBox(scene, a, 0, 0, 10, 10);
  TestBox* c = addBox(scene, b, 0, 0, 10, 10);
  EXPECT_FALSE(a->SetParent(a));
  EXPECT_FALSE(a->SetParent(c));
  EXPECT_EQ(a->GetParent(), scene.GetBase(0));
  EXPECT_EQ(c->GetParent(), b);
  // By name, as a script would.
  a->SetPropStr(PR_PARENT, c->GetName());
  EXPECT_EQ(a->GetParent(), scene.GetBase(0));
  EXPECT_TRUE(c->SetParent(scene.GetBase(1)));
  EXPECT_EQ(c->GetScreen(), scene.GetBase(1));
  EXPECT_EQ(a->GetPropStr(PR_PARENT), "BASE0");

  TZirkBaseList other;
  TestBox* stranger = other.Create<TestBox>(nullptr, "");
  EXPECT_FALSE(a->SetParent(stranger));
}

TEST_F(ObjectsTest, ChildrenSortByPriorityThenOrder) {
  TZirkBase* base = scene.GetBase(0);
  TestBox* a = addBox(scene, nullptr, 0, 0, 1, 1, -1, "a");
  TestBox* b = addBox(scene, nullptr, 0, 0, 1, 1, -1, "b");
  TestBox* c = addBox(scene, nullptr, 0, 0, 1, 1, -1, "c");
  auto names = [&] {
    std::string s;
    for (int32_t i = 0; i < base->GetChildCount(); ++i) s += base->GetChild(i)->GetName();
    return s;
  };
  EXPECT_EQ(names(), "abc");
  struct Step {
    std::function<void()> act;
    const char* expected;
  };
  const Step steps[] = {
      {[&] { a->SetPropInt(PR_PRIORITY, 5); }, "bca"},
      {[&] { b->SetPriority(5); }, "cab"},  // a fresh order puts b above a
      {[&] { a->SetPriority(5); }, "cba"},
      {[&] { c->SetPriority(-1); }, "cba"},
      {[&] { a->SetOrder(-100); }, "cab"},
      {[&] { c->SetPriority(9); }, "abc"},
      // New children go by their priority 0, each after its ties.
      {[&] { addBox(scene, nullptr, 0, 0, 1, 1, -1, "d"); }, "dabc"},
      {[&] { addBox(scene, nullptr, 0, 0, 1, 1, -1, "e"); }, "deabc"},
      // Equal keys keep the order they had, as a stable sort keeps it.
      {[&] { base->GetChild(0)->SetOrder(base->GetChild(1)->GetOrder()); }, "deabc"},
      {[&] { base->GetChild(1)->SetOrder(base->GetChild(0)->GetOrder() - 1); }, "edabc"},
  };
  for (const Step& s : steps) {
    s.act();
    EXPECT_EQ(names(), s.expected);
  }
  EXPECT_EQ(c->GetPropInt(PR_PRIORITY), 9);
}

TEST_F(ObjectsTest, PropertyDefaultsAndControlFields) {
  TestBox* box = addBox(scene, nullptr, 3, 4, 50, 60, 0x123456);
  struct Case {
    int id;
    int32_t expected;
  };
  const Case ints[] = {
      {PR_LEFT, 3},         {PR_TOP, 4},     {PR_WIDTH, 50},      {PR_HEIGHT, 60},
      {PR_COLOR, 0x123456}, {PR_VISIBLE, 1}, {PR_IGNOREMOUSE, 0}, {PR_COMPOTYPE, LT_BOX},
      {PR_AMP, 0},          {PR_PARAM1, 0}};
  for (const Case& c : ints) {
    TParamInteger v(-99);
    GetObjectProp(v, *box, c.id);
    EXPECT_EQ(v.AsInteger(), c.expected) << PropertyName(c.id);
  }
  TParamString s("junk");
  GetObjectProp(s, *box, PR_FONTNAME);
  EXPECT_EQ(s.AsString(), "") << "an id without a slot reads empty";
  SetObjectProp(*box, PR_FONTNAME, TParamString("MS Gothic"));  // ignored, no fault

  // Setters take any holder type.
  SetObjectProp(*box, PR_LEFT, TParamString("17"));
  SetObjectProp(*box, PR_TOP, TParamFloat(20.5L));
  EXPECT_EQ(box->Left(), 17);
  EXPECT_EQ(box->Top(), 20);
  SetObjectProp(*box, PR_ONLBTNDOWN, TParamString("*down"));
  EXPECT_EQ(box->GetPropStr(PR_ONLBTNDOWN), "*down");

  // PR_ANIPAUSED reads the parent's flag too.
  TestBox* child = addBox(scene, box, 0, 0, 1, 1);
  box->SetPropInt(PR_ANIPAUSED, 1);
  EXPECT_EQ(child->GetPropInt(PR_ANIPAUSED), 1);
}

TEST_F(ObjectsTest, DrawPositionFollowsParentScrollPlusMotionAndZoom) {
  TestBox* parent = addBox(scene, nullptr, 100, 50, 200, 200);
  TestBox* child = addBox(scene, parent, 10, 20, 5, 5);
  parent->SetPropInt(PR_SCROLLX, 4);
  child->SetPropInt(PR_OFFSETX, 2);
  child->SetPropInt(PR_PLUSY, 7);
  EXPECT_EQ(child->GetDrawLeft(), 100 - 4 + 10 - 2);
  EXPECT_EQ(child->GetDrawTop(), 50 + 20 + 7);
  EXPECT_EQ(child->GetRotationCentre(), (TPoint{106, 77}));
  EXPECT_EQ(child->GetScreenRect(), Bounds(104, 77, 5, 5));
  // The motion offset replaces PR_LEFT/PR_TOP only while a motion drives it.
  child->SetMotionX(1);
  EXPECT_EQ(child->GetDrawLeft(), 104);
  // Clip rectangles are in the parent's frame and cut the screen rectangle.
  child->SetPropInt(PR_CLIPLEFT, 12);
  child->SetPropInt(PR_CLIPTOP, 0);
  child->SetPropInt(PR_CLIPWIDTH, 100);
  child->SetPropInt(PR_CLIPHEIGHT, 100);
  EXPECT_EQ(child->ScreenClipRect(), Bounds(108, 50, 100, 100));
  // A clip limits drawing only: the hidden part of the child is still hit,
  // and so is a grandchild outside the child's clip.
  EXPECT_EQ(scene.GetBase(0)->HitTest({104, 78}, kAllMouseMask), child);
  EXPECT_EQ(scene.GetBase(0)->HitTest({108, 78}, kAllMouseMask), child);
  TestBox* grandchild = addBox(scene, child, 1, 1, 1, 1);
  EXPECT_EQ(grandchild->GetScreenRect(), Bounds(105, 78, 1, 1));
  EXPECT_EQ(scene.GetBase(0)->HitTest({105, 78}, kAllMouseMask), grandchild);
  // Each level asks its parent once: a chain as deep as a damaged save may
  // nest is placed at once (asking twice per level took 2^depth steps).
  TZirkObject* deepest = grandchild;
  for (int32_t depth = 0; depth < 64; ++depth) deepest = addBox(scene, deepest, 1, 2, 1, 1);
  EXPECT_EQ(deepest->GetScreenRect(), Bounds(105 + 64, 78 + 128, 1, 1));
}

// A motion of a fixed number of steps that moves its target one pixel a step.
class StepMotion : public TZirkMotionBase {
 public:
  StepMotion(TZirkControl& target, int32_t length) : target_(target), length_(length) {}
  bool Step() override {
    if (frame_ >= length_) return false;
    ++frame_;
    target_.SetMotionX(frame_);
    return frame_ == length_;
  }
  void Rewind() override { frame_ = 0; }
  int32_t GetLength() override { return length_; }
  uint8_t GetState() override { return frame_ < length_ ? 0 : 1; }
  int32_t GetFrameCounter() override { return frame_; }
  int32_t GetTime() override { return frame_ * 16; }
  void SetTime(int32_t ms) override { frame_ = ms / 16; }
  bool Finished() override { return frame_ >= length_; }
  void Reapply() override { ++reapplied; }
  int reapplied = 0;

 private:
  TZirkControl& target_;
  int32_t length_;
  int32_t frame_ = 0;
};

// PR_AUTOSCRAP as the box serves it.
class AutoBox : public TestBox {
 public:
  using TestBox::TestBox;
  void GetProp(int id, TCustomParam& v) override {
    if (id == PR_AUTOSCRAP) return v.SetBoolean(autoScrap);
    TestBox::GetProp(id, v);
  }
  bool autoScrap = false;
};

TEST_F(ObjectsTest, AControlsMotionStepsMovesItAndReportsItsEnd) {
  std::vector<std::string> files;
  SetMotionFactory([&](TZirkControl& target, const std::string& file) {
    files.push_back(file);
    return file == "missing.zmt" ? nullptr : std::make_unique<StepMotion>(target, 3);
  });
  auto* box = scene.Create<AutoBox>(nullptr, "mover");
  box->SetBounds(100, 50, 10, 10);
  box->SetPropStr(PR_ONPLAYEND, "*end");
  box->StartMotion("walk.zmt");
  ASSERT_NE(box->GetMotion(), nullptr);
  EXPECT_EQ(box->GetDrawLeft(), 0) << "a running motion places the control";
  for (int i = 0; i < 5; ++i) scene.TickObjects();
  EXPECT_EQ(box->GetDrawLeft(), 3);
  EXPECT_EQ(box->GetDrawTop(), 0);
  ASSERT_EQ(scene.Events().Count(), 1) << "the end is reported once";
  EXPECT_EQ(scene.Events().Items(0).PropId, PR_ONPLAYEND);

  auto* motion = static_cast<StepMotion*>(box->GetMotion());
  scene.ReleaseSurfaces();
  scene.RestoreSurfaces();
  EXPECT_EQ(motion->reapplied, 1);

  box->autoScrap = true;
  box->GetMotion()->Rewind();
  for (int i = 0; i < 3; ++i) scene.TickObjects();
  EXPECT_EQ(scene.FindComponentByName("mover"), nullptr) << "auto scrap at the end";

  auto* still = addBox(scene, nullptr, 7, 8, 1, 1);
  still->StartMotion("missing.zmt");
  EXPECT_EQ(still->GetMotion(), nullptr);
  EXPECT_EQ(still->GetDrawLeft(), 7);
  EXPECT_EQ(files, (std::vector<std::string>{"walk.zmt", "missing.zmt"}));
  SetMotionFactory({});
}

TEST_F(ObjectsTest, ExtremeScriptValuesSaturateInsteadOfOverflowing) {
  TestBox* parent = addBox(scene, nullptr, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, 0xFF);
  TestBox* child = addBox(scene, parent, INT32_MAX, INT32_MIN, 10, 10, 0xFF);
  child->SetPropInt(PR_PLUSX, INT32_MAX);
  child->SetPropInt(PR_OFFSETY, INT32_MAX);
  parent->SetPropInt(PR_SCROLLX, INT32_MIN);
  child->SetPropInt(PR_POSZOOMED, 1);
  child->SetPropInt(PR_CLIPWIDTH, INT32_MAX);
  child->SetPropInt(PR_CLIPHEIGHT, INT32_MAX);
  child->SetPropInt(PR_CLIPLEFT, INT32_MIN);
  EXPECT_EQ(child->GetDrawLeft(), INT32_MAX);
  EXPECT_EQ(child->GetDrawTop(), INT32_MIN);
  child->SetPropStr(PR_ONLBTNDOWN, "*d");
  child->LButtonDown(INT32_MIN, INT32_MAX);
  frame();
  EXPECT_EQ(scene.GetBase(0)->HitTest({0, 0}, kAllMouseMask), nullptr);
  ASSERT_EQ(scene.Events().Count(), 1);
  EXPECT_EQ(scene.Events().Items(0).Args[0], "-4294967295");
}

TEST_F(ObjectsTest, SaveRecordsAtTheVersionGatesLeaveHelperObjectsOut) {
  TestBox* a = addBox(scene, nullptr, 1, 2, 3, 4, 0x112233, "keep");
  a->SetPriority(7);
  a->SetOrder(42);
  a->SetTag(99);
  a->SetPropStr(PR_ONMOUSEOUT, "*out");
  addBox(scene, a, 5, 6, 7, 8, -1, "kid");
  addBox(scene, nullptr, 0, 0, 1, 1, -1, "\x01track0");
  scene.Create<TestBox>(scene.GetBase(1), "second");
  scene.ActiveIndex = 1;

  TKwMemoryStream saved;
  scene.SaveToStream(saved);

  TZirkBaseList loaded;
  saved.SetPosition(0);
  loaded.LoadFromStream(saved, SaveVersion);
  EXPECT_EQ(saved.Remaining(), 0);
  EXPECT_EQ(loaded.ActiveIndex, 1);
  EXPECT_EQ(loaded.ObjectCount(), 3) << "the chr(1) helper is not saved";
  auto* keep = dynamic_cast<TestBox*>(loaded.FindComponentByName("keep"));
  ASSERT_NE(keep, nullptr);
  EXPECT_EQ(keep->GetPriority(), 7);
  EXPECT_EQ(keep->GetOrder(), 42);
  EXPECT_EQ(keep->GetTag(), 99);
  EXPECT_EQ(keep->GetScreenRect(), Bounds(1, 2, 3, 4));
  EXPECT_EQ(keep->Color(), 0x112233);
  EXPECT_EQ(keep->GetPropStr(PR_ONMOUSEOUT), "*out");
  ASSERT_EQ(keep->GetChildCount(), 1);
  EXPECT_EQ(keep->GetChild(0)->GetName(), "kid");
  EXPECT_EQ(loaded.FindComponentByName("second")->GetScreen(), loaded.GetBase(1));

  // The base record alone, written as versions before 104 and 120 had it.
  struct Gate {
    int32_t version;
    bool hasOrder, hasTag;
  };
  for (const Gate& g : {Gate{103, false, false}, Gate{104, true, false}, Gate{119, true, false},
                        Gate{120, true, true}}) {
    TKwMemoryStream rec;
    WriteStreamString(rec, "old");
    WriteStreamInt(rec, 3);
    if (g.hasOrder) WriteStreamInt(rec, 500);
    if (g.hasTag) WriteStreamInt(rec, 8);
    rec.SetPosition(0);
    TZirkBaseList s;
    TZirkObject* o = s.Create<TZirkComponent>(nullptr, "");
    int32_t order = o->GetOrder();
    o->TZirkObject::LoadFromStream(rec, g.version);
    EXPECT_EQ(rec.Remaining(), 0) << g.version;
    EXPECT_EQ(o->GetName(), "old");
    EXPECT_EQ(o->GetPriority(), 3);
    EXPECT_EQ(o->GetOrder(), g.hasOrder ? 500 : order) << g.version;
    EXPECT_EQ(o->GetTag(), g.hasTag ? 8 : 0) << g.version;
  }
}

TEST_F(ObjectsTest, DamagedOrUnknownChildRecords) {
  addBox(scene, nullptr, 0, 0, 1, 1, -1, "x");
  TKwMemoryStream saved;
  scene.SaveToStream(saved);
  std::vector<uint8_t> bytes = saved.Bytes();

  // An unregistered kind is skipped by its length.
  RegisterKind(LT_BOX, {});
  {
    TKwMemoryStream in(bytes);
    TZirkBaseList s;
    s.LoadFromStream(in, SaveVersion);
    EXPECT_EQ(s.ObjectCount(), 0);
    EXPECT_EQ(in.Remaining(), 0);
  }
  RegisterKind(LT_BOX, [](TZirkBaseList& s) { return std::make_unique<TestBox>(s); });
  // Every truncation fails cleanly; a huge count or length is refused.
  for (size_t cut = 0; cut < bytes.size(); cut += 3) {
    TKwMemoryStream in(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
    TZirkBaseList s;
    EXPECT_ANY_THROW(s.LoadFromStream(in, SaveVersion)) << cut;
    EXPECT_EQ(s.ObjectCount(), 0) << "nothing half-loaded stays";
  }
  std::vector<uint8_t> huge = bytes;
  huge[8] = 0xFF;  // child count of BASE0
  huge[11] = 0x7F;
  TKwMemoryStream in(huge);
  TZirkBaseList s;
  EXPECT_THROW(s.LoadFromStream(in, SaveVersion), EFormatError);
}

TEST_F(ObjectsTest, CabinetHoldsObjectsOffStage) {
  struct Watched : TestBox {
    using TestBox::TestBox;
    void CabinetPause() override { ++pauses; }
    void CabinetResume() override { ++resumes; }
    int pauses = 0, resumes = 0;
  };
  TZirkCabinet* cabinet = scene.Create<TZirkCabinet>(nullptr, "cab");
  auto* w = scene.Create<Watched>(nullptr, "w");
  w->SetBounds(0, 0, 10, 10);
  w->SetParent(cabinet);
  EXPECT_EQ(w->pauses, 1);
  scene.TickObjects();
  EXPECT_EQ(w->ticks, 0);
  EXPECT_EQ(scene.GetBase(0)->HitTest({5, 5}, kAllMouseMask), nullptr);
  w->SetParent(nullptr);
  EXPECT_EQ(w->resumes, 1);
  scene.TickObjects();
  EXPECT_EQ(w->ticks, 1);
}

// A radio button as the image button keeps its group through its parent.
class GroupButton : public TestBox, public IGroupButton {
 public:
  using TestBox::TestBox;
  const TPropTable& Properties() const override {
    using P = TPropField<GroupButton>;
    static const TPropTable table(
        TestBox::Properties(),
        {
            P(PR_GROUPINDEX, &GroupButton::group),
            P(PR_SELECTED, &GroupButton::selected).Set([](GroupButton& b, bool selected) {
              if (selected == b.selected || (selected && b.group == 0)) return;
              b.selected = selected;
              b.GetParent()->UpdateButtonGroup(&b, !selected);
            }),
            P(PR_ALLOWALLUP, &GroupButton::allowAllUp).Set([](GroupButton& b, bool allowAllUp) {
              b.GetParent()->SetGroupAllowAllUp(b.group, allowAllUp);
            }),
        });
    return table;
  }
  void SetDown(bool down) override { selected = down; }
  void SetAllowAllUp(bool flag) override { allowAllUp = flag; }
  int32_t group = 1;
  bool selected = false;
  bool allowAllUp = false;
};

TEST_F(ObjectsTest, ButtonGroupsKeepOneSelectedPerGroup) {
  std::vector<GroupButton*> b;
  for (int32_t group : {1, 1, 1, 2, 0}) {
    b.push_back(scene.Create<GroupButton>(nullptr, ""));
    b.back()->group = group;
  }
  auto states = [&] {
    std::string s;
    for (GroupButton* x : b) s += x->selected ? '1' : '0';
    return s;
  };
  b[3]->SetPropInt(PR_SELECTED, 1);
  b[0]->SetPropInt(PR_SELECTED, 1);
  EXPECT_EQ(states(), "10010");
  b[2]->SetPropInt(PR_SELECTED, 1);
  EXPECT_EQ(states(), "00110") << "group 2 is left alone";
  b[4]->SetPropInt(PR_SELECTED, 1);
  EXPECT_EQ(states(), "00110") << "no group, no selection";
  b[2]->SetPropInt(PR_SELECTED, 0);
  EXPECT_EQ(states(), "00110") << "the group does not allow all up";
  b[1]->SetPropInt(PR_ALLOWALLUP, 1);
  EXPECT_TRUE(b[0]->allowAllUp && b[1]->allowAllUp && b[2]->allowAllUp);
  EXPECT_FALSE(b[3]->allowAllUp);
  b[2]->SetPropInt(PR_SELECTED, 0);
  EXPECT_EQ(states(), "00010") << "all up allowed";
  b[2]->SetPropInt(PR_SELECTED, 1);
  // Not a child of this parent: nothing happens.
  TestBox* other = addBox(scene, nullptr, 0, 0, 1, 1);
  other->UpdateButtonGroup(b[0]);
  EXPECT_EQ(states(), "00110");
}

TEST_F(ObjectsTest, TwoScenesSideBySide) {
  TZirkBaseList cinema(320, 240);
  TestBox* mine = addBox(scene, nullptr, 0, 0, 10, 10, 0x0000FF, "same");
  TestBox* theirs = addBox(cinema, nullptr, 0, 0, 10, 10, 0x00FF00, "same");
  EXPECT_EQ(scene.FindComponentByName("same"), mine);
  EXPECT_EQ(cinema.FindComponentByName("same"), theirs);
  EXPECT_EQ(cinema.GetBase(0)->BackSurface()->Width(), 320);
  cinema.SetProp(PR_WIDTH, TParamInteger(400));
  EXPECT_EQ(cinema.GetBase(1)->BackSurface()->Width(), 400);
  EXPECT_EQ(scene.Width(), 640);
  theirs->Scrap();
  scene.TickObjects();
  EXPECT_EQ(cinema.DeletedCount(), 1) << "each scene frees its own";
  cinema.TickObjects();
  EXPECT_EQ(cinema.ObjectCount(), 0);
  EXPECT_EQ(scene.ObjectCount(), 1);
}

}  // namespace
}  // namespace zirk::test
