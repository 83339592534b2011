#include "objects/timer.h"

#include "base/records.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/runtime.h"
#include "scene/zscene.h"

namespace zirk {

const TPropTable& TZirkTimer::Properties() const {
  using P = TPropField<TZirkTimer>;
  static const TPropTable table(
      TZirkComponent::Properties(),
      {
          // Setting the label or the period, even to the same value, starts
          // the period afresh: scripts reset a timer that way.
          P(PR_ONNOTIFY, &TZirkTimer::onNotify_).Set([](TZirkTimer& o, std::string label) {
            o.onNotify_ = std::move(label);
            o.Restart();
          }),
          P(PR_DELAY, &TZirkTimer::period_).Set([](TZirkTimer& o, int32_t period) {
            o.period_ = period;
            o.Restart();
          }),
          P(PR_PAUSED, &TZirkTimer::paused_).Then(&TZirkTimer::Restart),
          P(PR_AUTOSCRAP, &TZirkTimer::autoScrap_),
      });
  return table;
}

void TZirkTimer::Restart() {
  Scene().Events().RemoveObjectEvents(this);
  lastTime_ = GameClock();
}

bool TZirkTimer::Tick() {
  TTimerList& events = Scene().Events();
  if (fired_ && autoScrap_) return events.FindEvent(this, PR_ONNOTIFY) < 0;
  if (period_ < 0 || paused_) return false;
  const uint32_t now = GameClock();
  if (period_ != 0 && static_cast<uint32_t>(period_) > now - lastTime_) return false;
  lastTime_ += static_cast<uint32_t>(period_);
  if (events.FindEvent(this, PR_ONNOTIFY) >= 0) return false;
  if (!onNotify_.empty()) events.PostEvent(this, onNotify_, PR_ONNOTIFY);
  fired_ = true;
  return false;
}

void TZirkTimer::SaveToStream(TKwStream& stream) {
  TZirkComponent::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Str(onNotify_);
  out.Int(period_);
  out.Bool(paused_);
  out.Bool(autoScrap_);
  out.Bool(fired_);
}

void TZirkTimer::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkComponent::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved timer record");
  onNotify_ = in.Str();
  period_ = in.Int();
  paused_ = in.Bool();
  autoScrap_ = in.From(104, false);
  fired_ = in.From(104, false);
  lastTime_ = GameClock();
}

void RegisterZirkTimer() {
  RegisterKind(LT_TIMER, [](TZirkBaseList& scene) { return std::make_unique<TZirkTimer>(scene); });
}

}  // namespace zirk
