#include "imaging_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include <jpeglib.h>

namespace zirk::test {

std::vector<Bytes> RandomRows(int32_t width, int32_t height, int32_t bitCount, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Bytes> rows(size_t(height), Bytes(size_t(PackedRowBytes(width, bitCount))));
  for (Bytes& row : rows) {
    for (uint8_t& b : row) b = uint8_t(rng());
  }
  return rows;
}

std::vector<Bytes> RowsOf(const TDIB& dib) {
  std::vector<Bytes> rows;
  const size_t bytes = size_t(PackedRowBytes(dib.Width(), dib.BitCount()));
  for (int y = 0; y < dib.Height(); ++y) {
    rows.emplace_back(dib.ScanLine(y), dib.ScanLine(y) + bytes);
  }
  return rows;
}

void SetRows(TDIB& dib, const std::vector<Bytes>& rows) {
  for (int y = 0; y < dib.Height(); ++y) {
    std::memcpy(dib.ScanLine(y), rows[size_t(y)].data(), rows[size_t(y)].size());
  }
}

void FillRandom(TDIB& dib, uint32_t seed) {
  std::mt19937 rng(seed ^ 0x5a5a5a5au);
  if (dib.BitCount() <= 8) {
    for (auto& q : dib.ColorTable()) q = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    dib.UpdatePalette();
  }
  std::vector<Bytes> rows = RandomRows(dib.Width(), dib.Height(), dib.BitCount(), seed);
  if (dib.BitCount() == 32) {
    for (Bytes& row : rows) {
      for (size_t i = 3; i < row.size(); i += 4) row[i] = 0;
    }
  }
  if (dib.Is555()) {
    for (Bytes& row : rows) {
      for (size_t i = 1; i < row.size(); i += 2) row[i] &= 0x7F;
    }
  }
  SetRows(dib, rows);
}

int64_t PlainStream::Read(void* buffer, int64_t count) {
  const int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, Size() - pos_));
  if (n > 0) std::memcpy(buffer, data_.data() + pos_, size_t(n));
  pos_ += n;
  return n;
}

int64_t PlainStream::Seek(int64_t offset, SeekOrigin origin) {
  const int64_t base = origin == SeekOrigin::Begin     ? 0
                       : origin == SeekOrigin::Current ? pos_
                                                       : Size();
  if (base + offset < 0) throw EStreamError("seek before start");
  pos_ = base + offset;
  return pos_;
}

void LoadBytes(TDorvFrameList& list, const Bytes& bytes, bool firstOnly) {
  TKwMemoryStream stream(bytes);
  LoadDorvStream(list, stream, firstOnly);
}

std::vector<std::vector<std::string>> ReadTsv(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    rows.push_back(std::move(fields));
  }
  return rows;
}

std::vector<Bytes> ReferenceJpegDecode(const Bytes& data, int& width, int& height) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  width = int(cinfo.output_width);
  height = int(cinfo.output_height);
  std::vector<Bytes> rows(size_t(height), Bytes(size_t(width) * 3));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = rows[cinfo.output_scanline].data();
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return rows;
}

}  // namespace zirk::test
