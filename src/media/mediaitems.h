#pragma once
// The media library's items (Ogg and WAVE sounds, Windows Media audio,
// movies), the Ogg sounds mixed by the software wave mixer, and their
// managers.

#include <cstdint>
#include <memory>
#include <string>

#include "base/streams.h"
#include "media/dxsounds.h"
#include "media/mediaman.h"
#include "media/zirkdll.h"

namespace zirk {

class TWavOut;
class TWavBuffer;

// Decoded PCM bytes of one library decoder, read-only. The source stream is
// not owned and must outlive the decoder.
class TOggStream : public TKwStream {
 public:
  // Raises EMediaError "サウンドデータが不正です" when the decoder gives no
  // format.
  TOggStream(TKwStream& source, bool isOgg);
  ~TOggStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;
  int32_t GetLen();
  const TWaveFormatEx& Format() const { return format_; }

 private:
  ZirkHandle decoder_ = 0;
  TWaveFormatEx format_;
};

class EMediaError : public Exception {
 public:
  using Exception::Exception;
};

// The library entries of one item family, all taking the handle first.
struct TLibraryEntries {
  ZirkProc<decltype(::zirkOggPlay)>& Play;
  ZirkProc<decltype(::zirkOggPause)>& Pause;
  ZirkProc<decltype(::zirkOggIsPlaying)>& IsPlaying;
  ZirkProc<decltype(::zirkOggIsPaused)>& IsPaused;
  ZirkProc<decltype(::zirkOggIsEnd)>& IsEnd;
  ZirkProc<decltype(::zirkOggGetLen)>& GetLen;
  ZirkProc<decltype(::zirkOggGetPosition)>& GetPosition;
  ZirkProc<decltype(::zirkOggSetPosition)>& SetPosition;
  ZirkProc<decltype(::zirkOggGetVol)>& GetVol;
  ZirkProc<decltype(::zirkOggSetVol)>& SetVol;
  ZirkProc<decltype(::zirkOggGetPan)>& GetPan;
  ZirkProc<decltype(::zirkOggSetPan)>& SetPan;
  ZirkProc<decltype(::zirkOggGetAutoRepeat)>& GetAutoRepeat;
  ZirkProc<decltype(::zirkOggSetAutoRepeat)>& SetAutoRepeat;
};

// An item the media library plays, reached through its handle.
class TLibraryItem : public TDMediaItem {
 public:
  ~TLibraryItem() override = default;

  bool GetAutoRepeat() override { return entries_.GetAutoRepeat(handle_) != 0; }
  void SetAutoRepeat(bool on) override { entries_.SetAutoRepeat(handle_, on ? -1 : 0); }
  int32_t GetPan() override { return entries_.GetPan(handle_); }
  int32_t GetVol() override { return entries_.GetVol(handle_); }
  void SetPan(int32_t pan) override { entries_.SetPan(handle_, pan); }
  void SetVol(int32_t level) override { entries_.SetVol(handle_, level); }
  int32_t GetPosition() override { return entries_.GetPosition(handle_); }
  void SetPosition(int32_t ms) override;
  int32_t GetLen() override { return entries_.GetLen(handle_); }
  bool CheckEnd() override;
  bool IsPlaying() override { return entries_.IsPlaying(handle_) != 0; }
  bool IsPaused() override { return entries_.IsPaused(handle_) != 0; }
  void Play() override;
  void Pause() override {
    ResumeFlag = false;
    entries_.Pause(handle_);
  }

  ZirkHandle Handle() const { return handle_; }

 protected:
  // A latched item reports its end once until it is moved or played again;
  // a gated one plays only while its manager is enabled.
  TLibraryItem(TDMediaManager& manager, const TLibraryEntries& entries, bool latched, bool gated)
      : TDMediaItem(manager), entries_(entries), latched_(latched), gated_(gated) {}
  const TLibraryEntries& entries_;
  ZirkHandle handle_ = 0;

 private:
  bool latched_;
  bool gated_;
  bool endLatch_ = false;
};

class TOggItem : public TLibraryItem {
 public:
  TOggItem(TOggManager& manager, const std::string& name);
  ~TOggItem() override;
  bool IsPlaying() override;

 private:
  std::unique_ptr<TKwStream> stream_;
};

// With DirectSound off: the library's decoder feeding a wave mixer voice.
class TOggWaveItem : public TDMediaItem {
 public:
  TOggWaveItem(TOggManager& manager, const std::string& name);
  ~TOggWaveItem() override;

  bool GetAutoRepeat() override;
  void SetAutoRepeat(bool on) override;
  int32_t GetVol() override { return volume_; }
  void SetVol(int32_t level) override;
  int32_t GetPosition() override;
  void SetPosition(int32_t ms) override;
  int32_t GetLen() override;
  bool CheckEnd() override;
  bool IsPlaying() override;
  bool IsPaused() override { return paused_; }
  void Play() override;
  void Pause() override;

  TWavBuffer* Voice() const { return voice_; }

 private:
  TOggManager& owner_;
  std::unique_ptr<TKwStream> stream_;
  std::unique_ptr<TOggStream> decoder_;
  TWavBuffer* voice_ = nullptr;
  bool paused_ = false;
  int32_t volume_ = 0;
};

class TWmpItem : public TLibraryItem {
 public:
  // The library takes a sound whole and keeps its own copy while the item
  // lives, so the file is held twice as it is handed over. 256 MiB is over
  // 100 minutes at 320 kbit/s, the highest rate of MP3 and of the usual WMA,
  // where a game's longest music track runs minutes (tens of MB); a larger
  // file is refused by its size before it is read.
  static constexpr int64_t kMaxFileBytes = int64_t{256} << 20;

  TWmpItem(TWmpManager& manager, const std::string& name);
  ~TWmpItem() override;
};
// A sound within the cap is handed over with its whole size, never a cut one.
static_assert(TWmpItem::kMaxFileBytes <= INT32_MAX, "the library takes a 32-bit size");

class TVideoItem : public TLibraryItem {
 public:
  // `option` asks the library for frames (the object draws them itself).
  TVideoItem(TVideoManager& manager, const std::string& name, bool option);
  ~TVideoItem() override;

  bool NeedPaint();
  // The current frame, or null before the first one.
  const ZirkVideoFrame* GetDC();
  int32_t GetSourceWidth();
  int32_t GetSourceHeight();
  void SetRect(const ZirkRect& source, const ZirkRect& dest);
  bool GetVisible();
  void SetVisible(bool visible);

 private:
  std::unique_ptr<TKwStream> stream_;
};

class TOggManager : public TDMediaManager {
 public:
  explicit TOggManager(const TMediaConfig& config);
  ~TOggManager() override;
  // A TOggItem, or a TOggWaveItem with DirectSound off (the mixer opened
  // first). Raises what opening the source raises.
  TDMediaItem* Add(const std::string& name);
  void Restore();
  TWavOut& WavOut() { return *wavOut_; }
  const TMediaConfig& Config() const { return config_; }

 private:
  TMediaConfig config_;
  std::unique_ptr<TWavOut> wavOut_;
};

class TWmpManager : public TDMediaManager {
 public:
  explicit TWmpManager(const TMediaConfig& config) : config_(config) {}
  TWmpItem* Add(const std::string& name);
  void Restore();
  const TMediaConfig& Config() const { return config_; }

 private:
  TMediaConfig config_;
};

class TVideoManager : public TDMediaManager {
 public:
  TVideoManager() : TDMediaManager(false) {}
  TVideoItem* Add(const std::string& name, bool option);
};

// The first Ogg or Windows Media item of the run initialises the main
// window's sound component and fills SharedDirectSound from it; a failure
// leaves the slot as it was.
void EnsureSharedDirectSound(const TMediaConfig& config);
// Forgets that it ran (a new MediaInit starts a new run).
void ResetSharedDirectSound();

}  // namespace zirk
