#include "base/hashcoll.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zirk {
namespace {

// An item that does work when named, as the image cache's items do, and
// reports its own destruction.
class LoadingItem : public THashCollectionItem {
 public:
  void SetName(const std::string& name) override {
    loads.push_back(name);
    THashCollectionItem::SetName(name);
  }
  ~LoadingItem() override {
    if (freed) freed->push_back(Name());
  }
  std::vector<std::string> loads;
  std::vector<std::string>* freed = nullptr;
};

using LoadingCollection = THashCollectionOf<LoadingItem>;

TEST(HashCollection, FindsByNameCaseInsensitively) {
  THashCollection c;
  const char* names[] = {"bg\\Room.dor", "CHAR\\a.png", "\x83\x41.dor", "\x83\x61.dor", ""};
  for (const char* n : names) c.Add()->SetName(n);
  ASSERT_EQ(c.Count(), 5);
  const std::pair<const char*, int> lookups[] = {
      {"BG\\ROOM.DOR", 0}, {"char\\A.PNG", 1}, {"\x83\x41.DOR", 2}, {"\x83\x61.dor", 3}, {"", 4},
      {"bg\\room.do", -1},
  };
  for (const auto& [name, index] : lookups) EXPECT_EQ(c.IndexOf(name), index) << name;
  EXPECT_EQ(c.Find("Char\\a.png"), c.Items(1));
  EXPECT_EQ(c.Items(5), nullptr);
  EXPECT_EQ(c.Items(-1), nullptr);
}

TEST(HashCollection, RenameRelinksAndDuplicatesResolveToTheFirst) {
  THashCollection c;
  THashCollectionItem* a = c.Add();
  a->SetName("old.png");
  THashCollectionItem* b = c.Add();
  b->SetName("other.png");
  a->SetName("New.png");
  EXPECT_EQ(c.IndexOf("old.png"), -1);
  EXPECT_EQ(c.IndexOf("new.PNG"), 0);
  b->SetName("NEW.png");
  EXPECT_EQ(c.IndexOf("new.png"), 0);  // both match; the first in order wins
  a->SetName("gone.png");
  EXPECT_EQ(c.IndexOf("new.png"), 1);
  // Many names land in every bucket; all stay findable after renames.
  for (int i = 0; i < 2000; ++i) c.Add()->SetName("f" + std::to_string(i));
  for (int i = 0; i < 2000; i += 2) c.Items(i + 2)->SetName("g" + std::to_string(i));
  for (int i = 0; i < 2000; ++i) {
    std::string expect = (i % 2 == 0 ? "G" : "F") + std::to_string(i);
    ASSERT_EQ(c.IndexOf(expect), i + 2) << expect;
  }
}

TEST(HashCollection, FreeingAnItemUnlinksItAndRenumbersTheRest) {
  std::vector<std::string> freed;
  LoadingCollection c;
  for (const char* n : {"a", "b", "c", "d"}) {
    LoadingItem* item = c.Add();
    item->freed = &freed;
    item->SetName(n);
    EXPECT_EQ(item->loads, std::vector<std::string>{n});
  }
  c.Delete(1);
  EXPECT_EQ(freed, std::vector<std::string>{"b"});
  EXPECT_EQ(c.Count(), 3);
  EXPECT_EQ(c.IndexOf("b"), -1);
  EXPECT_EQ(c.IndexOf("c"), 1);
  EXPECT_EQ(c.Items(2)->Index(), 2);
  c.Remove(c.Find("A"));
  EXPECT_EQ(c.IndexOf("d"), 1);
  // An item of another collection is not touched.
  LoadingCollection other;
  LoadingItem* stranger = other.Add();
  stranger->SetName("x");
  c.Remove(stranger);
  EXPECT_EQ(other.IndexOf("x"), 0);
  c.Delete(7);
  EXPECT_EQ(c.Count(), 2);
  c.Clear();
  EXPECT_EQ(c.Count(), 0);
  EXPECT_EQ(c.IndexOf("d"), -1);
  EXPECT_EQ(freed, (std::vector<std::string>{"b", "a", "d", "c"}));
}

TEST(HashCollection, DestroyingTheCollectionFreesItsItems) {
  std::vector<std::string> freed;
  {
    LoadingCollection c;
    for (const char* n : {"p", "q"}) {
      LoadingItem* item = c.Add();
      item->freed = &freed;
      item->SetName(n);
    }
  }
  EXPECT_EQ(freed.size(), 2u);
}

}  // namespace
}  // namespace zirk
