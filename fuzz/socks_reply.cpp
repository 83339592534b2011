// SOCKS negotiation replies of every level and state, served from the
// input instead of a connection.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/linesocket.h"

namespace {

class ScriptedSocks : public zirk::TAsyncSocket {
 public:
  ScriptedSocks(const uint8_t* data, size_t size) : data_(data), size_(size) {
    OnError = [](zirk::TCustomAsyncSocket*) {};
    OnDataAvailable = [](zirk::TCustomAsyncSocket* s, uint16_t) { s->ReceiveStr(); };
  }
  // Runs one negotiation from the given state with replies from the input.
  void Run(uint8_t state, const char* level, bool auth) {
    socksLevel_ = level;
    socksState_ = state;
    authMethod_ = auth ? 2 : 0;
    socksAuthentication_ = auth ? zirk::socksAuthenticateUsercode : zirk::socksNoAuthentication;
    addrStr_ = "host.example";
    rcvCnt_ = 0;
    for (int i = 0; i < 64 && socksState_ != 0 && pos_ < size_; ++i) {
      try {
        TriggerDataAvailable(0);
      } catch (const std::exception&) {
        break;
      }
    }
  }

 protected:
  int SocksRecv(void* buffer, int len) override {
    if (pos_ >= size_ || len <= 0) return 0;
    // The next byte of input says how many bytes this read delivers.
    size_t n = std::min<size_t>(
        {static_cast<size_t>(data_[pos_++]) % 16 + 1, size_ - pos_, static_cast<size_t>(len)});
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kLevels[] = {"4", "4A", "5"};
  ScriptedSocks socks(data + 1, size - 1);
  socks.Run(static_cast<uint8_t>(data[0] % 4), kLevels[(data[0] >> 2) % 3], (data[0] >> 4) & 1);
  return 0;
}
