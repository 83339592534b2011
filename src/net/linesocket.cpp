#include "net/linesocket.h"

#include <algorithm>
#include <cstring>

#include "net/linesplit.h"
#include "platform/clock.h"

namespace zirk {

using namespace platform;

void TCustomLineSocket::SetLineMode(bool value) {
  if (value == lineMode_) return;
  lineMode_ = value;
  if (rcvdCnt_ > 0 || lineLength_ > 0) PostMessage(hWnd_, WM_TRIGGER_DATA_AVAILABLE);
}

LRESULT TCustomLineSocket::WndProc(const Message& msg) {
  if (msg.msg != WM_TRIGGER_DATA_AVAILABLE) return TCustomSocksSocket::WndProc(msg);
  try {
    Reannounce();
  } catch (const std::exception& e) {
    HandleBackGroundException(e);
  }
  return 0;
}

void TCustomLineSocket::Reannounce() {
  if (lineMode_ && !lineEnd_.empty() && !SocksNegotiating()) {
    DeliverLines(0);
    return;
  }
  while (rcvdCnt_ > 0) {
    const int before = rcvdCnt_;
    if (!TCustomSocksSocket::TriggerDataAvailable(0) || rcvdCnt_ >= before) break;
  }
}

int TCustomLineSocket::GetRcvdCount() {
  if (lineMode_) return lineLength_;
  return TCustomSocksSocket::GetRcvdCount();
}

int TCustomLineSocket::DoRecv(void* buffer, int len, int flags) {
  int avail = 0;
  if (lineMode_ && lineLength_ > 0)
    avail = lineLength_;
  else if (!lineMode_ && rcvdCnt_ > 0)
    avail = rcvdCnt_;
  if (avail == 0 || len <= 0) return TCustomSocksSocket::DoRecv(buffer, len, flags);
  const int n = std::min(len, avail);
  std::memcpy(buffer, rcvdBuf_.data(), static_cast<size_t>(n));
  // The rest moves to the front together with its terminating NUL.
  std::memmove(rcvdBuf_.data(), rcvdBuf_.data() + n, static_cast<size_t>(rcvdCnt_ - n + 1));
  rcvdCnt_ -= n;
  if (lineMode_) lineLength_ -= n;
  ++rawRecvCalls_;
  return n;
}

void TCustomLineSocket::TriggerLineLimitExceeded(int cnt, bool& clearData) {
  if (OnLineLimitExceeded) OnLineLimitExceeded(this, cnt, clearData);
}

void TCustomLineSocket::OfferLine() {
  while (lineMode_ && lineLength_ > 0) {
    const int before = lineLength_;
    if (!TCustomSocksSocket::TriggerDataAvailable(0)) {
      // Nobody reads lines: this one is dropped.
      std::memmove(rcvdBuf_.data(), rcvdBuf_.data() + lineLength_,
                   static_cast<size_t>(rcvdCnt_ - lineLength_ + 1));
      rcvdCnt_ -= lineLength_;
      lineLength_ = 0;
      break;
    }
    // A handler that reads nothing would be offered the same line for ever.
    if (lineLength_ >= before) break;
  }
}

void TCustomLineSocket::DeliverLines(int searchFrom) {
  while (lineMode_ && rcvdCnt_ > 0) {
    if (lineLength_ == 0) {
      const size_t len =
          LineLength(std::string_view(rcvdBuf_.data(), static_cast<size_t>(rcvdCnt_)), lineEnd_,
                     static_cast<size_t>(searchFrom));
      if (len == 0) break;
      lineLength_ = static_cast<int>(len);
      lineReceived_ = true;
    }
    const int before = lineLength_;
    OfferLine();
    searchFrom = 0;
    if (lineLength_ > 0 && lineLength_ >= before) break;  // left unread
  }
  if (lineLimit_ > 0 && rcvdCnt_ > lineLimit_) {
    bool clear = true;
    TriggerLineLimitExceeded(rcvdCnt_, clear);
    lineClearData_ = clear;
    if (clear) {
      rcvdCnt_ = 0;
      lineLength_ = 0;
      if (!rcvdBuf_.empty()) rcvdBuf_[0] = 0;
    }
  }
}

bool TCustomLineSocket::TriggerDataAvailable(uint16_t error) {
  if (!lineMode_ || lineEnd_.empty() || SocksNegotiating())
    return TCustomSocksSocket::TriggerDataAvailable(error);
  int count = TCustomSocksSocket::GetRcvdCount();
  if (count < 0) return true;
  if (count == 0) count = 255;
  rcvdBuf_.resize(static_cast<size_t>(rcvdCnt_) + static_cast<size_t>(count) + 1);
  int n = TCustomSocksSocket::DoRecv(rcvdBuf_.data() + rcvdCnt_, count, 0);
  if (n <= 0) return true;
  rcvdBuf_[static_cast<size_t>(rcvdCnt_ + n)] = 0;
  int start = rcvdCnt_;
  if (lineEdit_) {
    EditLine(start, n);
  } else if (lineEcho_) {
    Send(rcvdBuf_.data() + rcvdCnt_, n);
  }
  const int searchFrom = std::max(start - static_cast<int>(lineEnd_.size()), 0);
  rcvdCnt_ = start + n;
  DeliverLines(searchFrom);
  return true;
}

void TCustomLineSocket::EditLine(int& start, int& len) {
  const int end = start + len;
  int first = start;
  while (first < end && rcvdBuf_[first] != 8 && rcvdBuf_[first] != 9) ++first;
  if (lineEcho_ && first > start) Send(rcvdBuf_.data() + start, first - start);
  if (first == end) return;
  std::string work(rcvdBuf_.data(), static_cast<size_t>(first));
  int lowest = first;
  for (int i = first; i < end; ++i) {
    const char c = rcvdBuf_[static_cast<size_t>(i)];
    if (c == 8) {
      if (!work.empty()) {
        work.pop_back();
        lowest = std::min(lowest, static_cast<int>(work.size()));
        if (lineEcho_) SendStr(std::string("\x08 \x08", 3));
      }
    } else if (c == 9) {
      do {
        work.push_back(' ');
        if (lineEcho_) SendStr(" ");
      } while (work.size() % 8 != 0);
    } else {
      work.push_back(c);
      if (lineEcho_) Send(&c, 1);
    }
  }
  rcvdBuf_.resize(work.size() + 1);
  std::memcpy(rcvdBuf_.data(), work.data(), work.size());
  rcvdBuf_[work.size()] = 0;
  start = lowest;
  len = static_cast<int>(work.size()) - lowest;
}

void TCustomLineSocket::TriggerSessionClosed(uint16_t error) {
  lineReceived_ = true;
  if (!rcvdBuf_.empty()) {
    if (lineMode_ && rcvdCnt_ > 0 && !lineClearData_) {
      lineLength_ = rcvdCnt_;  // the unterminated rest is the last line
      OfferLine();
    }
    FreeLineBuffer();
  }
  TCustomSocksSocket::TriggerSessionClosed(error);
}

void TCustomLineSocket::FreeLineBuffer() {
  rcvdBuf_.clear();
  rcvdBuf_.shrink_to_fit();
  rcvdCnt_ = 0;
  lineLength_ = 0;
  lineClearData_ = false;
}

// ---------------------------------------------------------------------------

int TCustomSyncSocket::Synchronize(const std::function<void()>& proc, bool& done) {
  done = false;
  if (proc) proc();
  return WaitUntilReady(done);
}

int TCustomSyncSocket::WaitUntilReady(bool& done) {
  const uint32_t expiry = timeGetTime() + static_cast<uint32_t>(timeout_);
  while (!done) {
    const uint32_t now = timeGetTime();
    if (timeout_ > 0 && static_cast<int32_t>(now - expiry) >= 0) return kWaitFailed;
    // The thread's loop is ending, the application's with it.
    if (terminated_ || QuitPosted()) return kWaitFailed;
    ProcessMessages();
    if (done) break;
    // Sleep in the queue's wait, which wakes for messages and socket
    // readiness, instead of spinning.
    int slice = 50;
    if (timeout_ > 0) slice = std::clamp(static_cast<int>(expiry - now), 1, 50);
    WaitMessage(std::chrono::milliseconds(slice));
  }
  return 0;
}

}  // namespace zirk
