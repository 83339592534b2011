#pragma once
// Binding of the media library libzirk.so: loaded from the program's folder
// at start-up, refused when absent or of another version, every entry bound
// by name into a program-wide procedure variable. Every other module calls
// the library only through these variables. Also supplies the four stream
// callbacks and the two floating-point routines the library gets from
// zirkInit, and binds the optional log library libzirklog.so.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <type_traits>

#include "medialib/zirk.h"

namespace zirk {

// A bound library entry. Empty until bound; calling an empty entry does
// nothing and answers zero, so a library that lacks an entry degrades to
// silence instead of a crash.
template <typename F>
class ZirkProc;

template <typename R, typename... Args>
class ZirkProc<R(Args...)> {
 public:
  using Pointer = R (*)(Args...);
  R operator()(Args... args) const {
    if (fn_ != nullptr) return fn_(args...);
    if constexpr (!std::is_void_v<R>) return R{};
  }
  explicit operator bool() const { return fn_ != nullptr; }
  Pointer get() const { return fn_; }
  void Bind(void* address) { fn_ = reinterpret_cast<Pointer>(address); }
  void Reset() { fn_ = nullptr; }

 private:
  Pointer fn_ = nullptr;
};

#define ZIRK_DECLARE_PROC(name) extern ZirkProc<decltype(::name)> name;
ZIRK_ENTRIES(ZIRK_DECLARE_PROC)
#undef ZIRK_DECLARE_PROC

// The log library's entries (empty when it is absent).
extern ZirkProc<void(const char*)> ZirkLogInit;
extern ZirkProc<void(const char*)> ZirkLogWrite;
extern ZirkProc<void()> ZirkLogFinal;

enum class TMediaDllStatus { mdsOk, mdsMissing, mdsWrongVersion };

// Loads the media library (and the log library) from `folder`; with a status
// other than mdsOk nothing is bound. A library loaded before is released first.
TMediaDllStatus LoadMediaDll(const std::filesystem::path& folder);
// The message start-up shows (caption "Error") before it ends the program;
// empty for mdsOk.
std::string MediaDllMessage(TMediaDllStatus status);
constexpr const char* kMediaDllCaption = "Error";

// Module initialisation: loads from the program's folder; when that fails,
// shows the message and answers false so that start-up ends the program.
bool InitDll();
// Module finalisation: releases the media library, then finalises and
// releases the log library. Every entry becomes empty.
void FinalDll();

bool MediaDllLoaded();
bool LogDllLoaded();

// The four stream callbacks. `stream` is the zirk::TKwStream* the player
// handed to an "Add" entry (converted to void* from TKwStream*, never from a
// pointer to a derived class); each answers 0 for a null stream, runs entirely
// inside the one stream lock, and never lets an exception reach the library.
int64_t DllStreamGetSize(void* stream);
int32_t DllStreamRead(void* stream, void* buffer, int32_t count);
int64_t DllStreamGetPosition(void* stream);
int64_t DllStreamSeek(void* stream, int64_t position);
// The lock all four share; any code that touches a stream the library holds
// takes it too.
std::recursive_mutex& DllStreamLock();

// Saves the floating-point environment (on x86-64 the answer is the x87
// control word) and restores it: the saved state becomes current with no
// exception pending.
uint16_t SaveFpuControlWord();
void RestoreFpuControlWord();

}  // namespace zirk
