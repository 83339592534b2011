#pragma once
// The zlib side of the PNG codec: an inflater that fills whole rows from a
// refill callback, a deflater that hands out fixed-size blocks, and the
// five scan-line filters of the PNG standard in both directions, with the
// adaptive filter choice of the writer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zirk {

class TKwInflater {
 public:
  static constexpr size_t kInputSize = 32768;
  // Copies up to `max` bytes of compressed data; 0 means no more data.
  using Refill = std::function<size_t(uint8_t* dest, size_t max)>;

  enum class Result { Ok, NoInput, Error };

  TKwInflater();
  ~TKwInflater();
  TKwInflater(const TKwInflater&) = delete;
  TKwInflater& operator=(const TKwInflater&) = delete;

  // False when zlib cannot start.
  bool Open(Refill refill);
  // Fills exactly `count` bytes: NoInput when the refill ran dry first,
  // Error for bad data or a stream that ended early.
  Result Read(uint8_t* dest, size_t count);
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class TKwDeflater {
 public:
  // Receives each full block, and the remainder at the end.
  using Emit = std::function<void(const uint8_t* data, size_t size)>;

  TKwDeflater();
  ~TKwDeflater();
  TKwDeflater(const TKwDeflater&) = delete;
  TKwDeflater& operator=(const TKwDeflater&) = delete;

  // Levels outside 0..9 take zlib's default. False when zlib cannot start.
  bool Open(int level, size_t blockSize, Emit emit);
  bool Write(const uint8_t* data, size_t size);
  // Ends the stream; the last block is emitted only when it is not empty.
  bool Finish();
  void Close();

 private:
  bool run(int flush);

  struct State;
  std::unique_ptr<State> state_;
};

// Undoes filter `type` on `row` (length bytes) against the previous row;
// false for a type above 4.
bool UnfilterRow(int type, uint8_t* row, const uint8_t* prev, size_t length, int bytesPerPixel);
// Writes the type byte and the filtered row to out (length + 1 bytes).
void FilterRow(int type, const uint8_t* row, const uint8_t* prev, size_t length, int bytesPerPixel,
               uint8_t* out);

// Higher is better; -1 means take this row as it is. `row` includes the
// filter type byte and `length` counts it.
int RowScore(const uint8_t* row, size_t length, int bitsPerPixel);

// Chooses the filter of each row for one filter mode: 0 adaptive, 2..5
// Sub, Up, Average, Paeth on every row, anything else none.
class TKwRowFilter {
 public:
  void Setup(int filterMode, int bitsPerPixel, int sourceBitCount, size_t rowBytes);
  // The row being built; Filter reads it.
  uint8_t* Current() { return current_; }
  // Forgets the previous row (start of a pass).
  void ClearPrevious();
  // The first `length` bytes of the current row filtered, with the type
  // byte in front (length + 1 bytes).
  const uint8_t* Filter(size_t length);
  // The current row becomes the previous one.
  void NextRow();
  size_t RowBytes() const { return rowBytes_; }

 private:
  int mode_ = 1;
  int bitsPerPixel_ = 8;
  int bytesPerPixel_ = 1;
  int sourceBitCount_ = 8;
  size_t rowBytes_ = 0;
  std::vector<uint8_t> storage_;
  uint8_t* current_ = nullptr;
  uint8_t* previous_ = nullptr;
  uint8_t* best_ = nullptr;
  uint8_t* candidate_ = nullptr;
};

}  // namespace zirk
