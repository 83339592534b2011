#pragma once
// The top layers of the socket component: line mode hands received bytes to
// the application one line at a time (with optional echo and editing for
// interactive peers), the synchronous layer waits for a flag while pumping,
// and TAsyncSocket is the component the rest of the program creates.

#include <functional>

#include "net/sockssocket.h"

namespace zirk {

class TCustomLineSocket : public TCustomSocksSocket {
 public:
  using TLineLimitEvent =
      std::function<void(TCustomAsyncSocket* sender, int rcvdLength, bool& clearData)>;

  TCustomLineSocket() = default;

  bool LineMode() const { return lineMode_; }
  virtual void SetLineMode(bool value);
  const std::string& LineEnd() const { return lineEnd_; }
  void SetLineEnd(const std::string& v) { lineEnd_ = v; }
  int LineLimit() const { return lineLimit_; }
  void SetLineLimit(int v) { lineLimit_ = v; }
  bool LineEcho() const { return lineEcho_; }
  void SetLineEcho(bool v) { lineEcho_ = v; }
  bool LineEdit() const { return lineEdit_; }
  void SetLineEdit(bool v) { lineEdit_ = v; }
  // Bytes held by the line buffer (for inspection).
  int BufferedCount() const { return rcvdCnt_; }

  TLineLimitEvent OnLineLimitExceeded;

 protected:
  platform::LRESULT WndProc(const platform::Message& msg) override;
  int GetRcvdCount() override;
  bool HasBufferedData() const override {
    return (lineMode_ ? lineLength_ > 0 : rcvdCnt_ > 0) || TCustomSocksSocket::HasBufferedData();
  }
  int DoRecv(void* buffer, int len, int flags) override;
  bool TriggerDataAvailable(uint16_t error) override;
  void TriggerSessionClosed(uint16_t error) override;
  virtual void TriggerLineLimitExceeded(int cnt, bool& clearData);
  // Edits the bytes received behind `start`; both are moved to the lowest
  // position the edit changed and the length of the text from there.
  virtual void EditLine(int& start, int& len);

  // Offers every complete line from `searchFrom` on to the application.
  void DeliverLines(int searchFrom);
  // Offers the line at the front until it is read, dropped or left alone.
  void OfferLine();
  void Reannounce();
  void FreeLineBuffer();

  bool lineMode_ = false;
  std::string lineEnd_ = "\r\n";
  int lineLimit_ = 65536;
  bool lineEcho_ = false;
  bool lineEdit_ = false;
  std::vector<char> rcvdBuf_;  // NUL-terminated behind the data
  int rcvdCnt_ = 0;
  int lineLength_ = 0;
  bool lineReceived_ = false;
  bool lineClearData_ = false;
};

class TCustomSyncSocket : public TCustomLineSocket {
 public:
  // Error returned when the wait ends without the flag.
  static constexpr int kWaitFailed = 12001;

  // Milliseconds; 0 waits without limit.
  int Timeout() const { return timeout_; }
  void SetTimeout(int ms) { timeout_ = ms; }

  virtual int Synchronize(const std::function<void()>& proc, bool& done);
  virtual int WaitUntilReady(bool& done);

 protected:
  int timeout_ = 0;
};

class TAsyncSocket : public TCustomSyncSocket {};

}  // namespace zirk
