#include "media/mediaitems.h"

#include <algorithm>
#include <cmath>

#include "base/rangestreams.h"
#include "base/vrfiles.h"
#include "media/wavouts.h"

namespace zirk {

namespace {

#define ZIRK_LIBRARY_ENTRIES(family)                                                          \
  TLibraryEntries {                                                                           \
    zirk##family##Play, zirk##family##Pause, zirk##family##IsPlaying, zirk##family##IsPaused, \
        zirk##family##IsEnd, zirk##family##GetLen, zirk##family##GetPosition,                 \
        zirk##family##SetPosition, zirk##family##GetVol, zirk##family##SetVol,                \
        zirk##family##GetPan, zirk##family##SetPan, zirk##family##GetAutoRepeat,              \
        zirk##family##SetAutoRepeat                                                           \
  }
const TLibraryEntries kOggEntries = ZIRK_LIBRARY_ENTRIES(Ogg);
const TLibraryEntries kWmpEntries = ZIRK_LIBRARY_ENTRIES(Wmp);
const TLibraryEntries kVideoEntries = ZIRK_LIBRARY_ENTRIES(Video);
#undef ZIRK_LIBRARY_ENTRIES

bool sharedSoundDone = false;

std::string hostPath(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

TVrFileManager& files() {
  TVrFileManager* vfs = TVrFileManager::Global();
  if (vfs == nullptr) throw EVrFileError("no game folder is mounted");
  return *vfs;
}

// The source of a sound or movie: an absolute name is a file of its own,
// any other a game file of the virtual file system.
std::unique_ptr<TKwStream> openSource(const std::string& name) {
  if (IsAbsoluteMediaName(name)) return std::make_unique<TFileRangeStream>(hostPath(name), 0, 0);
  std::unique_ptr<TRangeStream> stream = files().OpenMediaStream(name);
  if (!stream) throw MissingGameFile(name);
  return stream;
}

// The library keeps the stream as a TKwStream*.
void* libraryStream(TKwStream* stream) {
  return static_cast<void*>(stream);
}

}  // namespace

// --- TOggStream --------------------------------------------------------

TOggStream::TOggStream(TKwStream& source, bool isOgg) {
  decoder_ = zirkOggStrmanAdd(libraryStream(&source), isOgg ? -1 : 0);
  ZirkPcmFormat pcm{};
  if (zirkOggStrGetFormat(decoder_, &pcm) == 0) {
    zirkOggStrmanDel(decoder_);
    throw EMediaError("サウンドデータが不正です");
  }
  format_.wFormatTag = pcm.formatTag;
  format_.nChannels = pcm.channels;
  format_.nSamplesPerSec = pcm.samplesPerSec;
  format_.nAvgBytesPerSec = pcm.avgBytesPerSec;
  format_.nBlockAlign = pcm.blockAlign;
  format_.wBitsPerSample = pcm.bitsPerSample;
  format_.cbSize = 0;
}

TOggStream::~TOggStream() {
  zirkOggStrmanDel(decoder_);
}

int64_t TOggStream::Read(void* buffer, int64_t count) {
  if (count < 1) return 0;
  const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
  return zirkOggStrRead(decoder_, buffer, chunk);
}

int64_t TOggStream::Seek(int64_t offset, SeekOrigin origin) {
  const int64_t size = zirkOggStrGetSize(decoder_);
  int64_t target = offset;
  if (origin == SeekOrigin::Current) target += zirkOggStrGetPos(decoder_);
  if (origin == SeekOrigin::End) target += size;
  target = std::clamp<int64_t>(target, 0, size);
  return zirkOggStrSetPos(decoder_, static_cast<int32_t>(target));
}

int64_t TOggStream::Size() {
  return zirkOggStrGetSize(decoder_);
}

int32_t TOggStream::GetLen() {
  return zirkOggStrGetLen(decoder_);
}

// --- library items -----------------------------------------------------

void TLibraryItem::SetPosition(int32_t ms) {
  entries_.SetPosition(handle_, std::max(ms, 0));
  // A rewound item can end again: its next end is reported once more.
  endLatch_ = false;
}

bool TLibraryItem::CheckEnd() {
  if (!latched_) return entries_.IsEnd(handle_) != 0;
  if (endLatch_) return false;
  endLatch_ = entries_.IsEnd(handle_) != 0;
  return endLatch_;
}

void TLibraryItem::Play() {
  if (gated_ && playDeferred()) return;
  // Playing an item that ended starts it over, so its end comes again.
  if (entries_.IsEnd(handle_) != 0) endLatch_ = false;
  entries_.Play(handle_);
}

void EnsureSharedDirectSound(const TMediaConfig& config) {
  if (sharedSoundDone) return;
  sharedSoundDone = true;
  try {
    TCustomDXSound* sound = config.SoundComponent ? config.SoundComponent() : nullptr;
    if (sound == nullptr) return;
    if (!sound->Initialized()) sound->Initialize();
    if (platform::AudioOutput* output = sound->Output()) SharedDirectSound = output;
  } catch (const std::exception&) {
    // Without the sound component the library plays into its silent output.
  }
}

void ResetSharedDirectSound() {
  sharedSoundDone = false;
}

TOggItem::TOggItem(TOggManager& manager, const std::string& name)
    : TLibraryItem(manager, kOggEntries, true, true) {
  EnsureSharedDirectSound(manager.Config());
  stream_ = openSource(name);
  handle_ = zirkOggmanAdd(libraryStream(stream_.get()), MediaExtension(name) == ".ogg" ? -1 : 0);
}

TOggItem::~TOggItem() {
  zirkOggmanDel(handle_);
}

bool TOggItem::IsPlaying() {
  return TLibraryItem::IsPlaying() && !TLibraryItem::IsPaused();
}

TWmpItem::TWmpItem(TWmpManager& manager, const std::string& name)
    : TLibraryItem(manager, kWmpEntries, true, true) {
  EnsureSharedDirectSound(manager.Config());
  TKwMemoryStream memory;
  LoadFileToStream(files(), memory, name, kMaxFileBytes);
  handle_ = zirkWmpmanAdd(memory.Memory(), static_cast<int32_t>(memory.Size()));
}

TWmpItem::~TWmpItem() {
  zirkWmpmanDel(handle_);
}

TVideoItem::TVideoItem(TVideoManager& manager, const std::string& name, bool option)
    : TLibraryItem(manager, kVideoEntries, false, false) {
  std::string path = name;
  if (IsAbsoluteMediaName(name)) {
    path = hostPath(name);
    stream_ = std::make_unique<TFileRangeStream>(path, 0, 0);
  } else if (std::string(".wmv.asf.").find(MediaExtension(name) + ".") != std::string::npos) {
    // These kinds are read from a real file (an archived one is extracted).
    path = files().GetRealFileName(name);
    stream_ = std::make_unique<TFileRangeStream>(path, 0, 0);
  } else {
    stream_ = openSource(name);
    path = files().BaseFolder() + name;
  }
  handle_ = zirkVidmanAdd(path.c_str(), libraryStream(stream_.get()), option ? -1 : 0);
}

TVideoItem::~TVideoItem() {
  zirkVidmanDel(handle_);
}

bool TVideoItem::NeedPaint() {
  return zirkVideoNeedPaint(handle_) != 0;
}
const ZirkVideoFrame* TVideoItem::GetDC() {
  return zirkVideoGetDC(handle_);
}
int32_t TVideoItem::GetSourceWidth() {
  return zirkVideoGetSourceWidth(handle_);
}
int32_t TVideoItem::GetSourceHeight() {
  return zirkVideoGetSourceHeight(handle_);
}
void TVideoItem::SetRect(const ZirkRect& source, const ZirkRect& dest) {
  zirkVideoSetRect(handle_, &source, &dest);
}
bool TVideoItem::GetVisible() {
  return zirkVideoGetVisible(handle_) != 0;
}
void TVideoItem::SetVisible(bool visible) {
  zirkVideoSetVisible(handle_, visible ? -1 : 0);
}

// --- TOggWaveItem ------------------------------------------------------

TOggWaveItem::TOggWaveItem(TOggManager& manager, const std::string& name)
    : TDMediaItem(manager), owner_(manager) {
  stream_ = openSource(name);
  decoder_ = std::make_unique<TOggStream>(*stream_, MediaExtension(name) == ".ogg");
  voice_ = manager.WavOut().Add(decoder_.get(), decoder_->Format());
}

TOggWaveItem::~TOggWaveItem() {
  if (voice_) owner_.WavOut().Remove(voice_);
  decoder_.reset();
  stream_.reset();
}

bool TOggWaveItem::GetAutoRepeat() {
  return voice_ && voice_->GetLoop();
}

void TOggWaveItem::SetAutoRepeat(bool on) {
  if (voice_) voice_->SetLoop(on);
}

void TOggWaveItem::SetVol(int32_t level) {
  volume_ = level;
  const int64_t v = (static_cast<int64_t>(std::max(level, -5000)) + 5000) * 256 / 5000;
  if (voice_) voice_->SetVolume(static_cast<int32_t>(v));
}

int32_t TOggWaveItem::GetPosition() {
  if (!voice_) return 0;
  const TWaveFormatEx& f = decoder_->Format();
  const double bytesPerSecond =
      static_cast<double>(f.wBitsPerSample) * f.nChannels * f.nSamplesPerSec / 8.0;
  if (!(bytesPerSecond > 0)) return 0;
  return static_cast<int32_t>(
      std::nearbyint(static_cast<double>(voice_->GetPosition()) / bytesPerSecond * 1000.0));
}

void TOggWaveItem::SetPosition(int32_t ms) {
  if (!voice_) return;
  const TWaveFormatEx& f = decoder_->Format();
  const double bytes =
      static_cast<double>(ms) * f.wBitsPerSample * f.nChannels * f.nSamplesPerSec / 8000.0;
  voice_->SetPosition(static_cast<int64_t>(std::nearbyint(bytes)));
}

int32_t TOggWaveItem::GetLen() {
  return decoder_->GetLen();
}

bool TOggWaveItem::CheckEnd() {
  if (!voice_) return true;
  if (voice_->GetLoop() && voice_->IsEnd()) {
    voice_->Play();
    return false;
  }
  return voice_->IsEnd();
}

bool TOggWaveItem::IsPlaying() {
  return voice_ && voice_->Started() && !voice_->Stopped() && !voice_->IsEnd();
}

void TOggWaveItem::Play() {
  // "Sound off" holds for mixed sounds as for the library's.
  if (playDeferred()) return;
  if (voice_) voice_->Play();
  paused_ = false;
}

void TOggWaveItem::Pause() {
  ResumeFlag = false;
  if (voice_) voice_->Stop();
  paused_ = true;
}

// --- managers ------------------------------------------------------------

TOggManager::TOggManager(const TMediaConfig& config) : config_(config) {
  static const std::atomic<bool> kNever{false};
  wavOut_ = std::make_unique<TWavOut>(
      config.SoundDelayTime, config.Terminated ? *config.Terminated : kNever, config.WaveOutput);
  wavOut_->SetUseThread(config.WaveThread);
}

TOggManager::~TOggManager() {
  // The voices belong to the mixer: the items go first.
  Clear();
  wavOut_.reset();
}

TDMediaItem* TOggManager::Add(const std::string& name) {
  if (!config_.UseDirectSound) {
    if (!wavOut_->IsOpen()) wavOut_->Open();
    return append(std::make_unique<TOggWaveItem>(*this, name));
  }
  return append(std::make_unique<TOggItem>(*this, name));
}

void TOggManager::Restore() {
  zirkOggmanRestore();
}

TWmpItem* TWmpManager::Add(const std::string& name) {
  return append(std::make_unique<TWmpItem>(*this, name));
}

void TWmpManager::Restore() {
  zirkWmpmanRestore();
}

TVideoItem* TVideoManager::Add(const std::string& name, bool option) {
  return append(std::make_unique<TVideoItem>(*this, name, option));
}

}  // namespace zirk
