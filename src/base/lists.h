#pragma once
// Owning lists and the string array of event arguments.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zirk {

// A list that owns its items: removing or clearing frees them. Clear is
// virtual so that a list with bookkeeping of its own can extend it.
template <typename T>
class TObjList {
 public:
  TObjList() = default;
  TObjList(const TObjList&) = delete;
  TObjList& operator=(const TObjList&) = delete;
  virtual ~TObjList() { items_.clear(); }

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  // Index checked: out of range gives nullptr.
  T* Items(int32_t index) const {
    return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)].get() : nullptr;
  }
  T* operator[](int32_t index) const { return Items(index); }
  T* First() const { return Items(0); }
  T* Last() const { return Items(Count() - 1); }

  T* Add(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return items_.back().get();
  }
  // Inserts before index (clamped to 0..Count).
  T* Insert(int32_t index, std::unique_ptr<T> item) {
    index = std::clamp(index, 0, Count());
    return items_.insert(items_.begin() + index, std::move(item))->get();
  }
  int32_t IndexOf(const T* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == item) return static_cast<int32_t>(i);
    return -1;
  }
  // Frees the item at index; out of range does nothing.
  void Delete(int32_t index) {
    if (index >= 0 && index < Count()) items_.erase(items_.begin() + index);
  }
  // Frees the item when the list holds it; returns its former index or -1.
  int32_t Remove(const T* item) {
    int32_t index = IndexOf(item);
    Delete(index);
    return index;
  }
  // Takes the item out without freeing it.
  std::unique_ptr<T> Extract(const T* item) {
    int32_t index = IndexOf(item);
    if (index < 0) return nullptr;
    std::unique_ptr<T> out = std::move(items_[static_cast<size_t>(index)]);
    items_.erase(items_.begin() + index);
    return out;
  }
  void Move(int32_t from, int32_t to) {
    if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to) return;
    auto item = std::move(items_[static_cast<size_t>(from)]);
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, std::move(item));
  }
  virtual void Clear() { items_.clear(); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

// An array of strings; the argument list of a queued event.
class TArrayString {
 public:
  TArrayString() = default;
  TArrayString(std::initializer_list<std::string> items) : items_(items) {}

  int32_t Add(std::string s) {
    items_.push_back(std::move(s));
    return Count() - 1;
  }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Index checked: out of range gives an empty string.
  const std::string& operator[](int32_t index) const;
  void Clear() { items_.clear(); }
  const std::vector<std::string>& Items() const { return items_; }
  friend bool operator==(const TArrayString&, const TArrayString&) = default;

 private:
  std::vector<std::string> items_;
};

inline const std::string& TArrayString::operator[](int32_t index) const {
  static const std::string kEmpty;
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)] : kEmpty;
}

}  // namespace zirk
