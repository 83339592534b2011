#pragma once
// The DirectX family's common pieces: the result-carrying base of the sound
// wrappers, the base form that owns a sound component, and two integer
// helpers. On Linux there is no DirectX; the result codes keep Windows'
// numbers because the wrappers' behaviour is defined by them.

#include <array>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "platform/messages.h"

namespace zirk {

using HRESULT = int32_t;
constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096u);
constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DSERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);

constexpr uint32_t WM_CREATE = 0x0001;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uint32_t SC_MINIMIZE = 0xF020;

int32_t IntMax(int32_t a, int32_t b);
int32_t IntMin(int32_t a, int32_t b);

// Carries the last result of a call. A nonzero result set through
// SetDXResult runs the error hook; SetDXResultQuiet stores it without.
class TDirectX {
 public:
  virtual ~TDirectX() = default;
  HRESULT DXResult() const { return result_; }
  void SetDXResult(HRESULT value);
  void SetDXResultQuiet(HRESULT value) { result_ = value; }

 protected:
  virtual void Check() {}

 private:
  HRESULT result_ = DS_OK;
};

class TDXForm;

// The ownership chain components are placed in; the sound component walks it
// to the nearest form.
class TDXComponent {
 public:
  explicit TDXComponent(TDXComponent* owner = nullptr) : owner_(owner) {}
  virtual ~TDXComponent() = default;
  TDXComponent(const TDXComponent&) = delete;
  TDXComponent& operator=(const TDXComponent&) = delete;
  TDXComponent* Owner() const { return owner_; }
  virtual TDXForm* AsForm() { return nullptr; }

 private:
  TDXComponent* owner_;
};

// The platform's window placement record, kept byte-compatible in size
// because its length field is part of the contract.
struct TWindowPlacement {
  uint32_t length = 0;
  uint32_t flags = 0;
  uint32_t showCmd = 0;
  int32_t ptMinPosition[2] = {0, 0};
  int32_t ptMaxPosition[2] = {0, 0};
  int32_t rcNormalPosition[4] = {0, 0, 0, 0};
};
static_assert(sizeof(TWindowPlacement) == 44);

enum class TWindowState { wsNormal, wsMinimized, wsMaximized };

// Base of the main window. The window itself belongs to the shell layer,
// which fills the hooks; this class keeps the placement saved around full
// screen and tells window subclasses when the window was re-created.
class TDXForm : public TDXComponent {
 public:
  explicit TDXForm(TDXComponent* owner = nullptr);
  ~TDXForm() override;
  TDXForm* AsForm() override { return this; }

  platform::HWND Handle() const { return handle_; }
  // The window was (re-)created with a new handle: every subclass sees a
  // WM_CREATE for it.
  void SetHandle(platform::HWND handle);

  // A window subclass sees each message after the form's own procedure.
  using SubclassProc = std::function<void(const platform::Message&)>;
  int AddSubclass(SubclassProc proc);
  void RemoveSubclass(int id);
  void Dispatch(const platform::Message& message);

  void SaveWindowPlacement();
  void RestoreWindowPlacement();
  bool PlacementSaved() const { return saved_; }
  const TWindowPlacement& SavedPlacement() const { return placement_; }

  void WMSysCommand(uint32_t command);
  TWindowState WindowState() const { return windowState_; }

  // Shell hooks; empty ones do nothing.
  std::function<bool(TWindowPlacement&)> GetWindowPlacement;
  std::function<bool(const TWindowPlacement&)> SetWindowPlacement;
  std::function<void(uint32_t command)> DefaultSysCommand;  // the default handling
  std::function<void(uint32_t command)> InheritedSysCommand;

  static int InstanceCount();

 private:
  platform::HWND handle_ = 0;
  std::vector<std::pair<int, SubclassProc>> subclasses_;
  int nextSubclass_ = 1;
  TWindowPlacement placement_;
  bool saved_ = false;
  TWindowState windowState_ = TWindowState::wsNormal;
};

}  // namespace zirk
