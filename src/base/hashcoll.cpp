#include "base/hashcoll.h"

#include <algorithm>

#include "base/sjis.h"

namespace zirk {

void THashCollectionItem::SetName(const std::string& name) {
  if (collection_) {
    collection_->relink(*this, name);
  } else {
    name_ = name;
    key_ = SjisFoldCase(name);
  }
}

THashCollection::~THashCollection() {
  // Items must not reach back into a half-destroyed collection.
  for (auto& b : buckets_) b.clear();
  for (auto& item : items_) item->collection_ = nullptr;
  items_.clear();
}

uint8_t THashCollection::HashOf(std::string_view foldedKey) {
  uint32_t h = 2166136261u;
  for (char c : foldedKey) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  return static_cast<uint8_t>(h ^ (h >> 8) ^ (h >> 16) ^ (h >> 24));
}

std::unique_ptr<THashCollectionItem> THashCollection::CreateItem() {
  return std::make_unique<THashCollectionItem>();
}

THashCollectionItem* THashCollection::Add() {
  auto item = CreateItem();
  THashCollectionItem* raw = item.get();
  raw->collection_ = this;
  raw->index_ = Count();
  raw->name_.clear();
  raw->key_.clear();
  items_.push_back(std::move(item));
  buckets_[HashOf(raw->key_)].push_back(raw);
  return raw;
}

THashCollectionItem* THashCollection::Items(int32_t index) const {
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)].get() : nullptr;
}

int32_t THashCollection::IndexOf(std::string_view name) const {
  std::string key = SjisFoldCase(name);
  int32_t best = -1;
  for (const THashCollectionItem* item : buckets_[HashOf(key)])
    if (item->key_ == key && (best < 0 || item->index_ < best)) best = item->index_;
  return best;
}

void THashCollection::relink(THashCollectionItem& item, const std::string& newName) {
  unlink(item);
  item.name_ = newName;
  item.key_ = SjisFoldCase(newName);
  buckets_[HashOf(item.key_)].push_back(&item);
}

void THashCollection::unlink(THashCollectionItem& item) {
  auto& bucket = buckets_[HashOf(item.key_)];
  bucket.erase(std::remove(bucket.begin(), bucket.end(), &item), bucket.end());
}

void THashCollection::Delete(int32_t index) {
  THashCollectionItem* item = Items(index);
  if (!item) return;
  unlink(*item);
  item->collection_ = nullptr;
  item->index_ = -1;
  // Take the item out before freeing it, so that its destructor sees a
  // consistent collection.
  std::unique_ptr<THashCollectionItem> owned = std::move(items_[static_cast<size_t>(index)]);
  items_.erase(items_.begin() + index);
  for (size_t i = static_cast<size_t>(index); i < items_.size(); ++i)
    items_[i]->index_ = static_cast<int32_t>(i);
  owned.reset();
}

void THashCollection::Remove(THashCollectionItem* item) {
  if (item && item->collection_ == this) Delete(item->index_);
}

void THashCollection::Clear() {
  while (!items_.empty()) Delete(Count() - 1);
}

}  // namespace zirk
