// Preview menus from byte-built files at each version: the reader, hover,
// click and keys with their events and selection, the click animation's
// end, preloading, damaged files and the save record at each version.

#include "objects/prevmenu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "control_fixture.h"
#include "film_support.h"
#include "objects/motion.h"
#include "record_support.h"
#include "scene/runtime.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000;
constexpr uint32_t kYellow = 0x00FFFF, kGrey = 0x808080, kWhite = 0xFFFFFF;
using Vs = std::vector<std::string>;

struct MenuEntry {
  int32_t x = 0, y = 10;
  std::array<std::string, kPrevMenuSlots> pictures;
  uint8_t captureMask = 0;
  std::string name;
  int32_t companionX = 0, companionY = 50;
  std::string cursor = "7";
};

// An entry with the pictures the menu fixture writes.
MenuEntry entry(const std::string& name, int32_t x) {
  MenuEntry e{.x = x, .name = name, .companionX = x};
  e.pictures[psNormal] = "n.dor";
  e.pictures[psHover] = "h.dor";
  e.pictures[psLeave] = "l.dor";
  e.pictures[psClick] = "c.dor";
  e.pictures[psDisabled] = "d.dor";
  e.pictures[psHoverCompanion] = "hc.dor";
  return e;
}

// The file's bytes at the version, with the fields that version has.
std::string menuFile(int32_t version, const std::vector<MenuEntry>& entries) {
  TKwMemoryStream s;
  s.WriteBuffer("ZirkPrevMenu", 12);
  s.WriteBuffer(std::to_string(version).data(), 3);
  TRecordWriter w(s);
  w.Int(300);
  w.Int(100);
  w.Int(static_cast<int32_t>(entries.size()));
  for (const MenuEntry& e : entries) {
    const auto& p = e.pictures;
    w.Int(e.x);
    w.Int(e.y);
    w.Str(p[psNormal]);
    w.Byte(e.captureMask);
    w.Str(e.name);
    std::vector<TPrevMenuSlot> slots = {psHover, psLeave, psClick};
    if (version >= 101) slots.push_back(psDisabled);
    if (version >= 103) slots.insert(slots.end(), {psDisabledHover, psDisabledLeave});
    slots.insert(slots.end(), {psHoverCompanion, psLeaveCompanion, psClickCompanion});
    if (version >= 102)
      slots.insert(slots.end(), {psDisabledHoverCompanion, psDisabledLeaveCompanion});
    for (TPrevMenuSlot slot : slots) w.Str(p[slot]);
    w.Int(e.companionX);
    w.Int(e.companionY);
    w.Str(e.cursor);
  }
  return std::string(s.Bytes().begin(), s.Bytes().end());
}

TEST(PrevMenuReader, ReadsEachVersionsFieldsAndResolvesPictureNames) {
  for (int32_t version : {100, 101, 102, 103}) {
    SCOPED_TRACE(version);
    MenuEntry e = entry("first", 5);
    for (size_t slot = 0; slot < kPrevMenuSlots; ++slot)
      e.pictures[slot] = std::to_string(slot) + ".dor";
    e.pictures[psHover] = "..\\up.dor";
    const std::string bytes = menuFile(version, {e, entry("second", 50)});
    TKwMemoryStream s(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    TContSelList list;
    ReadPrevMenu(list, s, "menus\\");
    EXPECT_EQ(s.Remaining(), 0);
    EXPECT_EQ(list.Height, 100);
    ASSERT_EQ(list.Count(), 2);
    const TContSelButton& b = list.Button(0);
    EXPECT_EQ(list.Button(1).ButtonName, "Button01");
    EXPECT_EQ(b.Name, "first") << "names are not resolved";
    EXPECT_EQ(b.Pictures[psNormal], "menus\\0.dor");
    EXPECT_EQ(b.Pictures[psHover], "up.dor");
    EXPECT_EQ(b.Pictures[psClickCompanion], "menus\\9.dor");
    EXPECT_EQ(b.Pictures[psDisabled].empty(), version < 101);
    EXPECT_EQ(b.Pictures[psDisabledHoverCompanion].empty(), version < 102);
    EXPECT_EQ(b.Pictures[psDisabledLeave].empty(), version < 103);
  }
}

TEST(PrevMenuReader, DamagedFilesRaiseAndNeverReadPastTheirBytes) {
  const std::string good = menuFile(103, {entry("a", 0), entry("b", 1)});
  auto patched = [&](size_t at, int32_t value) {
    std::string s = good;
    std::memcpy(s.data() + at, &value, 4);
    return s;
  };
  const char* format = "ZirkPreviewMenu:このファイル形式には対応していません";
  const char* version = "ZirkPreviewMenu:このバージョンのファイル形式には対応していません";
  struct Case {
    std::string bytes;
    const char* message;  // nullptr: the format error
  } cases[] = {
      {"ZirkPrevMenX103" + good.substr(15), format},
      {"ZirkPrev", format},
      {"ZirkPrevMenu104" + good.substr(15), version},
      {"ZirkPrevMenu099" + good.substr(15), version},
      {"ZirkPrevMenu1x3" + good.substr(15), version},
      {good.substr(0, good.size() - 20), nullptr},  // cut in an entry
      {patched(23, 100000), nullptr},               // a count beyond the bytes
      {patched(23, -1), nullptr},
      {patched(35, 0x7FFFFFF0), nullptr},  // a string beyond the bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 15));
    TKwMemoryStream s(std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()));
    TContSelList list;
    try {
      ReadPrevMenu(list, s, "");
      ADD_FAILURE() << "read";
    } catch (const EPrevMenuError& e) {
      ASSERT_NE(c.message, nullptr) << e.what();
      EXPECT_STREQ(e.what(), c.message);
    } catch (const EFormatError&) {
      EXPECT_EQ(c.message, nullptr);
    }
  }
}

class PrevMenuTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    RegisterZirkMotion();
    for (auto [name, color] : std::vector<std::pair<std::string, uint32_t>>{
             {"n.dor", kBlue}, {"h.dor", kRed}, {"d.dor", kGrey}, {"hc.dor", kYellow}})
      writeSolid(name, 20, 20, color);
    // Two frames of 50 ms each: the leave and click animations.
    for (auto [name, color] : {std::pair{"l.dor", kGreen}, {"c.dor", kWhite}, {"cc.dor", kWhite}})
      writePicture(name, {TestFrame{20, 20, {}, color, -1, 50}, {20, 20, {}, color, -1, 50}});
    GameTime().ElapsedTime = 20;
  }
  void TearDown() override {
    ControlTest::TearDown();
    GameTime() = {};
  }
  TZirkPrevMenu* menu(const std::vector<MenuEntry>& entries, int32_t version = 103) {
    writeFile(dir / "m.zpm", menuFile(version, entries));
    files.InvalidateCache();
    auto* m = scene.Create<TZirkPrevMenu>(nullptr, "menu");
    m->SetPropInt(PR_LEFT, 100);
    m->SetPropInt(PR_TOP, 100);
    m->SetPropStr(PR_ONMAPIN, "*in");
    m->SetPropStr(PR_ONMAPOUT, "*out");
    m->SetPropStr(PR_ONSELECT, "*select");
    m->SetPropStr(PR_ONPLAYEND, "*end");
    m->SetSource("m.zpm");
    frame();
    return m;
  }
  TZirkPrevMenu* threeEntries() {
    return menu({entry("one", 0), entry("two", 40), entry("three", 80)});
  }
  void click(TZirkPrevMenu* m, int32_t x) {
    m->MouseMove(x, 115);
    m->LButtonDown(x, 115);
    m->LButtonUp(x, 115);
  }
  uint32_t entryColor(int32_t index) { return screenColor(100 + index * 40 + 5, 115); }
  uint32_t companionColor(int32_t index) { return screenColor(100 + index * 40 + 5, 155); }
};

TEST_F(PrevMenuTest, LoadsItsEntriesAsPicturesOfTheMenu) {
  TZirkPrevMenu* m = threeEntries();
  EXPECT_EQ(m->GetPropInt(PR_WIDTH), 300);
  EXPECT_EQ(m->GetPropStr(PR_TEXT), "one\r\ntwo\r\nthree");
  EXPECT_EQ(m->IndexOfEntry("TWO"), -1);
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(entryColor(i), kBlue) << i;
    EXPECT_EQ(m->EntryImage(i)->GetName()[0], kHiddenNameChar);
  }
  EXPECT_FALSE(m->GetEntryEnabled(3));
  EXPECT_EQ(screenColor(100 + 25, 115), kBackground);
  // Each picture is held once, the same name in every entry.
  EXPECT_EQ(m->Preloaded().size(), 6u);
  // A menu file the project lacks gives an empty menu of no size.
  m->SetSource("missing.zpm");
  EXPECT_EQ(m->GetPropInt(PR_WIDTH), 0);
  EXPECT_TRUE(m->Preloaded().empty());
  frame();
  EXPECT_EQ(entryColor(0), kBackground);
  EXPECT_EQ(scene.ObjectCount(), 1);
  // A damaged one raises naming it.
  writeFile(dir / "bad.zpm", "ZirkPrevMenu104");
  files.InvalidateCache();
  try {
    m->SetSource("bad.zpm");
    ADD_FAILURE() << "read";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(),
                 "bad.zpm: ZirkPreviewMenu:このバージョンのファイル形式には対応していません");
  }
}

TEST_F(PrevMenuTest, HoverPlaysTheLeavePictureOnceAndQueuesOutBeforeIn) {
  TZirkPrevMenu* m = threeEntries();
  m->MouseMove(105, 115);
  EXPECT_EQ(takeEvents(), Vs{"*in:one,0"});
  frame();
  EXPECT_EQ(entryColor(0), kRed);
  EXPECT_EQ(companionColor(0), kYellow);
  EXPECT_EQ(m->GetHoverCursor(), 7);
  m->MouseMove(145, 115);
  EXPECT_EQ(takeEvents(), (Vs{"*out:one,0", "*in:two,1"}));
  frame();
  EXPECT_EQ(entryColor(0), kGreen) << "the leave picture";
  EXPECT_EQ(entryColor(1), kRed);
  EXPECT_EQ(companionColor(0), kBackground) << "no leave companion: it goes";
  EXPECT_EQ(companionColor(1), kYellow);
  for (int i = 0; i < 6; ++i) frame();
  EXPECT_EQ(entryColor(0), kBlue) << "back to normal after one pass";
  EXPECT_EQ(entryColor(1), kRed) << "the hover picture loops";
  // Between the entries nothing is hovered.
  m->MouseMove(125, 115);
  EXPECT_EQ(m->Hovered(), -1);
  m->MouseOut();
  EXPECT_EQ(takeEvents(), Vs{"*out:two,1"});
  // Every change is queued, whatever is still pending.
  for (int32_t x : {105, 145, 185}) m->MouseMove(x, 115);
  EXPECT_EQ(takeEvents(),
            (Vs{"*in:one,0", "*out:one,0", "*in:two,1", "*out:two,1", "*in:three,2"}));
}

TEST_F(PrevMenuTest, AClickPlaysItsAnimationThenEnds) {
  for (bool autoScrap : {false, true}) {
    SCOPED_TRACE(autoScrap);
    MenuEntry clicked = entry("two", 40);
    clicked.pictures[psClickCompanion] = "cc.dor";
    TZirkPrevMenu* m = menu({entry("one", 0), clicked});
    m->SetPropInt(PR_AUTOSCRAP, autoScrap);
    click(m, 145);
    EXPECT_EQ(m->Busy(), 2) << "the picture and its companion";
    EXPECT_EQ(LastPrevMenuSelection().Name, "two");
    EXPECT_EQ(LastPrevMenuSelection().Index, 1);
    EXPECT_EQ(takeEvents(), (Vs{"*in:two,1", "*select:two,1"}));
    frame();
    EXPECT_EQ(entryColor(1), kWhite);
    EXPECT_EQ(companionColor(1), kWhite);
    // While it runs, hovering changes nothing.
    m->MouseMove(105, 115);
    EXPECT_EQ(m->Hovered(), 1);
    for (int i = 0; i < 8; ++i) frame();
    if (autoScrap) {
      EXPECT_EQ(scene.FindComponentByName("menu"), nullptr);
      EXPECT_EQ(takeEvents(), Vs{});
      continue;
    }
    EXPECT_EQ(takeEvents(), Vs{"*end:two,1"});
    EXPECT_EQ(entryColor(1), kBlue) << "the resting picture after the click";
    EXPECT_EQ(companionColor(1), kBackground);
    m->MouseMove(105, 115);
    EXPECT_EQ(m->Hovered(), 0);
    scene.FreeObject(m);
    takeEvents();
  }
}

TEST_F(PrevMenuTest, HidingTheClickedEntryEndsItsAnimation) {
  TZirkPrevMenu* m = threeEntries();
  click(m, 145);
  ASSERT_EQ(m->Busy(), 1);
  takeEvents();
  m->SetEntryShown(1, false);
  EXPECT_EQ(m->Busy(), 0);
  EXPECT_EQ(takeEvents(), Vs{"*end:two,1"});
  frame();
  EXPECT_EQ(entryColor(1), kBackground);
  m->MouseMove(105, 115);
  EXPECT_EQ(m->Hovered(), 0) << "the menu is not frozen";
  // Shown again it rests; disabled it shows the disabled picture.
  m->SetEntryShown(1, true);
  m->SetEntryEnabled(2, false);
  frame();
  EXPECT_EQ(entryColor(1), kBlue);
  EXPECT_EQ(entryColor(2), kGrey);
  click(m, 105);
  m->SetEntryEnabled(0, false);
  for (int i = 0; i < 8; ++i) frame();
  EXPECT_EQ(m->Busy(), 0);
  EXPECT_EQ(entryColor(0), kGrey) << "disabled, it rests on the disabled picture after its click";
}

TEST_F(PrevMenuTest, KeysCycleTheVisibleEntriesAndSelect) {
  struct Case {
    std::vector<int32_t> keys;
    int32_t hidden, disabled;
    int32_t hovered, busy;
  } cases[] = {
      {{40}, -1, -1, 0, 0},        {{38}, -1, -1, 2, 0},         {{39, 39}, -1, -1, 1, 0},
      {{37}, -1, -1, 2, 0},        {{40, 40, 40}, -1, -1, 2, 0}, {{38, 38}, -1, -1, 1, 0},
      {{40, 40, 13}, 1, -1, 2, 1},  // a hidden entry is left out; Enter clicks
      {{40, 32}, -1, 0, 0, 0},      // a disabled entry does not click
  };
  for (const Case& c : cases) {
    TZirkPrevMenu* m = threeEntries();
    m->SetEntryShown(c.hidden, false);
    m->SetEntryEnabled(c.disabled, false);
    for (int32_t vk : c.keys) key(vk, m);
    EXPECT_EQ(m->Hovered(), c.hovered) << c.keys.size();
    EXPECT_EQ(m->Busy(), c.busy) << c.keys.size();
    const Vs events = takeEvents();
    EXPECT_EQ(std::count(events.begin(), events.end(), "*select:three,2"), c.busy);
    frame();
    if (c.disabled == 0) {
      EXPECT_EQ(entryColor(0), kGrey) << "no disabled hover picture";
    }
    scene.FreeObject(m);
  }
}

TEST_F(PrevMenuTest, AVersion100EntryDisabledShowsNothing) {
  TZirkPrevMenu* m = menu({entry("one", 0)}, 100);
  m->SetEntryEnabled(0, false);
  frame();
  EXPECT_EQ(entryColor(0), kBackground);
}

TEST_F(PrevMenuTest, MotionEntriesKeepTheirCaptureMaskAndPreloadTheirPictures) {
  FilmTrack t;
  t.type = 0;
  t.source = "h.dor";
  t.length = 10;
  ASSERT_TRUE(
      SaveFilmFile(FilmFile{.kind = "ZirkMotion", .tracks = {t}}, (dir / "m.zmt").string()));
  MenuEntry e{.name = "one"};
  e.pictures[psNormal] = "m.zmt";
  TZirkPrevMenu* m = menu({e});
  EXPECT_EQ(m->Preloaded(), Vs{"h.dor"});
  for (int i = 0; i < 3; ++i) frame();
  EXPECT_EQ(entryColor(0), kRed);
  EXPECT_EQ(m->EntryImage(0)->GetPropInt(PR_CAPTUREMASK), 0);
  // An ordinary picture object under the same motion takes the mask test.
  auto* images = scene.Create<TZirkImages>(nullptr, "images");
  images->SetPropStr(PR_SOURCE, "m.zmt");
  frame();
  EXPECT_EQ(images->GetPropInt(PR_CAPTUREMASK), 1);
}

TEST_F(PrevMenuTest, SaveRecordAtEachVersion) {
  TZirkPrevMenu* m = threeEntries();
  m->SetEntryEnabled(1, false);
  m->SetEntryShown(2, false);
  m->SetPropInt(PR_RCLICKSCRAP, 1);
  m->SetPropStr(PR_ONIDLE, "*idle");
  const auto current = record(*m);
  scene.FreeObject(m);
  auto old = [](int32_t version) {
    return OldControlRecord(version, [&](TRecordWriter& w) {
      w.Str("m.zpm");
      for (bool b : {false, true, false}) w.Bool(b);
      for (const char* label : {"*in", "*out", "*idle", "*select", "*end"}) w.Str(label);
      if (version >= 127) {
        w.Int(5);  // more than the menu has: the rest is read and dropped
        for (uint8_t b : {1, 0, 1, 0, 0}) w.Byte(b);
      }
      if (version >= 132) {
        w.Int(2);
        for (uint8_t b : {1, 0}) w.Byte(b);
      }
    });
  };
  struct Case {
    std::vector<uint8_t> bytes;
    int32_t version;
    std::vector<bool> enabled, shown;
  } cases[] = {
      {current, SaveVersion, {true, false, true}, {true, true, false}},
      {old(126), 126, {true, true, true}, {true, true, true}},
      {old(127), 127, {true, false, true}, {true, true, true}},
      {old(132), 132, {true, false, true}, {true, false, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    auto* copy = load<TZirkPrevMenu>(c.bytes, c.version);
    EXPECT_EQ(copy->GetPropStr(PR_SOURCE), "m.zpm");
    EXPECT_EQ(copy->GetPropInt(PR_RCLICKSCRAP), 1);
    EXPECT_EQ(copy->GetPropStr(PR_ONIDLE), "*idle");
    EXPECT_EQ(copy->GetPropStr(PR_ONPLAYEND), "*end");
    ASSERT_EQ(copy->EntryCount(), 3);
    for (int32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(copy->GetEntryEnabled(i), c.enabled[static_cast<size_t>(i)]) << i;
      EXPECT_EQ(copy->GetEntryShown(i), c.shown[static_cast<size_t>(i)]) << i;
    }
    scene.FreeObject(copy);
  }
}

}  // namespace
}  // namespace zirk::test
