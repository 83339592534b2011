// Map images with regions from byte-built region maps: hover, select and
// cancel with their events and pixels, keys, the cache's masks, damaged
// maps and the save record at each version.

#include "objects/mapimage.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/records.h"
#include "control_fixture.h"
#include "record_support.h"
#include "scene/runtime.h"
#include "script/saveversion.h"
#include "script/sysvars.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kBlue = 0xFF0000;
using Vs = std::vector<std::string>;

struct MapShape {
  std::string name;
  uint8_t shape;                // 0 rectangle, 1 ellipse, else polygon
  std::vector<int32_t> values;  // l, t, r, b; or x, y pairs
};

std::string regionMap(const std::vector<MapShape>& shapes) {
  TKwMemoryStream s;
  TRecordWriter w(s);
  w.Int(static_cast<int32_t>(shapes.size()));
  for (const MapShape& m : shapes) {
    w.Str(m.name);
    w.Byte(m.shape);
    if (m.shape > 1) w.Int(static_cast<int32_t>(m.values.size() / 2));
    for (int32_t v : m.values) w.Int(v);
  }
  return std::string(s.Bytes().begin(), s.Bytes().end());
}

const std::vector<MapShape> kShapes = {
    {"a", 0, {0, 0, 9, 9}},
    {"b", 0, {5, 5, 19, 19}},  // under "a" where they overlap
    {"c", 1, {20, 0, 39, 19}},
    {"d", 2, {0, 20, 20, 20, 0, 29}},
};

class MapImageTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    writeSolid("blue.dor", 40, 30, kBlue);
    writeSolid("red.dor", 40, 30, kRed);
    writeFile(dir / "map.rgn", regionMap(kShapes));
    files.InvalidateCache();
    SystemVariables() = {};
  }
  TZirkMapImage* map(const std::string& name = "map", int32_t left = 100) {
    auto* m = scene.Create<TZirkMapImage>(nullptr, name);
    m->SetPropInt(PR_LEFT, left);
    m->SetPropInt(PR_TOP, 100);
    m->SetPropInt(PR_ALPHA, 255);
    m->SetPropStr(PR_SOURCE, "blue.dor");
    m->SetPropStr(PR_HOVERSOURCE, "red.dor");
    m->SetPropStr(PR_MAPSOURCE, "map.rgn");
    m->SetPropStr(PR_ONMAPIN, "*in");
    m->SetPropStr(PR_ONMAPOUT, "*out");
    m->SetPropStr(PR_ONSELECT, "*select");
    return m;
  }
};

TEST_F(MapImageTest, TheHoveredRegionShowsTheHoverPicture) {
  TZirkMapImage* m = map();
  ASSERT_EQ(m->RegionCount(), 4);
  struct Case {
    int32_t x, y;  // local
    int32_t hovered;
    std::vector<std::pair<int32_t, int32_t>> red, blue;
  } cases[] = {
      {0, 0, 0, {{0, 0}, {9, 9}, {7, 7}}, {{10, 0}, {0, 10}, {15, 15}}},
      {12, 12, 1, {{5, 5}, {19, 19}, {7, 7}}, {{4, 4}, {20, 20}, {25, 5}}},
      {7, 7, 0, {{9, 9}}, {{12, 12}}},  // in "a" and "b": the first wins
      {30, 10, 2, {{30, 10}, {21, 10}}, {{20, 0}, {39, 19}, {30, 25}}},
      {2, 22, 3, {{2, 22}, {10, 21}}, {{15, 28}, {30, 25}}},
      {35, 28, -1, {}, {{0, 0}, {30, 10}, {35, 28}}},
      {-1, 0, -1, {}, {{0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hovered);
    m->MouseMove(100 + c.x, 100 + c.y);
    EXPECT_EQ(m->Hovered(), c.hovered);
    frame();
    for (auto [x, y] : c.red) EXPECT_EQ(screenColor(100 + x, 100 + y), kRed) << x << "," << y;
    for (auto [x, y] : c.blue) EXPECT_EQ(screenColor(100 + x, 100 + y), kBlue) << x << "," << y;
  }
  EXPECT_EQ(screenColor(99, 105), kBackground);
  // Region 2 to region 0: out before in.
  m->MouseMove(130, 110);
  takeEvents();
  m->MouseMove(101, 101);
  EXPECT_EQ(takeEvents(), (Vs{"*out:c,2", "*in:a,0"}));
  m->MouseOut();
  EXPECT_EQ(m->Hovered(), -1);
  EXPECT_EQ(takeEvents(), Vs{"*out:a,0"});
  for (int32_t i : {0, 1, 2}) m->SetHovered(i);  // each change told, however fast
  EXPECT_EQ(takeEvents(), (Vs{"*in:a,0", "*out:a,0", "*in:b,1", "*out:b,1", "*in:c,2"}));
}

TEST_F(MapImageTest, EachMapImageCutsItsOwnMasksAndTheCacheKeepsItsOwn) {
  TZirkMapImage* first = map("first", 100);
  TZirkMapImage* second = map("second", 200);
  // The same picture as normal and hover source of a third.
  TZirkMapImage* third = map("third", 300);
  third->SetPropStr(PR_HOVERSOURCE, "blue.dor");
  TDorvLease lease("blue.dor", true, false);
  const TCustomDIBX* cached = lease->Frame(0)->MaskSurface.get();
  ASSERT_NE(cached, nullptr);
  first->MouseMove(105, 105);
  third->MouseMove(305, 105);
  frame();
  EXPECT_EQ(screenColor(105, 105), kRed);
  EXPECT_EQ(screenColor(205, 105), kBlue) << "the other map image is untouched";
  EXPECT_EQ(screenColor(305, 105), kBlue) << "normal outside, the same picture inside";
  EXPECT_EQ(screenColor(315, 115), kBlue);
  for (int32_t y = 0; y < 30; y += 3)
    for (int32_t x = 0; x < 40; x += 3) ASSERT_EQ(cached->GetPixel(x, y), 255u) << x << "," << y;
  (void)second;
}

TEST_F(MapImageTest, KeysMoveAroundTheRegionsAndSelect) {
  TZirkMapImage* m = map();
  for (auto [vk, hovered] :
       {std::pair{38, 3}, {38, 2}, {37, 1}, {40, 2}, {39, 3}, {40, 0}, {37, 3}}) {
    key(vk, m);
    EXPECT_EQ(m->Hovered(), hovered) << vk;
  }
  for (int32_t vk : {38, 40}) scene.InputKeyDown(vk);
  scene.InputStep();
  EXPECT_EQ(m->Hovered(), 2) << "of the keys of one tick only the first acts";
  for (int32_t vk : {38, 40}) scene.InputKeyUp(vk);
  takeEvents();
  key(13, m);
  EXPECT_EQ(SystemVariables().SelStr, "c");
  EXPECT_EQ(SystemVariables().SelIndex, 2);
  key(32, m);
  EXPECT_EQ(takeEvents(), Vs{"*select:c,2"})
      << "a second selection before the first ran queues nothing";

  // Without regions the arrows do nothing.
  m->SetPropStr(PR_MAPSOURCE, "none.rgn");
  for (int32_t vk : {37, 38, 39, 40, 13}) key(vk, m);
  EXPECT_EQ(m->Hovered(), -1);
  EXPECT_EQ(takeEvents(), Vs{});
}

TEST_F(MapImageTest, SelectAndCancelCloseTheMapTwoTicksLater) {
  enum Act { kClick, kRightClick, kEscape };
  struct Case {
    Act act;
    bool autoScrap, rClickScrap, closes;
    std::string selStr;
    int32_t selIndex;
  } cases[] = {
      {kClick, true, false, true, "c", 2},      {kClick, false, false, false, "c", 2},
      {kRightClick, false, true, true, "", -1}, {kEscape, false, true, true, "", -1},
      {kEscape, false, false, false, "old", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.act << c.autoScrap << c.rClickScrap);
    SystemVariables().SelStr = "old";
    SystemVariables().SelIndex = 7;
    TZirkMapImage* m = map();
    m->SetPropInt(PR_AUTOSCRAP, c.autoScrap);
    m->SetPropInt(PR_RCLICKSCRAP, c.rClickScrap);
    if (c.act == kClick) {
      m->MouseMove(125, 105);
      m->LButtonDown(125, 105);
    }
    if (c.act == kRightClick) m->RightClickClose();
    if (c.act == kEscape) key(27, m);
    EXPECT_EQ(SystemVariables().SelStr, c.selStr);
    EXPECT_EQ(SystemVariables().SelIndex, c.selIndex);
    frame();
    ASSERT_NE(scene.FindComponentByName("map"), nullptr);
    if (c.closes) {
      m->MouseMove(101, 101);
      EXPECT_NE(m->Hovered(), 0) << "busy: the mouse does nothing";
    }
    frame();
    EXPECT_EQ(scene.FindComponentByName("map") == nullptr, c.closes);
    if (!c.closes) scene.FreeObject(m);
    scene.Events().Clear();
  }
}

TEST_F(MapImageTest, DamagedRegionMapsKeepWhatWasReadAndNeverCrash) {
  const std::string good = regionMap(kShapes);
  auto withCount = [&](int32_t count) {
    std::string s = good;
    std::memcpy(s.data(), &count, 4);
    return s;
  };
  // A polygon of `points` corners zigzagging between rows 0 and `height`.
  auto zigzag = [](int32_t points, int32_t height) {
    MapShape z{"z", 2, {}};
    for (int32_t i = 0; i < points; ++i) z.values.insert(z.values.end(), {i, i % 2 ? height : 0});
    return regionMap({z});
  };
  struct Case {
    const char* what;
    std::string bytes;
    int32_t regions;
  } cases[] = {
      {"whole", good, 4},
      {"a zigzag over a screen", zigzag(16, 40), 1},
      {"a zigzag of every edge crossing every row", zigzag(4000, 60000), 0},
      {"cut in the third region", good.substr(0, 50), 2},
      {"a count beyond the bytes", withCount(1000000), 0},
      {"a negative count", withCount(-3), 0},
      {"empty", "", 0},
      {"a vertex count beyond the bytes",
       regionMap({{"p", 2, {}}}).substr(0, 10) + "\xff\xff\xff\x7f", 0},
      {"huge coordinates", regionMap({{"h", 0, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}}}), 1},
      {"too many huge shapes",
       regionMap(std::vector<MapShape>(40, {"h", 1, {0, -30000, 10, 30000}})), 17},
      {"a polygon of two points", regionMap({{"two", 2, {0, 0, 5, 5}}}), 1},
  };
  TZirkMapImage* m = map();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dir / "damaged.rgn", c.bytes);
    files.InvalidateCache();
    m->SetPropStr(PR_MAPSOURCE, "");
    m->SetPropStr(PR_MAPSOURCE, "damaged.rgn");
    EXPECT_EQ(m->RegionCount(), c.regions);
    for (int32_t y = -2; y < 32; y += 4)
      for (int32_t x = -2; x < 42; x += 4) m->MouseMove(100 + x, 100 + y);
    frame();
  }
  // The whole map, then zeros past the cap: not read.
  writeFile(dir / "big.rgn", good);
  std::filesystem::resize_file(dir / "big.rgn", kRegionMapFileCap + 1);
  m->SetPropStr(PR_MAPSOURCE, "big.rgn");
  EXPECT_EQ(m->RegionCount(), 0);
}

TEST_F(MapImageTest, SaveRecordAtEachVersion) {
  TZirkMapImage* m = map();
  m->SetPropInt(PR_BRIGHTNESS, -20);
  m->SetPropInt(PR_RCLICKSCRAP, 1);
  m->SetPropStr(PR_ONIDLE, "*idle");
  m->SetPropInt(PR_PAUSED, 1);
  const auto current = record(*m);
  scene.FreeObject(m);
  auto old = [](int32_t version) {
    return OldControlRecord(version, [&](TRecordWriter& w) {
      for (const char* text : {"blue.dor", "red.dor", "map.rgn"}) w.Str(text);
      w.Int(255);
      w.Int(-20);
      w.Str("*in");
      w.Str("*out");
      w.Bool(false);
      w.Bool(true);
      if (version >= 104) {
        w.Str("*idle");
        w.Bool(true);
        w.Str("*select");
      }
      if (version >= 115) w.Int(TZirkMapImage::kCloseRequested);
    });
  };
  struct Case {
    std::vector<uint8_t> bytes;
    int32_t version;
    bool v104, closing;
  } cases[] = {{current, SaveVersion, true, false},
               {old(103), 103, false, false},
               {old(104), 104, true, false},
               {old(115), 115, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    auto* copy = load<TZirkMapImage>(c.bytes, c.version);
    EXPECT_EQ(copy->RegionCount(), 4);
    EXPECT_EQ(copy->GetPropInt(PR_WIDTH), 40);
    EXPECT_EQ(copy->GetPropInt(PR_ALPHA), 255);
    EXPECT_EQ(copy->GetPropInt(PR_BRIGHTNESS), -20);
    EXPECT_EQ(copy->GetPropStr(PR_ONMAPOUT), "*out");
    EXPECT_EQ(copy->GetPropInt(PR_RCLICKSCRAP), 1);
    EXPECT_EQ(copy->GetPropStr(PR_ONIDLE), c.v104 ? "*idle" : "");
    EXPECT_EQ(copy->GetPropStr(PR_ONSELECT), c.v104 ? "*select" : "");
    EXPECT_EQ(copy->GetPropInt(PR_PAUSED), c.v104 ? 1 : 0);
    copy->SetPropInt(PR_PAUSED, 0);
    frame();
    frame();
    EXPECT_EQ(scene.Contains(copy), !c.closing);
    if (!c.closing) scene.FreeObject(copy);
  }
}

}  // namespace
}  // namespace zirk::test
