#include "base/compress.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace zirk {

namespace {

// zlib counts in uInt; feed it at most this much at a time.
constexpr size_t kZlibStep = 1u << 30;

}  // namespace

void CompressStreamInPlace(TKwMemoryStream& stream) {
  z_stream z{};
  if (deflateInit(&z, 1) != Z_OK) throw EZlibError("deflate: cannot start");
  const auto& in = stream.Bytes();
  std::vector<uint8_t> out(static_cast<size_t>(deflateBound(&z, in.size())));
  size_t consumed = 0;
  int rc = Z_OK;
  do {
    if (z.avail_in == 0 && consumed < in.size()) {
      size_t step = std::min(in.size() - consumed, kZlibStep);
      z.next_in = const_cast<Bytef*>(in.data() + consumed);
      z.avail_in = static_cast<uInt>(step);
      consumed += step;
    }
    int flush = consumed == in.size() ? Z_FINISH : Z_NO_FLUSH;
    if (z.total_out == out.size()) out.resize(out.size() + out.size() / 2 + 4096);
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(std::min(out.size() - z.total_out, kZlibStep));
    rc = deflate(&z, flush);
    if (rc == Z_STREAM_ERROR) {
      deflateEnd(&z);
      throw EZlibError("deflate: stream error");
    }
  } while (rc != Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  stream.Assign(std::move(out));
}

void DecompressToStream(TKwMemoryStream& stream, int64_t maxSize) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw EZlibError("inflate: cannot start");
  const auto& in = stream.Bytes();
  std::vector<uint8_t> out;
  size_t consumed = 0;
  int rc = Z_OK;
  // Left uncleared: inflate writes what is read back, and a damaged stream
  // of a few bytes should not cost a megabyte of zeroes.
  const auto chunk = std::make_unique_for_overwrite<uint8_t[]>(size_t(kInflateChunk));
  while (rc != Z_STREAM_END) {
    if (z.avail_in == 0) {
      size_t step = std::min(in.size() - consumed, kZlibStep);
      z.next_in = const_cast<Bytef*>(in.data() + consumed);
      z.avail_in = static_cast<uInt>(step);
      consumed += step;
    }
    z.next_out = chunk.get();
    z.avail_out = static_cast<uInt>(kInflateChunk);
    rc = inflate(&z, Z_NO_FLUSH);
    size_t produced = size_t(kInflateChunk) - z.avail_out;
    if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) {
      std::string why = std::string("inflate: ") + (z.msg ? z.msg : "damaged data");
      inflateEnd(&z);
      throw EZlibError(why);
    }
    if (static_cast<int64_t>(out.size() + produced) > maxSize) {
      inflateEnd(&z);
      throw EZlibError("inflate: result larger than allowed");
    }
    out.insert(out.end(), chunk.get(), chunk.get() + produced);
    // No progress with every input byte used: the stream ends early.
    if (rc != Z_STREAM_END && produced == 0 && z.avail_in == 0 && consumed == in.size()) {
      inflateEnd(&z);
      throw EZlibError("inflate: data ends early");
    }
  }
  inflateEnd(&z);
  stream.Assign(std::move(out));
}

int64_t CopyStreamToMemory(TKwStream& destination, TKwStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0 || count > source.Remaining()) throw EReadError();
  if (count == 0) return 0;
  if (TKwMemoryStream* mem = source.AsMemoryStream()) {
    int64_t pos = mem->Position();
    destination.WriteBuffer(mem->Memory() + pos, count);
    mem->SetPosition(pos + count);
    return count;
  }
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min(count, kCopyChunk)));
  for (int64_t left = count; left > 0;) {
    int64_t n = std::min<int64_t>(left, static_cast<int64_t>(chunk.size()));
    source.ReadBuffer(chunk.data(), n);
    destination.WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return count;
}

}  // namespace zirk
