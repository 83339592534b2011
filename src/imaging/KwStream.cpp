#include "imaging/KwStream.h"

#include <algorithm>
#include <cstring>

namespace zirk {

// --- TKwProgressPhases ---

void TKwProgressPhases::Reset() {
  base_ = 0;
  span_ = 0;
  total_ = 1;
  last_ = -1;
}

void TKwProgressPhases::BeginPhase(int sharePercent, int64_t total) {
  base_ += span_;
  span_ = (100.0 - base_) * sharePercent / 100.0;
  total_ = std::max<int64_t>(total, 1);
}

int TKwProgressPhases::Step(int64_t done) {
  done = std::clamp<int64_t>(done, 0, total_);
  return report(base_ + span_ * static_cast<double>(done) / static_cast<double>(total_));
}

int TKwProgressPhases::Complete() {
  return report(100);
}

int TKwProgressPhases::report(double percent) {
  const int p = std::min(100, static_cast<int>(percent));
  if (p <= last_) return -1;
  last_ = p;
  return p;
}

// --- TKwCustomReadStream ---

TKwCustomReadStream::TKwCustomReadStream() = default;
TKwCustomReadStream::~TKwCustomReadStream() = default;

int TKwCustomReadStream::Progress(int) {
  return 0;
}

void TKwCustomReadStream::BeginSource(TKwStream& source, int64_t length) {
  source_ = &source;
  stopped_ = atEnd_ = macBinaryFound_ = false;
  start_ = source.Position();
  const int64_t available = std::max<int64_t>(source.Size() - start_, 0);
  // A given length beyond the source's end cannot be read anyway.
  length_ = length >= 1 ? std::min(length, available) : available;
  consumed_ = fetched_ = 0;
  left_ = 0;
  cursor_ = nullptr;
  phases_.Reset();
  if (length_ < 1) {
    length_ = 0;
    atEnd_ = true;
    return;
  }
  if (TKwMemoryStream* memory = source.AsMemoryStream()) {
    inPlace_ = true;
    cursor_ = memory->Memory() + start_;
    left_ = fetched_ = length_;
  } else {
    inPlace_ = false;
    buffer_ = std::make_unique<uint8_t[]>(kBufferSize);
    cursor_ = buffer_.get();
  }
  if (SkipMacBinary && length_ > 128 && fill(75) && cursor_[0] == 0 && cursor_[74] == 0) {
    Skip(128);
    macBinaryFound_ = true;
  }
}

void TKwCustomReadStream::EndSource() {
  if (!source_) return;
  source_->Seek(start_ + consumed_, SeekOrigin::Begin);
  source_ = nullptr;
  buffer_.reset();
  cursor_ = nullptr;
  left_ = 0;
}

bool TKwCustomReadStream::canRead(int64_t count) {
  if (stopped_ || atEnd_) return false;
  if (count > length_ - consumed_) {
    atEnd_ = true;
    return false;
  }
  return true;
}

bool TKwCustomReadStream::fill(int64_t count) {
  if (left_ >= count) return true;
  if (inPlace_) return false;
  std::memmove(buffer_.get(), cursor_, static_cast<size_t>(left_));
  cursor_ = buffer_.get();
  const int64_t want = std::min(kBufferSize - left_, length_ - fetched_);
  const int64_t got =
      want > 0 ? std::max<int64_t>(source_->Read(buffer_.get() + left_, want), 0) : 0;
  fetched_ += got;
  left_ += got;
  // The source held less than its size said: the window ends here.
  if (got < want) length_ = fetched_;
  return left_ >= count;
}

uint8_t TKwCustomReadStream::ReadByte() {
  uint8_t v = 0;
  ReadBlock(&v, 1);
  return v;
}

uint16_t TKwCustomReadStream::ReadWord() {
  uint8_t b[2] = {};
  ReadBlock(b, 2);
  return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

uint32_t TKwCustomReadStream::ReadLong() {
  uint8_t b[4] = {};
  ReadBlock(b, 4);
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

bool TKwCustomReadStream::ReadBlock(void* dest, int64_t count) {
  if (count <= 0) return true;
  auto* out = static_cast<uint8_t*>(dest);
  if (!canRead(count)) {
    std::memset(out, 0, static_cast<size_t>(count));
    return false;
  }
  if (count <= kBufferSize && !fill(count)) {
    // The source ended early; fill moved the window's end.
    atEnd_ = true;
    std::memset(out, 0, static_cast<size_t>(count));
    return false;
  }
  const int64_t take = std::min(left_, count);
  std::memcpy(out, cursor_, static_cast<size_t>(take));
  cursor_ += take;
  left_ -= take;
  consumed_ += take;
  const int64_t rest = count - take;
  if (rest == 0) return true;
  // Large blocks go straight from the source into the destination.
  const int64_t got = std::max<int64_t>(source_->Read(out + take, rest), 0);
  fetched_ += got;
  consumed_ += got;
  if (got < rest) {
    length_ = fetched_;
    atEnd_ = true;
    std::memset(out + take + got, 0, static_cast<size_t>(rest - got));
    return false;
  }
  return true;
}

void TKwCustomReadStream::Skip(int64_t count) {
  if (count <= 0 || !canRead(count)) return;
  if (count <= left_) {
    cursor_ += count;
    left_ -= count;
  } else {
    fetched_ += count - left_;
    left_ = 0;
    source_->Seek(start_ + fetched_, SeekOrigin::Begin);
  }
  consumed_ += count;
}

void TKwCustomReadStream::BeginProgressPhase(int sharePercent, int64_t total) {
  phases_.BeginPhase(sharePercent, total);
}

void TKwCustomReadStream::StepProgress(int64_t done) {
  report(phases_.Step(done));
}

void TKwCustomReadStream::CompleteProgress() {
  report(phases_.Complete());
}

void TKwCustomReadStream::report(int percent) {
  if (percent >= 0 && Progress(percent) != 0) stopped_ = true;
}

// --- TKwCustomWriteStream ---

TKwCustomWriteStream::TKwCustomWriteStream() : buffer_(std::make_unique<uint8_t[]>(kBufferSize)) {}
TKwCustomWriteStream::~TKwCustomWriteStream() = default;

int TKwCustomWriteStream::Progress(int) {
  return 0;
}

void TKwCustomWriteStream::BeginDest(TKwStream& dest) {
  dest_ = &dest;
  buffered_ = total_ = 0;
  stopped_ = false;
  phases_.Reset();
}

void TKwCustomWriteStream::WriteBlock(const void* data, int64_t count) {
  if (stopped_ || count <= 0) return;
  if (count < kBufferSize - 16) {
    if (buffered_ + count >= kBufferSize) Flush();
    std::memcpy(buffer_.get() + buffered_, data, static_cast<size_t>(count));
    buffered_ += count;
  } else {
    Flush();
    dest_->WriteBuffer(data, count);
    total_ += count;
  }
}

void TKwCustomWriteStream::WriteLong(uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  WriteBlock(b, 4);
}

void TKwCustomWriteStream::Flush() {
  // What was buffered before a stop was accepted and is still written.
  if (buffered_ > 0) dest_->WriteBuffer(buffer_.get(), buffered_);
  total_ += buffered_;
  buffered_ = 0;
}

void TKwCustomWriteStream::BeginProgressPhase(int sharePercent, int64_t total) {
  phases_.BeginPhase(sharePercent, total);
}

void TKwCustomWriteStream::StepProgress(int64_t done) {
  report(phases_.Step(done));
}

void TKwCustomWriteStream::CompleteProgress() {
  report(phases_.Complete());
}

void TKwCustomWriteStream::report(int percent) {
  if (percent >= 0 && Progress(percent) != 0) stopped_ = true;
}

}  // namespace zirk
