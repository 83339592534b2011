#include "media/zirkdll.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "base/streams.h"
#include "base/vrfiles.h"
#include "support/testdata.h"

namespace zirk {
namespace {

std::filesystem::path fakeDir(const char* variant) {
  return std::filesystem::path(ZIRK_FAKE_DLL_DIR) / variant;
}

class MediaDllBinding : public ::testing::Test {
 protected:
  void TearDown() override { FinalDll(); }
};

TEST_F(MediaDllBinding, StatusAndMessageOfEachLibrary) {
  struct Case {
    const char* folder;
    TMediaDllStatus status;
    const char* message;
  };
  const Case cases[] = {
      {"missing", TMediaDllStatus::mdsMissing, "libzirk.so\nファイルがありません"},
      {"v107", TMediaDllStatus::mdsWrongVersion, "libzirk.soのバージョンがあいません"},
      {"noversion", TMediaDllStatus::mdsWrongVersion, "libzirk.soのバージョンがあいません"},
      {"nolog", TMediaDllStatus::mdsOk, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    EXPECT_EQ(LoadMediaDll(fakeDir(c.folder)), c.status);
    EXPECT_EQ(MediaDllMessage(c.status), c.message);
    const bool ok = c.status == TMediaDllStatus::mdsOk;
    EXPECT_EQ(MediaDllLoaded(), ok);
    // A refused library binds nothing, not even what it does export.
    EXPECT_EQ(static_cast<bool>(zirkInit), ok);
    EXPECT_EQ(static_cast<bool>(zirkVersion), ok);
    EXPECT_FALSE(LogDllLoaded());
  }
  EXPECT_STREQ(kMediaDllCaption, "Error");
}

TEST_F(MediaDllBinding, MissingEntriesStayEmptyAndAnswerZero) {
  ASSERT_EQ(LoadMediaDll(fakeDir("nolog")), TMediaDllStatus::mdsOk);
  EXPECT_EQ(zirkVersion(), 108);
  EXPECT_TRUE(zirkOggmanAdd);
  EXPECT_TRUE(zirkOggIsPlaying);
  // Absent from the library: empty, and calling does nothing.
  EXPECT_FALSE(zirkOggGetLen);
  EXPECT_FALSE(zirkVideoGetDC);
  EXPECT_FALSE(zirkFinal);
  EXPECT_EQ(zirkOggGetLen(5), 0);
  EXPECT_EQ(zirkVideoGetDC(5), nullptr);
  zirkFinal();
  zirkOggSetVol(5, -600);
  FinalDll();
  EXPECT_FALSE(MediaDllLoaded());
  EXPECT_FALSE(zirkOggmanAdd);
  EXPECT_EQ(zirkVersion(), 0);
}

TEST_F(MediaDllBinding, InitHandsTheCallbacksAndTheSoundSlotThrough) {
  ASSERT_EQ(LoadMediaDll(fakeDir("nolog")), TMediaDllStatus::mdsOk);
  uintptr_t window = 1, panel = 2;
  void* sharedDirectSound = nullptr;
  ASSERT_NE(
      zirkInit(&window, &panel, nullptr, &sharedDirectSound, DllStreamGetSize, DllStreamRead,
               DllStreamGetPosition, DllStreamSeek, SaveFpuControlWord, RestoreFpuControlWord, 0),
      0);
  TKwMemoryStream stream;
  stream.Assign(std::vector<uint8_t>(1234, 7));
  // The fake answers the stream's size through our callback.
  EXPECT_EQ(zirkOggmanAdd(&stream, -1), 1234u);
  EXPECT_EQ(zirkOggmanAdd(nullptr, -1), 0u);
  // The library reads the slot through its address, so a later fill counts.
  EXPECT_EQ(zirkOggIsPlaying(1), 0);
  int device = 0;
  sharedDirectSound = &device;
  EXPECT_NE(zirkOggIsPlaying(1), 0);
}

TEST_F(MediaDllBinding, LogLibraryGetsItsPathLinesAndFinal) {
  const auto folder = fakeDir("ok");
  std::filesystem::remove(folder / "dbglog.txt");
  ASSERT_EQ(LoadMediaDll(folder), TMediaDllStatus::mdsOk);
  ASSERT_TRUE(LogDllLoaded());
  ZirkLogWrite("00000001 : wait(3)");
  ZirkLogWrite("00000002 : <Event>click(4)");
  FinalDll();  // closes the log file
  EXPECT_FALSE(LogDllLoaded());
  EXPECT_FALSE(ZirkLogWrite);
  std::ifstream in(folder / "dbglog.txt");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "00000001 : wait(3)\n00000002 : <Event>click(4)\n");
  ZirkLogWrite("after the end");  // unbound: nothing happens
}

class FailingStream : public TKwStream {
 public:
  int64_t Read(void*, int64_t) override { throw EReadError(); }
  int64_t Write(const void*, int64_t) override { throw EWriteError(); }
  int64_t Seek(int64_t, SeekOrigin) override { throw EStreamError("seek"); }
  int64_t Size() override { throw EStreamError("size"); }
};

TEST(DllStreamCallbacks, AnswersForNullGoodAndFailingStreams) {
  // A media file as the player opens it: through the virtual file system.
  test::TempDir dir;
  std::vector<uint8_t> bytes(100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  test::writeFile(dir / "se.wav", bytes.data(), bytes.size());
  TVrFileManager files(dir.path().string());
  std::unique_ptr<TRangeStream> stream = files.OpenMediaStream("SE.WAV");
  ASSERT_TRUE(stream);
  TKwStream* range = stream.get();
  FailingStream failing;
  uint8_t buf[16] = {};

  // A null stream answers 0 and touches nothing; a stream that raises must
  // not unwind into the library.
  for (TKwStream* bad : {static_cast<TKwStream*>(nullptr), static_cast<TKwStream*>(&failing)}) {
    EXPECT_EQ(DllStreamGetSize(bad), 0);
    EXPECT_EQ(DllStreamRead(bad, buf, 16), 0);
    EXPECT_EQ(DllStreamGetPosition(bad), 0);
    EXPECT_EQ(DllStreamSeek(bad, 10), 0);
  }

  EXPECT_EQ(DllStreamGetSize(range), 100);
  EXPECT_EQ(DllStreamSeek(range, 90), 90);
  EXPECT_EQ(DllStreamRead(range, buf, 16), 10);
  EXPECT_EQ(buf[0], 90);
  EXPECT_EQ(buf[9], 99);
  EXPECT_EQ(DllStreamGetPosition(range), 100);
  EXPECT_EQ(DllStreamSeek(range, 5000), 100) << "the position the stream actually took";
  EXPECT_EQ(DllStreamSeek(range, -5), 0);
  EXPECT_EQ(DllStreamRead(range, buf, 0), 0);
  EXPECT_EQ(DllStreamRead(range, buf, -4), 0);
  EXPECT_EQ(DllStreamGetPosition(range), 0);
  // The lock was released in every case.
  std::thread other([] {
    EXPECT_TRUE(DllStreamLock().try_lock());
    DllStreamLock().unlock();
  });
  other.join();
}

// Counts how many stream calls run at the same time, over every stream that
// shares the counter.
struct Overlap {
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
};

class CountingStream : public TKwMemoryStream {
 public:
  explicit CountingStream(Overlap& overlap) : overlap_(overlap) {}
  int64_t Read(void* buffer, int64_t count) override {
    Inside inside(overlap_);
    return TKwMemoryStream::Read(buffer, count);
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    Inside inside(overlap_);
    return TKwMemoryStream::Seek(offset, origin);
  }

 private:
  struct Inside {
    Overlap& o;
    explicit Inside(Overlap& overlap) : o(overlap) {
      const int now = o.inside.fetch_add(1) + 1;
      int seen = o.most.load();
      while (now > seen && !o.most.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::yield();
    }
    ~Inside() { o.inside.fetch_sub(1); }
  };
  Overlap& overlap_;
};

// The lock is one for all streams: calls on different streams wait too.
TEST(DllStreamCallbacks, FourThreadsOverTwoStreamsNeverOverlap) {
  Overlap overlap;
  CountingStream a(overlap), b(overlap);
  a.Assign(std::vector<uint8_t>(4096, 1));
  b.Assign(std::vector<uint8_t>(4096, 2));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      CountingStream& s = t % 2 ? a : b;
      uint8_t buf[64];
      for (int i = 0; i < 500; ++i) {
        DllStreamSeek(&s, (i * 64) % 4096);
        DllStreamRead(&s, buf, 64);
        DllStreamGetPosition(&s);
        DllStreamGetSize(&s);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(overlap.most.load(), 1);
}

TEST(FpuRoutines, RestoreBringsBackTheSavedStateWithNothingPending) {
  std::fesetround(FE_TONEAREST);
  const uint16_t word = SaveFpuControlWord();
#if defined(__x86_64__)
  EXPECT_EQ(word & 0x0C00, 0) << "round to nearest in the x87 word";
#endif
  (void)word;
  std::fesetround(FE_UPWARD);
  std::feraiseexcept(FE_DIVBYZERO | FE_INEXACT);
  RestoreFpuControlWord();
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);
  EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
  // A state saved with exceptions pending is restored without them.
  std::feraiseexcept(FE_OVERFLOW);
  SaveFpuControlWord();
  RestoreFpuControlWord();
  EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
}

}  // namespace
}  // namespace zirk
