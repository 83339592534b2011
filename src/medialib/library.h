#pragma once
// The library's one program-wide object, made by zirkInit and destroyed by
// zirkFinal: the handle tables of the four kinds of items, the output the
// players use, and the streaming thread that decodes ahead.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "medialib/nulloutput.h"
#include "medialib/pcm.h"
#include "medialib/video.h"
#include "medialib/voice.h"

namespace zirk::medialib {

// Ids from 1 upwards, never reused within a run; 0 is failure.
template <class T>
class HandleTable {
 public:
  uint32_t Add(std::shared_ptr<T> item) {
    std::lock_guard lock(mutex_);
    if (next_ == 0) next_ = 1;
    const uint32_t id = next_++;
    items_.emplace(id, std::move(item));
    return id;
  }
  std::shared_ptr<T> Get(uint32_t id) const {
    std::lock_guard lock(mutex_);
    auto it = items_.find(id);
    return it == items_.end() ? nullptr : it->second;
  }
  std::shared_ptr<T> Remove(uint32_t id) {
    std::lock_guard lock(mutex_);
    auto it = items_.find(id);
    if (it == items_.end()) return nullptr;
    auto item = std::move(it->second);
    items_.erase(it);
    return item;
  }
  std::vector<std::shared_ptr<T>> All() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<T>> all;
    all.reserve(items_.size());
    for (const auto& [id, item] : items_) all.push_back(item);
    return all;
  }
  std::vector<std::shared_ptr<T>> Clear() {
    std::vector<std::shared_ptr<T>> all = All();
    std::lock_guard lock(mutex_);
    items_.clear();
    return all;
  }

 private:
  mutable std::mutex mutex_;
  uint32_t next_ = 1;
  std::unordered_map<uint32_t, std::shared_ptr<T>> items_;
};

// A PCM decoder of the software mixer: the entries may come from any thread.
struct DecoderItem {
  std::mutex mutex;
  std::unique_ptr<PcmDecoder> decoder;
};

class Library {
 public:
  explicit Library(void* const* sharedOutputSlot);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // The device in the player's slot, else the silent real-time output.
  platform::AudioOutput* Output();
  void SetUseThread(bool useThread) { useThread_ = useThread; }
  // One decoding step of every item. Without the thread (zirkOggmanSetUseThread
  // with 0) nothing else decodes ahead, which makes the library deterministic
  // for tests as well.
  void Update();
  void Suspend();
  void Resume();

  HandleTable<Voice> oggItems;
  HandleTable<Voice> wmpItems;
  HandleTable<VideoItem> videos;
  HandleTable<DecoderItem> decoders;

 private:
  void Run(std::stop_token stop);

  NullOutput null_;  // first: it outlives every voice
  void* const* slot_;
  std::atomic<bool> useThread_{true};
  std::vector<std::weak_ptr<VideoItem>> suspended_;
  std::mutex wakeMutex_;
  std::condition_variable_any wake_;
  std::jthread streamer_;  // last: stopped before the items go
};

// Null outside zirkInit..zirkFinal.
Library* TheLibrary();
void CreateLibrary(void* const* sharedOutputSlot);
void DestroyLibrary();

}  // namespace zirk::medialib
