#include "scene/events.h"

#include <algorithm>

namespace zirk {

void TTimerList::PostEvent(TZirkObject* object, const std::string& label, const TArrayString& args,
                           int32_t propId) {
  TTimerData data;
  data.Label = label;
  data.Object = object;
  data.PropId = propId;
  data.Args = args;
  items_.push_back(std::move(data));
}

int32_t TTimerList::FindEvent(const TZirkObject* object, int32_t propId) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].Object == object && items_[i].PropId == propId) return static_cast<int32_t>(i);
  }
  return -1;
}

void TTimerList::RemoveObjectEvents(const TZirkObject* object) {
  std::erase_if(items_, [&](const TTimerData& d) { return d.Object == object && !d.Started; });
}

void TTimerList::ForgetObject(const TZirkObject* object) {
  RemoveObjectEvents(object);
  for (TTimerData& d : items_) {
    if (d.Object == object) d.Object = nullptr;
  }
}

TTimerData* TTimerList::StartNext() {
  for (TTimerData& d : items_) {
    if (!d.Started) {
      d.Started = true;
      return &d;
    }
  }
  return nullptr;
}

void TTimerList::FinishStarted() {
  auto it =
      std::find_if(items_.begin(), items_.end(), [](const TTimerData& d) { return d.Started; });
  if (it != items_.end()) items_.erase(it);
}

int32_t TEventDrain::Run(TTimerList& queue, int32_t limit) {
  int32_t run = 0;
  while (run < limit) {
    TTimerData* data = queue.StartNext();
    if (!data) break;
    // The handler may queue or drop events, so it gets a copy.
    TTimerData copy = *data;
    if (handler_) handler_(copy);
    queue.FinishStarted();
    ++run;
  }
  return run;
}

}  // namespace zirk
