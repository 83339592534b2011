#pragma once
// The scene's event queue. Objects report to scripts only by queueing an
// event: the handler's label, the source object, the PR_ id of the event and
// its argument strings. The call manager runs queued events before the main
// script; here a stand-in drains them to a handler.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "base/lists.h"

namespace zirk {

class TZirkObject;

struct TTimerData {
  std::string Label;
  // The source; nullptr once the object has been freed while its event runs.
  TZirkObject* Object = nullptr;
  int32_t PropId = 0;
  // Set when the call manager has started the handler; started events are
  // not removed by RemoveObjectEvents.
  bool Started = false;
  TArrayString Args;
};

class TTimerList {
 public:
  // Queues an event as given; it never folds duplicates (objects that must
  // not queue twice ask FindEvent first).
  void PostEvent(TZirkObject* object, const std::string& label, const TArrayString& args,
                 int32_t propId);
  void PostEvent(TZirkObject* object, const std::string& label, int32_t propId) {
    PostEvent(object, label, {}, propId);
  }
  // Index of a queued event of the object with that id, -1 when none.
  int32_t FindEvent(const TZirkObject* object, int32_t propId) const;
  // Removes the object's events that have not started.
  void RemoveObjectEvents(const TZirkObject* object);
  // The object is being freed: its pending events go and running ones forget it.
  void ForgetObject(const TZirkObject* object);

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const TTimerData& Items(int32_t index) const { return items_.at(static_cast<size_t>(index)); }
  void Clear() { items_.clear(); }

  // The call manager's part: marks the first event started and hands it out;
  // Finish removes it. Returns nullptr when nothing is queued.
  TTimerData* StartNext();
  void FinishStarted();

 private:
  std::deque<TTimerData> items_;
};

// Stand-in for the call manager: runs every queued event through a handler,
// first to last, each removed after its handler returns. Events queued by a
// handler run in the same drain.
class TEventDrain {
 public:
  using Handler = std::function<void(const TTimerData&)>;
  explicit TEventDrain(Handler handler = {}) : handler_(std::move(handler)) {}
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  // Returns the number of events run; bounded so a handler that always
  // queues another event cannot hang the tick.
  int32_t Run(TTimerList& queue, int32_t limit = 10000);

 private:
  Handler handler_;
};

}  // namespace zirk
