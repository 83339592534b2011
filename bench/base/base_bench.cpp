// The virtual file system's cached lookup against a plain case-insensitive
// folder scan per lookup, and the chunked inflate against zlib's one-shot
// uncompress into a buffer of known size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

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
