#pragma once
// A stream connection through a SOCKS 4, 4A or 5 server: Connect reaches the
// server, and a small state machine driven by the data-available trigger
// negotiates the path to the real destination before the application sees
// its connected event.

#include "net/asyncsocket.h"

namespace zirk {

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState : uint8_t {
  socksAuthStart,
  socksAuthSuccess,
  socksAuthFailure,
  socksAuthNotRequired
};

// The negotiation's own error numbers (never WinSock codes).
enum : int {
  socksProtocolError = 20001,
  socksVersionError = 20002,
  socksAuthMethodError = 20003,
  socksGeneralFailure = 20004,
  socksConnectionNotAllowed = 20005,
  socksNetworkUnreachable = 20006,
  socksHostUnreachable = 20007,
  socksConnectionRefused = 20008,
  socksTtlExpired = 20009,
  socksUnknownCommand = 20010,
  socksUnknownAddressType = 20011,
  socksUnassignedError = 20012,
  socksInternalError = 20013,
  socksAuthenticationFailed = 20015,
  socksRejectedOrFailed = 20016,
};

class TCustomSocksSocket : public TCustomAsyncSocket {
 public:
  using TSocksError =
      std::function<void(TCustomAsyncSocket* sender, int error, const std::string& msg)>;
  using TSocksAuthStateEvent = std::function<void(TCustomAsyncSocket* sender, uint8_t authState)>;

  TCustomSocksSocket();

  const std::string& SocksServer() const { return socksServer_; }
  virtual void SetSocksServer(const std::string& value);
  const std::string& SocksPort() const { return socksPort_; }
  virtual void SetSocksPort(const std::string& value);
  const std::string& SocksLevel() const { return socksLevel_; }
  void SetSocksLevel(const std::string& value);
  const std::string& SocksUsercode() const { return socksUsercode_; }
  void SetSocksUsercode(const std::string& v) { socksUsercode_ = v; }
  const std::string& SocksPassword() const { return socksPassword_; }
  void SetSocksPassword(const std::string& v) { socksPassword_ = v; }
  TSocksAuthentication SocksAuthentication() const { return socksAuthentication_; }
  void SetSocksAuthentication(TSocksAuthentication v) { socksAuthentication_ = v; }
  // What a SOCKS 5 server reported as the bound end of the relayed connection.
  const std::string& BoundAddr() const { return boundAddr_; }
  const std::string& BoundPortText() const { return boundPort_; }

  TErrorNotify OnSocksConnected;
  TSocksError OnSocksError;
  TSocksAuthStateEvent OnSocksAuthState;

  void Connect() override;
  void Listen() override;

 protected:
  void AssignDefaultValue() override;
  int GetRcvdCount() override;
  bool HasBufferedData() const override { return leftoverCnt_ > 0; }
  bool TriggerDataAvailable(uint16_t error) override;
  void TriggerSessionConnected(uint16_t error) override;
  void TriggerSessionClosed(uint16_t error) override;
  int DoRecv(void* buffer, int len, int flags) override;
  virtual void TriggerSocksConnected(uint16_t error);
  virtual void TriggerSocksError(int error, const std::string& msg);
  void TriggerSocksAuthState(uint8_t authState);

  // Reads negotiation bytes from the connection itself, never from the
  // bytes left over after a reply.
  virtual int SocksRecv(void* buffer, int len) {
    return TCustomAsyncSocket::DoRecv(buffer, len, 0);
  }
  void SocksDoConnect();
  void SocksDoAuthenticate();
  void SocksError(int error, const std::string& msg);
  bool SocksNegotiating() const { return socksState_ != 0; }
  bool IsSocks4() const { return socksLevel_[0] == '4'; }

  // The longest reply: a SOCKS 5 reply with a 255-byte bound name is 262
  // bytes; the buffer must hold it or reads stall with bytes waiting.
  static constexpr int kReplySize = 512;

  std::string socksServer_, socksPort_, socksLevel_ = "5";
  std::string socksUsercode_, socksPassword_;
  TSocksAuthentication socksAuthentication_ = socksNoAuthentication;
  bool socksServerAssigned_ = false, socksPortAssigned_ = false;
  uint8_t socksState_ = 0;
  uint8_t rcvBuf_[kReplySize] = {};
  int rcvCnt_ = 0;
  uint8_t authMethod_ = 0;
  uint16_t destPort_ = 0;
  std::string boundAddr_, boundPort_;
  int leftoverPos_ = 0, leftoverCnt_ = 0;
};

}  // namespace zirk
