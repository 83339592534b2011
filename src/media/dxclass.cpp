#include "media/dxclass.h"

#include <algorithm>
#include <atomic>

namespace zirk {

namespace {
std::atomic<int> formCount{0};
}  // namespace

int32_t IntMax(int32_t a, int32_t b) {
  return a > b ? a : b;
}
int32_t IntMin(int32_t a, int32_t b) {
  return a < b ? a : b;
}

void TDirectX::SetDXResult(HRESULT value) {
  result_ = value;
  if (value != DS_OK) Check();
}

TDXForm::TDXForm(TDXComponent* owner) : TDXComponent(owner) {
  formCount.fetch_add(1);
}

TDXForm::~TDXForm() {
  formCount.fetch_sub(1);
}

int TDXForm::InstanceCount() {
  return formCount.load();
}

void TDXForm::SetHandle(platform::HWND handle) {
  handle_ = handle;
  Dispatch(platform::Message{handle, WM_CREATE, 0, 0});
}

int TDXForm::AddSubclass(SubclassProc proc) {
  const int id = nextSubclass_++;
  subclasses_.emplace_back(id, std::move(proc));
  return id;
}

void TDXForm::RemoveSubclass(int id) {
  std::erase_if(subclasses_, [id](const auto& e) { return e.first == id; });
}

void TDXForm::Dispatch(const platform::Message& message) {
  // A subclass may remove itself or others while it runs.
  auto copy = subclasses_;
  for (auto& entry : copy) {
    const int id = entry.first;
    const bool stillThere = std::any_of(subclasses_.begin(), subclasses_.end(),
                                        [id](const auto& e) { return e.first == id; });
    if (stillThere && entry.second) entry.second(message);
  }
}

void TDXForm::SaveWindowPlacement() {
  placement_.length = sizeof(TWindowPlacement);
  if (GetWindowPlacement) GetWindowPlacement(placement_);
  saved_ = true;
}

void TDXForm::RestoreWindowPlacement() {
  if (!saved_) return;
  if (SetWindowPlacement) SetWindowPlacement(placement_);
  saved_ = false;
}

void TDXForm::WMSysCommand(uint32_t command) {
  if (command == SC_MINIMIZE) {
    if (DefaultSysCommand) DefaultSysCommand(command);
    windowState_ = TWindowState::wsMinimized;
  } else if (InheritedSysCommand) {
    InheritedSysCommand(command);
  }
}

}  // namespace zirk
