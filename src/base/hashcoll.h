#pragma once
// A collection of named items found through a 256-bucket hash of their
// names. Names compare case-insensitively (Shift-JIS aware, see sjis.h).
// The collection owns its items; deleting one frees it and takes it out of
// the hash. A derived collection chooses its item class by overriding
// CreateItem, and a derived item may extend SetName (the image cache loads
// its picture there) as long as it calls the base setter, which relinks.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zirk {

class THashCollection;

class THashCollectionItem {
 public:
  THashCollectionItem() = default;
  THashCollectionItem(const THashCollectionItem&) = delete;
  THashCollectionItem& operator=(const THashCollectionItem&) = delete;
  virtual ~THashCollectionItem() = default;

  const std::string& Name() const { return name_; }
  // Stores the name and moves the item to the bucket of the new name.
  virtual void SetName(const std::string& name);
  THashCollection* Collection() const { return collection_; }
  // Position in the collection, -1 when the item belongs to none.
  int32_t Index() const { return index_; }

 private:
  friend class THashCollection;
  THashCollection* collection_ = nullptr;
  std::string name_;
  std::string key_;  // folded name, compared on lookup
  int32_t index_ = -1;
};

class THashCollection {
 public:
  static constexpr int kBucketCount = 256;

  THashCollection() = default;
  THashCollection(const THashCollection&) = delete;
  THashCollection& operator=(const THashCollection&) = delete;
  virtual ~THashCollection();

  // Appends a new item of the collection's item class, with an empty name.
  THashCollectionItem* Add();
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Index checked: out of range gives nullptr.
  THashCollectionItem* Items(int32_t index) const;
  // The index of the first item (in collection order) of that name, or -1.
  int32_t IndexOf(std::string_view name) const;
  THashCollectionItem* Find(std::string_view name) const { return Items(IndexOf(name)); }
  // Frees the item at index; out of range does nothing.
  void Delete(int32_t index);
  // Frees the item when it belongs to this collection.
  void Remove(THashCollectionItem* item);
  virtual void Clear();

  static uint8_t HashOf(std::string_view foldedKey);

 protected:
  virtual std::unique_ptr<THashCollectionItem> CreateItem();

 private:
  friend class THashCollectionItem;
  void relink(THashCollectionItem& item, const std::string& newName);
  void unlink(THashCollectionItem& item);

  std::vector<std::unique_ptr<THashCollectionItem>> items_;
  std::array<std::vector<THashCollectionItem*>, kBucketCount> buckets_;
};

// A collection whose items are of one derived item class, with typed access.
template <typename TItem, typename TBase = THashCollection>
class THashCollectionOf : public TBase {
 public:
  TItem* Add() { return static_cast<TItem*>(TBase::Add()); }
  TItem* Items(int32_t index) const { return static_cast<TItem*>(TBase::Items(index)); }
  TItem* Find(std::string_view name) const { return static_cast<TItem*>(TBase::Find(name)); }

 protected:
  std::unique_ptr<THashCollectionItem> CreateItem() override { return std::make_unique<TItem>(); }
};

}  // namespace zirk
