// A 100 MiB GET from nginx on loopback: the HTTP client pumping on the
// benchmark thread into a stream that discards the body, next to libcurl
// fetching the same file in the same run. Compare the bytes_per_second of
// Get100MiB/zirk with Get100MiB/curl.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "net/httpclient.h"

namespace {

constexpr int64_t kFileSize = int64_t{100} << 20;

class DiscardStream : public zirk::TKwStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    written += count;
    return count;
  }
  int64_t Seek(int64_t, zirk::SeekOrigin) override { return written; }
  int64_t written = 0;
};

int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  close(fd);
  return ntohs(sa.sin_port);
}

bool listening(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  close(fd);
  return ok;
}

// nginx in the foreground with sendfile, serving a sparse 100 MiB file from
// a private folder; stopped (its own process only) at exit.
class Nginx {
 public:
  Nginx() {
    dir_ = std::filesystem::temp_directory_path() / ("zirk-bench-http-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_ / "www");
    {
      std::ofstream(dir_ / "www/big.bin").close();
      std::filesystem::resize_file(dir_ / "www/big.bin", kFileSize);
    }
    port_ = freePort();
    const std::string d = dir_.string();
    std::ofstream(dir_ / "nginx.conf")
        << "daemon off;\nmaster_process off;\npid " << d << "/nginx.pid;\nerror_log stderr;\n"
        << "events { worker_connections 64; }\nhttp {\n  access_log off;\n  sendfile on;\n"
        << "  client_body_temp_path " << d << "/b;\n  proxy_temp_path " << d << "/p;\n"
        << "  fastcgi_temp_path " << d << "/f;\n  uwsgi_temp_path " << d << "/u;\n"
        << "  scgi_temp_path " << d << "/s;\n  server {\n    listen 127.0.0.1:" << port_
        << ";\n    root " << d << "/www;\n  }\n}\n";
    const std::string conf = d + "/nginx.conf";
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      alarm(600);
      execlp("nginx", "nginx", "-c", conf.c_str(), "-p", d.c_str(), "-e", "stderr", nullptr);
      execl("/usr/sbin/nginx", "nginx", "-c", conf.c_str(), "-p", d.c_str(), "-e", "stderr",
            nullptr);
      _exit(127);
    }
    for (int i = 0; i < 50 && !listening(port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ok_ = listening(port_);
  }
  ~Nginx() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  bool ok() const { return ok_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/big.bin"; }

 private:
  std::filesystem::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool ok_ = false;
};

size_t discardCurl(char*, size_t size, size_t n, void* counter) {
  *static_cast<int64_t*>(counter) += static_cast<int64_t>(size * n);
  return size * n;
}

int64_t curlFetch(const std::string& url) {
  int64_t got = 0;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discardCurl);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &got);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  CURLcode rc = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return rc == CURLE_OK ? got : -1;
}

// CPU seconds of the whole process (every thread), to expose a spin-wait.
double processCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void reportCpu(benchmark::State& state, double cpuStart) {
  const double gib = static_cast<double>(state.iterations() * kFileSize) / (1 << 30);
  if (gib > 0) state.counters["cpu_s_per_GiB"] = (processCpuSeconds() - cpuStart) / gib;
}

Nginx& peer() {
  static Nginx nginx;
  static bool warmed = nginx.ok() && curlFetch(nginx.url()) == kFileSize;  // page cache
  (void)warmed;
  return nginx;
}

void Get100MiB_zirk(benchmark::State& state) {
  if (!peer().ok()) return state.SkipWithError("nginx did not start");
  const double cpuStart = processCpuSeconds();
  for (auto _ : state) {
    zirk::THttpClient client;
    client.Timeout = 60;
    DiscardStream out;
    client.URL = peer().url();
    client.ReceiveStream = &out;
    try {
      client.HttpGetSync();
    } catch (const std::exception& e) {
      return state.SkipWithError(e.what());
    }
    if (out.written != kFileSize) return state.SkipWithError("short body");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
  reportCpu(state, cpuStart);
}

// The player's shape: a worker thread waits in HttpGetSync while the owner
// runs a game loop whose frame wait (16 ms at most) wakes for the sockets.
void Get100MiB_zirkWorker(benchmark::State& state) {
  if (!peer().ok()) return state.SkipWithError("nginx did not start");
  const double cpuStart = processCpuSeconds();
  for (auto _ : state) {
    zirk::THttpClient client;
    client.Timeout = 60;
    DiscardStream out;
    client.URL = peer().url();
    client.ReceiveStream = &out;
    std::atomic<bool> done{false};
    std::string error;
    std::thread worker([&] {
      try {
        client.HttpGetSync();
      } catch (const std::exception& e) {
        error = e.what();
      }
      done = true;
    });
    while (!done) {
      zirk::platform::WaitMessage(std::chrono::milliseconds(16));
      zirk::PumpPendingMessages();
    }
    worker.join();
    if (!error.empty()) return state.SkipWithError(error.c_str());
    if (out.written != kFileSize) return state.SkipWithError("short body");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
  reportCpu(state, cpuStart);
}

void Get100MiB_curl(benchmark::State& state) {
  if (!peer().ok()) return state.SkipWithError("nginx did not start");
  const double cpuStart = processCpuSeconds();
  for (auto _ : state) {
    if (curlFetch(peer().url()) != kFileSize) return state.SkipWithError("curl failed");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
  reportCpu(state, cpuStart);
}

BENCHMARK(Get100MiB_zirk)
    ->Name("Get100MiB/zirk")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(Get100MiB_zirkWorker)
    ->Name("Get100MiB/zirk_worker")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(Get100MiB_curl)
    ->Name("Get100MiB/curl")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);

}  // namespace
