#include "media/zirkdll.h"

#include <cfenv>
#include <string_view>

#include "base/streams.h"
#include "base/utils.h"
#include "platform/dynlib.h"
#include "platform/msgbox.h"

namespace zirk {

#define ZIRK_DEFINE_PROC(name) ZirkProc<decltype(::name)> name;
ZIRK_ENTRIES(ZIRK_DEFINE_PROC)
#undef ZIRK_DEFINE_PROC

ZirkProc<void(const char*)> ZirkLogInit;
ZirkProc<void(const char*)> ZirkLogWrite;
ZirkProc<void()> ZirkLogFinal;

namespace {

constexpr int32_t kMediaDllVersion = 108;

platform::DynamicLibrary& mediaLibrary() {
  static platform::DynamicLibrary library;
  return library;
}

platform::DynamicLibrary& logLibrary() {
  static platform::DynamicLibrary library;
  return library;
}

void resetEntries() {
#define ZIRK_RESET_PROC(name) name.Reset();
  ZIRK_ENTRIES(ZIRK_RESET_PROC)
#undef ZIRK_RESET_PROC
  ZirkLogInit.Reset();
  ZirkLogWrite.Reset();
  ZirkLogFinal.Reset();
}

void releaseLibraries() {
  mediaLibrary().close();
  if (ZirkLogFinal) ZirkLogFinal();
  logLibrary().close();
  resetEntries();
}

std::mutex fpuLock;
std::fenv_t savedFpu;
bool fpuSaved = false;

}  // namespace

TMediaDllStatus LoadMediaDll(const std::filesystem::path& folder) {
  releaseLibraries();
  auto& media = mediaLibrary();
  if (!media.open(folder / platform::hostLibraryName("zirk.dll"))) {
    return TMediaDllStatus::mdsMissing;
  }
  zirkVersion.Bind(media.symbol("zirkVersion"));
  if (!zirkVersion || zirkVersion() != kMediaDllVersion) {
    zirkVersion.Reset();
    media.close();
    return TMediaDllStatus::mdsWrongVersion;
  }
#define ZIRK_BIND_PROC(name) name.Bind(media.symbol(#name));
  ZIRK_ENTRIES(ZIRK_BIND_PROC)
#undef ZIRK_BIND_PROC

  auto& log = logLibrary();
  if (log.open(folder / platform::hostLibraryName("ZirkLog.dll"))) {
    ZirkLogInit.Bind(log.symbol("ZirkLogInit"));
    ZirkLogFinal.Bind(log.symbol("ZirkLogFinal"));
    ZirkLogWrite.Bind(log.symbol("ZirkLogWrite"));
    const std::string path = (folder / "dbglog.txt").string();
    ZirkLogInit(path.c_str());
  }
  return TMediaDllStatus::mdsOk;
}

std::string MediaDllMessage(TMediaDllStatus status) {
  const std::string name = platform::hostLibraryName("zirk.dll");
  switch (status) {
    case TMediaDllStatus::mdsOk:
      return {};
    case TMediaDllStatus::mdsMissing:
      return name + "\n" + "ファイルがありません";
    case TMediaDllStatus::mdsWrongVersion:
      return name + "のバージョンがあいません";
  }
  return {};
}

bool InitDll() {
  TraceHook("InitDll", false);
  DllStreamLock();  // the lock exists before any library thread can ask for it
  const TMediaDllStatus status = LoadMediaDll(platform::programFolder());
  if (status == TMediaDllStatus::mdsOk) return true;
  platform::MessageBox(MediaDllMessage(status), kMediaDllCaption, platform::MB_ICONEXCLAMATION);
  return false;
}

void FinalDll() {
  releaseLibraries();
}

bool MediaDllLoaded() {
  return mediaLibrary().isOpen();
}
bool LogDllLoaded() {
  return logLibrary().isOpen();
}

std::recursive_mutex& DllStreamLock() {
  static std::recursive_mutex lock;
  return lock;
}

// The callbacks are called from C code: an exception must not cross them. A
// failing stream reads nothing and stays where it was.
int64_t DllStreamGetSize(void* stream) {
  if (stream == nullptr) return 0;
  std::lock_guard lock(DllStreamLock());
  try {
    return static_cast<TKwStream*>(stream)->Size();
  } catch (...) {
    return 0;
  }
}

int32_t DllStreamRead(void* stream, void* buffer, int32_t count) {
  if (stream == nullptr || buffer == nullptr || count <= 0) return 0;
  std::lock_guard lock(DllStreamLock());
  try {
    return static_cast<int32_t>(static_cast<TKwStream*>(stream)->Read(buffer, count));
  } catch (...) {
    return 0;
  }
}

int64_t DllStreamGetPosition(void* stream) {
  if (stream == nullptr) return 0;
  std::lock_guard lock(DllStreamLock());
  try {
    return static_cast<TKwStream*>(stream)->Position();
  } catch (...) {
    return 0;
  }
}

int64_t DllStreamSeek(void* stream, int64_t position) {
  if (stream == nullptr) return 0;
  std::lock_guard lock(DllStreamLock());
  auto* s = static_cast<TKwStream*>(stream);
  try {
    s->Seek(position, SeekOrigin::Begin);
    return s->Position();
  } catch (...) {
    try {
      return s->Position();
    } catch (...) {
      return 0;
    }
  }
}

uint16_t SaveFpuControlWord() {
  std::lock_guard lock(fpuLock);
  std::fegetenv(&savedFpu);
  fpuSaved = true;
#if defined(__x86_64__) || defined(__i386__)
  return savedFpu.__control_word;
#else
  return 0;
#endif
}

void RestoreFpuControlWord() {
  std::lock_guard lock(fpuLock);
  std::fesetenv(fpuSaved ? &savedFpu : FE_DFL_ENV);
  std::feclearexcept(FE_ALL_EXCEPT);
}

}  // namespace zirk
