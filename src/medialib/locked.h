#pragma once
// Plain values shared between the player's thread and the streaming or
// sound-device threads are read and written under their owner's lock.

#include <mutex>

namespace zirk::medialib {

template <class T>
T ReadLocked(std::mutex& mutex, const T& field) {
  std::lock_guard lock(mutex);
  return field;
}

template <class T>
void WriteLocked(std::mutex& mutex, T& field, const T& value) {
  std::lock_guard lock(mutex);
  field = value;
}

}  // namespace zirk::medialib
