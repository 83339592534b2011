#pragma once
// What only some kinds of scene objects can do. A kind implements the
// interfaces that fit it; script services and film tracks ask an object for
// one with `As<...>(object)` and do nothing when it does not have it, so the
// root object stays small however many kinds there are.

#include <cstdint>

namespace zirk {

class TKwStream;
class TZirkObject;

// Objects with an activity state: menus (0..3), list boxes, media objects.
class IActivatable {
 public:
  virtual ~IActivatable() = default;
  virtual int32_t GetActive() = 0;
  virtual void SetActive(int32_t active) = 0;
};

// Objects a film or script can start playing (sounds, videos, cinemas).
class IPlayable {
 public:
  virtual ~IPlayable() = default;
  virtual void StartPlay() = 0;
};

// Lists whose rows carry check signs.
class IRowChecks {
 public:
  virtual ~IRowChecks() = default;
  virtual bool GetRowChecked(int32_t row) = 0;
  virtual void SetRowChecked(int32_t row, bool checked) = 0;
};

// Buttons that take part in a group kept by their parent.
class IGroupButton {
 public:
  virtual ~IGroupButton() = default;
  virtual void SetDown(bool down) = 0;
  virtual void SetAllowAllUp(bool allowAllUp) = 0;
};

// Objects whose content other objects can read whole (a download's body,
// read by the "!name" form of another download's source).
class IStreamSource {
 public:
  virtual ~IStreamSource() = default;
  // The content from position 0, or nullptr while it is not ready to be
  // read (a download still running).
  virtual TKwStream* GetStream() = 0;
};

// The object's interface of that kind, or nullptr.
template <class Capability>
Capability* As(TZirkObject* object) {
  return dynamic_cast<Capability*>(object);
}

}  // namespace zirk
