// zirkget: fetches one http:// URL with the player's HTTP client. The body
// goes to stdout, the status line of a reply to stderr; the exit code is 0
// when the request ended normally, 1 when it failed (what failed on
// stderr), 2 on wrong usage.

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "net/httpclient.h"
#include "net/httpurl.h"
#include "platform/sockets.h"

namespace {

const char kUsage[] =
    "usage: zirkget [--proxy HOST:PORT] [--socks HOST:PORT --socks-level 4|4A|5]\n"
    "               [--socks-user USER:PASS] [--user USER:PASS] [--timeout SECONDS] URL\n"
    "  URL is http://HOST[:PORT]/PATH (https is not supported); the body goes to\n"
    "  stdout, the server's status line to stderr\n";

// The body is written as it arrives, so a large download needs no memory.
class StdoutStream : public zirk::TKwStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    auto p = static_cast<const char*>(buffer);
    int64_t left = count;
    while (left > 0) {
      ssize_t n = ::write(1, p, static_cast<size_t>(left));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw zirk::EWriteError();
      }
      p += n;
      left -= n;
    }
    written_ += count;
    return count;
  }
  int64_t Seek(int64_t offset, zirk::SeekOrigin origin) override {
    if (origin == zirk::SeekOrigin::Begin) return offset;
    return written_ + (origin == zirk::SeekOrigin::Current ? offset : 0);
  }

 private:
  int64_t written_ = 0;
};

bool splitPair(const std::string& text, char sep, bool last, std::string& a, std::string& b) {
  size_t pos = last ? text.rfind(sep) : text.find(sep);
  if (pos == std::string::npos || pos == 0) return false;
  a = text.substr(0, pos);
  b = text.substr(pos + 1);
  return true;
}

// What is wrong with the URL before anything is sent; empty when nothing.
std::string urlProblem(const std::string& url) {
  const size_t colon = url.find("://");
  const bool named = colon != std::string::npos && colon > 0 &&
                     std::all_of(url.begin(), url.begin() + static_cast<ptrdiff_t>(colon),
                                 [](unsigned char c) { return std::isalnum(c) || c == '+'; });
  if (!named) return url + ": not a URL; give http://HOST[:PORT]/PATH";
  std::string scheme = url.substr(0, colon);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme != "http") return scheme + " is not supported, only http://";
  const size_t host = colon + 3;
  if (host >= url.size() || url[host] == '/' || url[host] == ':')
    return url + ": the URL names no host";
  return {};
}

// What failed, in words: the socket layer's numbers for the usual failures,
// else the client's own text without its error number.
std::string failureText(const zirk::THttpClient& client, const std::exception& e) {
  namespace p = zirk::platform;
  switch (client.RequestDoneError()) {
    case p::WSAECONNREFUSED:
      return "connection refused";
    case p::WSAETIMEDOUT:
      return "timed out";
    case p::WSAHOST_NOT_FOUND:
    case p::WSATRY_AGAIN:
    case p::WSANO_RECOVERY:
    case p::WSANO_DATA:
      return "unknown host " + zirk::ParseURL(client.URL).host;
    case p::WSAEPROTONOSUPPORT:
      return "relocated to an address that is not http://, the only kind supported";
    default:
      break;
  }
  // The server's answer is raised with its status; a failure of the client's
  // own after the status line (a header past its limit) says what failed.
  const auto* http = dynamic_cast<const zirk::EHttpException*>(&e);
  const auto& header = client.ResponseHeader();
  if (client.RequestDoneError() == 0 && http && http->ErrorCode == client.StatusCode() &&
      !header.empty() && header.front().rfind("HTTP/", 0) == 0)
    return "the server answered " + std::to_string(client.StatusCode()) + " " +
           client.ReasonPhrase();
  std::string text = e.what();
  if (const size_t number = text.rfind(" (Error #"); number != std::string::npos)
    text.erase(number);
  // "Redirect refused: ..." reads on as "redirect refused: ...", but
  // "HTTP reply ..." and "URL refused: ..." keep their capitals.
  if (text.size() > 1 && !std::isupper(static_cast<unsigned char>(text[1])))
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

int usage(const std::string& why) {
  if (!why.empty()) std::cerr << "zirkget: " << why << "\n";
  std::cerr << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  zirk::THttpClient client;
  std::string url;
  bool socksLevelGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v, a, b;
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--proxy") {
      if (!value(v) || !splitPair(v, ':', true, a, b)) return usage("--proxy needs HOST:PORT");
      client.Proxy = a;
      client.ProxyPort = b;
    } else if (arg == "--socks") {
      if (!value(v) || !splitPair(v, ':', true, a, b)) return usage("--socks needs HOST:PORT");
      client.SocksServer = a;
      client.SocksPort = b;
    } else if (arg == "--socks-level") {
      if (!value(v) || (v != "4" && v != "4A" && v != "4a" && v != "5"))
        return usage("--socks-level is 4, 4A or 5");
      client.SocksLevel = v == "4a" ? "4A" : v;
      socksLevelGiven = true;
    } else if (arg == "--socks-user") {
      if (!value(v) || !splitPair(v, ':', false, a, b))
        return usage("--socks-user needs USER:PASS");
      client.SocksUsercode = a;
      client.SocksPassword = b;
    } else if (arg == "--user") {
      if (!value(v) || !splitPair(v, ':', false, a, b)) return usage("--user needs USER:PASS");
      client.Username = a;
      client.Password = b;
    } else if (arg == "--timeout") {
      if (!value(v)) return usage("--timeout needs SECONDS");
      char* end = nullptr;
      long seconds = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || seconds < 0 || seconds > 86400) return usage("bad --timeout");
      client.Timeout = static_cast<int>(seconds);
    } else if (!arg.empty() && arg[0] == '-') {
      return usage("unknown option " + arg);
    } else if (url.empty()) {
      url = arg;
    } else {
      return usage("only one URL");
    }
  }
  if (url.empty()) return usage("");
  if (socksLevelGiven && client.SocksServer.empty()) return usage("--socks-level needs --socks");
  if (const std::string problem = urlProblem(url); !problem.empty()) {
    std::cerr << "zirkget: " << problem << "\n";
    return 1;
  }

  StdoutStream out;
  client.URL = url;
  client.ReceiveStream = &out;
  client.SetMultiThreaded(true);
  // Only a reply that arrived has a status line; a failure before one
  // has none to show.
  auto statusLine = [&] {
    const auto& header = client.ResponseHeader();
    if (!header.empty() && header.front().rfind("HTTP/", 0) == 0)
      std::cerr << header.front() << "\n";
  };
  try {
    client.HttpGetSync();
  } catch (const std::exception& e) {
    statusLine();
    std::cerr << "zirkget: " << url << ": " << failureText(client, e) << "\n";
    return 1;
  }
  statusLine();
  return 0;
}
