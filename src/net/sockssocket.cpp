#include "net/sockssocket.h"

#include <algorithm>
#include <cstring>

namespace zirk {

using namespace platform;

namespace {
constexpr size_t kMaxSocksField = 255;

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}
std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

TCustomSocksSocket::TCustomSocksSocket() {
  TCustomSocksSocket::AssignDefaultValue();
}

void TCustomSocksSocket::AssignDefaultValue() {
  TCustomAsyncSocket::AssignDefaultValue();
  socksState_ = 0;
  socksServer_.clear();
  socksPort_.clear();
  socksLevel_.assign(1, '5');  // as above: GCC 12 -Wrestrict
  leftoverCnt_ = leftoverPos_ = 0;
  rcvCnt_ = 0;
  socksServerAssigned_ = socksPortAssigned_ = false;
}

void TCustomSocksSocket::SetSocksServer(const std::string& value) {
  if (state_ != wsClosed) return RaiseException("Can't change socks server if not closed");
  socksServer_ = trim(value);
  socksServerAssigned_ = !socksServer_.empty();
}

void TCustomSocksSocket::SetSocksPort(const std::string& value) {
  if (state_ != wsClosed) return RaiseException("Can't change socks port if not closed");
  socksPort_ = trim(value);
  socksPortAssigned_ = !socksPort_.empty();
}

void TCustomSocksSocket::SetSocksLevel(const std::string& value) {
  if (state_ != wsClosed) return RaiseException("Can't change socks level if not closed");
  if (value != "4" && value != "5" && value != "4A" && value != "4a")
    return RaiseException("Invalid socks level. Must be 4, 4A or 5.");
  socksLevel_ = value == "4a" ? "4A" : value;
}

void TCustomSocksSocket::Connect() {
  if (!socksServerAssigned_) return TCustomAsyncSocket::Connect();
  if (lower(protoStr_) != "tcp")
    return RaiseException("tcp is the only protocol supported thru socks server");
  if (!portResolved_) {
    sin_.port = SocketResolvePort(socksPort_, protoStr_);
    portResolved_ = true;
  }
  if (!addrResolved_) {
    sin_.addr = SocketResolveHost(socksServer_);
    addrResolved_ = true;
  }
  destPort_ = SocketResolvePort(portStr_, protoStr_);
  socksState_ = 1;
  rcvCnt_ = 0;
  leftoverCnt_ = leftoverPos_ = 0;
  TCustomAsyncSocket::Connect();
}

void TCustomSocksSocket::Listen() {
  if (socksServerAssigned_) return RaiseException("Listening is not supported thru socks server");
  TCustomAsyncSocket::Listen();
}

void TCustomSocksSocket::TriggerSocksConnected(uint16_t error) {
  if (OnSocksConnected) OnSocksConnected(this, error);
}

void TCustomSocksSocket::TriggerSocksError(int error, const std::string& msg) {
  if (OnSocksError) OnSocksError(this, error, msg);
}

void TCustomSocksSocket::TriggerSocksAuthState(uint8_t authState) {
  if (OnSocksAuthState) OnSocksAuthState(this, authState);
}

void TCustomSocksSocket::TriggerSessionConnected(uint16_t error) {
  if (socksState_ != 1) return TCustomAsyncSocket::TriggerSessionConnected(error);
  TriggerSocksConnected(error);
  if (error != 0) {
    socksState_ = 0;
    return TCustomAsyncSocket::TriggerSessionConnected(error);
  }
  if (IsSocks4()) return SocksDoConnect();
  authMethod_ = socksAuthentication_ == socksAuthenticateUsercode ? 2 : 0;
  const uint8_t request[3] = {0x05, 0x01, authMethod_};
  Send(request, sizeof request);
}

void TCustomSocksSocket::TriggerSessionClosed(uint16_t error) {
  if (socksState_ == 2) TriggerSocksAuthState(socksAuthFailure);
  if (socksState_ != 0) {
    // The server hung up during the negotiation: the attempt still gets its
    // one connected event, with the error, before the closed event.
    socksState_ = 0;
    TCustomAsyncSocket::TriggerSessionConnected(error ? error : uint16_t{WSAECONNABORTED});
  }
  TCustomAsyncSocket::TriggerSessionClosed(error);
}

void TCustomSocksSocket::SocksDoConnect() {
  socksState_ = 3;
  std::vector<uint8_t> req;
  if (!IsSocks4()) {
    // A length byte cannot describe a longer name: the request would be
    // malformed, so it is refused before anything is sent.
    if (addrStr_.size() > kMaxSocksField) return SocksError(socksInternalError, "internal error");
    req = {0x05, 0x01, 0x00, 0x03, static_cast<uint8_t>(addrStr_.size())};
    req.insert(req.end(), addrStr_.begin(), addrStr_.end());
    req.push_back(static_cast<uint8_t>(destPort_ >> 8));
    req.push_back(static_cast<uint8_t>(destPort_ & 0xFF));
  } else {
    uint32_t dst = socksLevel_ == "4A" ? 1u : SocketResolveHost(addrStr_);
    req = {0x04,
           0x01,
           static_cast<uint8_t>(destPort_ >> 8),
           static_cast<uint8_t>(destPort_ & 0xFF),
           static_cast<uint8_t>(dst >> 24),
           static_cast<uint8_t>(dst >> 16),
           static_cast<uint8_t>(dst >> 8),
           static_cast<uint8_t>(dst)};
    req.insert(req.end(), socksUsercode_.begin(), socksUsercode_.end());
    req.push_back(0);
    if (socksLevel_ == "4A") {
      req.insert(req.end(), addrStr_.begin(), addrStr_.end());
      req.push_back(0);
    }
  }
  Send(req.data(), static_cast<int>(req.size()));
}

void TCustomSocksSocket::SocksDoAuthenticate() {
  if (socksUsercode_.size() > kMaxSocksField || socksPassword_.size() > kMaxSocksField)
    return SocksError(socksInternalError, "internal error");
  socksState_ = 2;
  TriggerSocksAuthState(socksAuthStart);
  std::vector<uint8_t> req{0x01, static_cast<uint8_t>(socksUsercode_.size())};
  req.insert(req.end(), socksUsercode_.begin(), socksUsercode_.end());
  req.push_back(static_cast<uint8_t>(socksPassword_.size()));
  req.insert(req.end(), socksPassword_.begin(), socksPassword_.end());
  Send(req.data(), static_cast<int>(req.size()));
}

void TCustomSocksSocket::SocksError(int error, const std::string& msg) {
  TriggerSocksError(error, msg);
  socksState_ = 0;
  TriggerSessionConnected(static_cast<uint16_t>(error));
  InternalClose(true, error);
}

bool TCustomSocksSocket::TriggerDataAvailable(uint16_t error) {
  if (socksState_ == 0) return TCustomAsyncSocket::TriggerDataAvailable(error);
  if (error != 0) {
    SocksError(error, "data receive error");
    return false;
  }
  if (socksState_ == 1 && IsSocks4()) {
    SocksError(socksProtocolError, "TAsyncSocket logic error");
    return true;
  }
  const int room = (socksState_ == 3 && IsSocks4()) ? 8 - rcvCnt_ : kReplySize - 1 - rcvCnt_;
  if (room <= 0) {
    SocksError(socksProtocolError, "too much data availaible");
    return true;
  }
  int n = SocksRecv(rcvBuf_ + rcvCnt_, room);
  if (n < 0) return true;
  // No bytes means the server closed; the close path reports it. Testing the
  // buffer now would read a byte of an earlier reply.
  if (n == 0) return true;
  rcvCnt_ += n;

  switch (socksState_) {
    case 1:
      if (rcvCnt_ < 2) return true;
      rcvCnt_ = 0;
      if (rcvBuf_[0] != 5) {
        SocksError(socksVersionError, "socks version error");
      } else if (rcvBuf_[1] == 0) {
        if (authMethod_ != 0) TriggerSocksAuthState(socksAuthNotRequired);
        SocksDoConnect();
      } else if (rcvBuf_[1] == 2) {
        SocksDoAuthenticate();
      } else {
        SocksError(socksAuthMethodError, "authentification method not acceptable");
      }
      return true;
    case 2:
      if (rcvBuf_[0] != 1) {
        SocksError(socksVersionError, "socks version error");
      } else if (rcvCnt_ < 2) {
        return true;
      } else if (rcvCnt_ == 2) {
        if (rcvBuf_[1] != 0) {
          // The error names the refusal; the failure state is left to a
          // server that hangs up without answering.
          SocksError(socksAuthenticationFailed, "socks authentication failed");
        } else {
          rcvCnt_ = 0;
          TriggerSocksAuthState(socksAuthSuccess);
          SocksDoConnect();
        }
      } else {
        SocksError(socksProtocolError, "too much data availaible");
      }
      return true;
    case 3:
      if (IsSocks4()) {
        if (rcvCnt_ < 8) return true;
        rcvCnt_ = 0;
        if (rcvBuf_[0] != 0) {
          SocksError(socksVersionError, "socks version error");
          return true;
        }
        switch (rcvBuf_[1]) {
          case 90:
            socksState_ = 0;
            TriggerSessionConnected(0);
            return TriggerDataAvailable(0);
          case 91:
            SocksError(socksRejectedOrFailed, "request rejected or failed");
            break;
          case 92:
            SocksError(socksConnectionRefused, "connection refused");
            break;
          case 93:
            SocksError(socksAuthenticationFailed, "authentification failed");
            break;
          default:
            SocksError(socksUnassignedError, "unassigned error #" + std::to_string(rcvBuf_[1]));
        }
        return true;
      }
      if (rcvBuf_[0] != 5) {
        SocksError(socksVersionError, "socks version error");
        return true;
      }
      if (rcvCnt_ >= 2 && rcvBuf_[1] != 0) {
        static const char* const kReplies[] = {
            "general SOCKS server failure", "connection not allowed by ruleset",
            "network unreachable",          "host unreachable",
            "connection refused",           "TTL expired",
            "command not supported",        "address type not supported"};
        const int code = rcvBuf_[1];
        if (code >= 1 && code <= 8)
          SocksError(socksGeneralFailure + code - 1, kReplies[code - 1]);
        else
          SocksError(socksUnassignedError, "unassigned error #" + std::to_string(code));
        return true;
      }
      if (rcvCnt_ < 5) return true;
      {
        const int atyp = rcvBuf_[3];
        const int len = atyp == 1 ? 10 : atyp == 3 ? rcvBuf_[4] + 7 : 5;
        if (rcvCnt_ < len) return true;
        int next;
        if (atyp == 1) {
          boundAddr_ = std::to_string(rcvBuf_[4]) + "." + std::to_string(rcvBuf_[5]) + "." +
                       std::to_string(rcvBuf_[6]) + "." + std::to_string(rcvBuf_[7]);
          next = 8;
        } else if (atyp == 3) {
          boundAddr_.assign(reinterpret_cast<const char*>(rcvBuf_ + 5), rcvBuf_[4]);
          next = rcvBuf_[4] + 5;
        } else {
          SocksError(socksUnknownAddressType, "address type not supported");
          return true;
        }
        boundPort_ = std::to_string((rcvBuf_[next] << 8) | rcvBuf_[next + 1]);
        socksState_ = 0;
        leftoverPos_ = len;
        leftoverCnt_ = rcvCnt_ - len;
        rcvCnt_ = 0;
        TriggerSessionConnected(0);
        return TriggerDataAvailable(0);
      }
    default:
      SocksError(socksInternalError, "internal error");
      return false;
  }
}

int TCustomSocksSocket::GetRcvdCount() {
  if (leftoverCnt_ > 0) return leftoverCnt_;
  return TCustomAsyncSocket::GetRcvdCount();
}

int TCustomSocksSocket::DoRecv(void* buffer, int len, int flags) {
  if (leftoverCnt_ > 0 && len > 0) {
    int n = std::min(len, leftoverCnt_);
    std::memcpy(buffer, rcvBuf_ + leftoverPos_, static_cast<size_t>(n));
    leftoverPos_ += n;
    leftoverCnt_ -= n;
    ++rawRecvCalls_;
    return n;
  }
  return TCustomAsyncSocket::DoRecv(buffer, len, flags);
}

}  // namespace zirk
