#include "objects/http.h"

#include <algorithm>

#include "base/sjis.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/zscene.h"

namespace zirk {

namespace {

// The object's window hears of the end of its request thread.
constexpr uint32_t WM_HTTP_THREAD_DONE = platform::WM_USER + 1;

// Lines broken by CR LF, LF or CR, joined by 0x01; a final line break adds
// no empty line.
std::string joinLines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      out += c;
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if (i + 1 < text.size()) out += '\x01';
  }
  return out;
}

std::string readWhole(TKwStream& stream) {
  const int64_t size = stream.Size();
  std::string text(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
  stream.SetPosition(0);
  text.resize(static_cast<size_t>(std::max<int64_t>(stream.Read(text.data(), size), 0)));
  return text;
}

}  // namespace

TZirkHttp::TZirkHttp(TZirkBaseList& scene, std::function<bool()> appTerminated)
    : TZirkComponent(scene),
      appTerminated_(std::move(appTerminated)),
      client_(std::make_unique<THttpClient>()) {
  client_->SetMultiThreaded(true);
  // A game downloads short texts; a reply that keeps growing is a fault or
  // an attack, and ends as a failed request before it can eat the memory.
  client_->BodyCap = kBodyCap;
  hWnd_ = platform::AllocateHWnd([this](const platform::Message& m) -> platform::LRESULT {
    if (m.msg == WM_HTTP_THREAD_DONE) httpRequestDone();
    return 0;
  });
}

TZirkHttp::~TZirkHttp() {
  // The end of a request that is cut off here is nobody's to hear: the
  // window goes first, then the request, then its thread.
  platform::DeallocateHWnd(hWnd_);
  client_->Cancel();
  if (thread_.joinable()) thread_.join();
}

const TPropTable& TZirkHttp::Properties() const {
  using P = TPropField<TZirkHttp>;
  static const TPropTable table(
      TZirkComponent::Properties(),
      {
          // Every source starts a request (unless one runs), the same one again too.
          P(PR_SOURCE)
              .Get([](TZirkHttp& o) { return o.client_->URL; })
              .Set(&TZirkHttp::startHttpRequest),
          P(PR_ONPLAYEND, &TZirkHttp::onPlayEnd_),
          P(PR_TEXT).Get(&TZirkHttp::getText),
      });
  return table;
}

TKwStream* TZirkHttp::GetStream() {
  return Busy() ? nullptr : &body_;
}

std::string TZirkHttp::urlFromObject(const std::string& name) {
  auto* source = As<IStreamSource>(Scene().FindComponentByName(name));
  TKwStream* stream = source ? source->GetStream() : nullptr;
  if (!stream) return std::string();
  std::string url = readWhole(*stream);
  // A body that holds a URL usually ends with a line break, which would
  // otherwise make the request fail.
  const size_t end = url.find_last_not_of(" \t\r\n");
  url.resize(end == std::string::npos ? 0 : end + 1);
  return url;
}

void TZirkHttp::startHttpRequest(const std::string& source) {
  if (Busy()) return;
  body_.Clear();
  if (!source.empty() && source[0] == '!')
    client_->URL = urlFromObject(source.substr(1));
  else
    client_->URL = source;
  client_->ReceiveStream = &body_;
  thread_ = std::thread([client = client_.get(), wnd = hWnd_] {
    try {
      client->HttpGetSync();
    } catch (const std::exception&) {
      // A failed request ends like any other; the script hears of both.
    }
    platform::PostMessage(wnd, WM_HTTP_THREAD_DONE);
  });
}

void TZirkHttp::httpRequestDone() {
  if (thread_.joinable()) thread_.join();
  client_->ReceiveStream = nullptr;
  if (appTerminated_ && appTerminated_()) return;
  // A scrapped download is on its way out; its script no longer waits.
  if (!IsScrapped()) QueueEvent(PR_ONPLAYEND);
}

std::string TZirkHttp::getText() {
  if (Busy() || body_.Size() < 1) return std::string();
  return joinLines(EucToSjis(readWhole(body_)));
}

void RegisterZirkHttp(std::function<bool()> appTerminated) {
  RegisterKind(LT_HTTP, [appTerminated](TZirkBaseList& scene) {
    return std::make_unique<TZirkHttp>(scene, appTerminated);
  });
}

}  // namespace zirk
