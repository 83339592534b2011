// The virtual file system's cached lookup against a plain case-insensitive
// folder scan per lookup, its cache on a large folder reached through a link
// loop or dated ahead of the clock, and the chunked inflate against zlib's
// one-shot uncompress into a buffer of known size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/compress.h"
#include "base/vrfiles.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 2000;

// A game folder of kFiles pictures in two sub-folders, made once and
// removed at exit.
struct GameFolder {
  GameFolder() : dir(fs::temp_directory_path() / ("zirk-bench-" + std::to_string(::getpid()))) {
    for (const char* sub : {"Data/BG", "Data/Char"}) fs::create_directories(dir / sub);
    for (int i = 0; i < kFiles; ++i)
      std::ofstream(dir / (i % 2 ? "Data/BG" : "Data/Char") / ("Pic" + std::to_string(i) + ".PNG"))
          << "x";
    // An installed game's folders are old; their listings are trusted at once.
    timespec times[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    for (const char* sub : {"", "Data", "Data/BG", "Data/Char"})
      utimensat(AT_FDCWD, (dir / sub).c_str(), times, 0);
  }
  ~GameFolder() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
};

const fs::path& gameFolder() {
  static const GameFolder folder;
  return folder.dir;
}

std::string gameName(int i) {
  return std::string(i % 2 ? "data\\bg\\" : "data\\char\\") + "pic" + std::to_string(i) + ".png";
}

void BM_VrFileExistsCached(benchmark::State& state) {
  zirk::TVrFileManager files(gameFolder().string());
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(files.FileExists(gameName(i)));
    i = (i + 7) % kFiles;
  }
}
BENCHMARK(BM_VrFileExistsCached);

// The peer: what a lookup costs when every folder on the way is scanned.
bool scanLookup(const fs::path& root, const std::vector<std::string>& parts) {
  fs::path dir = root;
  for (const std::string& part : parts) {
    bool found = false;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (strcasecmp(entry.path().filename().c_str(), part.c_str()) == 0) {
        dir = entry.path();
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return fs::is_regular_file(dir);
}

void BM_FolderScanPerLookup(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    std::vector<std::string> parts = {"data", i % 2 ? "bg" : "char",
                                      "pic" + std::to_string(i) + ".png"};
    benchmark::DoNotOptimize(scanLookup(gameFolder(), parts));
    i = (i + 7) % kFiles;
  }
}
BENCHMARK(BM_FolderScanPerLookup);

constexpr int kBigFolderFiles = 100'000;

// A game folder of kBigFolderFiles pictures holding a link "loop" to
// itself, made once and removed at exit.
struct BigFolder {
  BigFolder() : dir(fs::temp_directory_path() / ("zirk-bench-big-" + std::to_string(::getpid()))) {
    fs::create_directories(dir);
    for (int i = 0; i < kBigFolderFiles; ++i) std::ofstream(dir / pictureName(i)) << "x";
    fs::create_directory_symlink(".", dir / "loop");
  }
  ~BigFolder() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  static std::string pictureName(int i) {
    char name[32];
    snprintf(name, sizeof name, "Pic%06d.dor", i);
    return name;
  }
  // Dates the folder `seconds` from now (negative: in the past).
  void date(time_t seconds) const {
    timespec times[2] = {{time(nullptr) + seconds, 0}, {time(nullptr) + seconds, 0}};
    utimensat(AT_FDCWD, dir.c_str(), times, 0);
  }
  fs::path dir;
};

const BigFolder& bigFolder() {
  static const BigFolder folder;
  return folder;
}

// What the cache holds and the process's peak, read off while the manager
// lives.
void reportMemory(benchmark::State& state, size_t heapBefore) {
  state.counters["cacheMB"] = static_cast<double>(mallinfo2().uordblks - heapBefore) / 1e6;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peakRssMB"] = static_cast<double>(usage.ru_maxrss) / 1e3;
}

// One picture named through the loop 39 times, as a film's track may name
// it: every spelling reaches the same folder.
void BM_VrFileLookupThroughLinkLoop(benchmark::State& state) {
  const BigFolder& folder = bigFolder();
  folder.date(-3600);
  std::string name;
  for (int i = 0; i < 39; ++i) name += "loop\\";
  name += "pic000000.dor";
  for (auto _ : state) {
    const size_t heapBefore = mallinfo2().uordblks;
    zirk::TVrFileManager files(folder.dir.string());
    benchmark::DoNotOptimize(files.FileExists(name));
    state.counters["scans"] = static_cast<double>(files.ScanCount());
    reportMemory(state, heapBefore);
  }
}
BENCHMARK(BM_VrFileLookupThroughLinkLoop)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 200-track film's pictures looked up in the folder, installed an hour
// ago (argument 0) or dated four years ahead of the clock (argument 1).
void BM_VrFile200LookupsInBigFolder(benchmark::State& state) {
  const BigFolder& folder = bigFolder();
  folder.date(state.range(0) ? 4 * 365 * 86400 : -3600);
  for (auto _ : state) {
    zirk::TVrFileManager files(folder.dir.string());
    for (int i = 0; i < 200; ++i)
      benchmark::DoNotOptimize(files.FileExists(BigFolder::pictureName(i * 499)));
    state.counters["scans"] = static_cast<double>(files.ScanCount());
  }
}
BENCHMARK(BM_VrFile200LookupsInBigFolder)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

std::vector<uint8_t> pictureLikeBytes(size_t n) {
  std::vector<uint8_t> v(n);
  uint32_t x = 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = static_cast<uint8_t>((i % 640) / 3 + ((x >> 16) & 7));
  }
  return v;
}

void BM_DecompressToStream(benchmark::State& state) {
  zirk::TKwMemoryStream packed(pictureLikeBytes(static_cast<size_t>(state.range(0))));
  zirk::CompressStreamInPlace(packed);
  for (auto _ : state) {
    zirk::TKwMemoryStream s(packed.Bytes());
    zirk::DecompressToStream(s);
    benchmark::DoNotOptimize(s.Memory());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DecompressToStream)->Arg(640 * 480 * 4)->Arg(0xA00000);

void BM_ZlibUncompress(benchmark::State& state) {
  zirk::TKwMemoryStream packed(pictureLikeBytes(static_cast<size_t>(state.range(0))));
  zirk::CompressStreamInPlace(packed);
  for (auto _ : state) {
    std::vector<uint8_t> out(static_cast<size_t>(state.range(0)));
    uLongf len = out.size();
    uncompress(out.data(), &len, packed.Memory(), static_cast<uLong>(packed.Size()));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ZlibUncompress)->Arg(640 * 480 * 4)->Arg(0xA00000);

}  // namespace
