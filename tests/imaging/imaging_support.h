#pragma once
// Helpers of the imaging tests: deterministic random pictures, a stream
// that is not a memory stream (so readers take their copying path), and
// libjpeg-turbo's own decode as the reference for JPEG planes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/streams.h"
#include "imaging/dorvs.h"
#include "support/dorvbuilder.h"
#include "surfaces/dib.h"

namespace zirk::test {

// Rows of random bytes, unpadded, for a picture of the size and bit count.
std::vector<Bytes> RandomRows(int32_t width, int32_t height, int32_t bitCount, uint32_t seed);
// The unpadded rows of a picture.
std::vector<Bytes> RowsOf(const TDIB& dib);
// Copies unpadded rows into a picture of matching size.
void SetRows(TDIB& dib, const std::vector<Bytes>& rows);
// A picture of random pixels (and a random colour table at 8 bits or less).
void FillRandom(TDIB& dib, uint32_t seed);

// The message of the exception of type E that f raises, or "no exception".
template <class E, class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "no exception";
}

// Reads from a byte vector without being a memory stream.
class PlainStream : public TKwStream {
 public:
  explicit PlainStream(Bytes data) : data_(std::move(data)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

 private:
  Bytes data_;
  int64_t pos_ = 0;
};

// Loads built bytes through a memory stream.
void LoadBytes(TDorvFrameList& list, const Bytes& bytes, bool firstOnly = false);

// The lines of a tab-separated index file after its header, split at tabs.
std::vector<std::vector<std::string>> ReadTsv(const std::filesystem::path& path);

// libjpeg-turbo's decode of the data as B, G, R rows without padding.
std::vector<Bytes> ReferenceJpegDecode(const Bytes& data, int& width, int& height);

}  // namespace zirk::test
