#include "imaging/jpeg.h"

// jpeglib.h needs size_t and FILE declared first.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>

#include "surfaces/dibsfc.h"

namespace zirk {

namespace {

// libjpeg reports fatal errors through a callback that must not return.
// The callback long-jumps back to the function that started the work; the
// libjpeg state lives on the heap behind a pointer set before setjmp, so
// nothing the jump crosses is left half-updated in a local variable.
struct ErrorManager {
  jpeg_error_mgr pub{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = {};
};

void errorExit(j_common_ptr info) {
  auto* err = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings (a truncated scan, say) keep the decoded rows and say nothing.
void quietMessage(j_common_ptr) {}

// Progressive files can ask for any number of scans, each a pass over the
// whole picture; beyond this many the data is taken as hostile.
constexpr int kMaxScans = 500;

struct ProgressMonitor {
  jpeg_progress_mgr pub{};
};

void checkScans(j_common_ptr info) {
  auto* d = reinterpret_cast<j_decompress_ptr>(info);
  if (d->is_decompressor && d->input_scan_number > kMaxScans) {
    std::snprintf(reinterpret_cast<ErrorManager*>(info->err)->message, JMSG_LENGTH_MAX,
                  "JPEG data has more than %d scans", kMaxScans);
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 2);
  }
}

struct Decoder {
  jpeg_decompress_struct cinfo{};
  ErrorManager err;
  ProgressMonitor progress;
  bool created = false;
  ~Decoder() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

void setUpDecoder(Decoder& d, const uint8_t* data, size_t size) {
  d.cinfo.err = jpeg_std_error(&d.err.pub);
  d.err.pub.error_exit = errorExit;
  d.err.pub.output_message = quietMessage;
  jpeg_create_decompress(&d.cinfo);
  d.created = true;
  d.progress.pub.progress_monitor = checkScans;
  d.cinfo.progress = &d.progress.pub;
  jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&d.cinfo, TRUE);
}

void checkHeader(const jpeg_decompress_struct& cinfo) {
  if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
    throw EJPEG("CMYK JPEG data is not supported");
  }
  if (cinfo.image_width > unsigned(kMaxDIBDimension) ||
      cinfo.image_height > unsigned(kMaxDIBDimension) ||
      int64_t{cinfo.image_width} * cinfo.image_height * 3 > kMaxDIBBytes) {
    throw EJPEG("JPEG image too large");
  }
}

struct Encoder {
  jpeg_compress_struct cinfo{};
  ErrorManager err;
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  bool created = false;
  ~Encoder() {
    if (created) jpeg_destroy_compress(&cinfo);
    std::free(out);
  }
};

}  // namespace

TJpegInfo JpegReadInfo(const uint8_t* data, size_t size) {
  auto d = std::make_unique<Decoder>();
  if (setjmp(d->err.jump)) throw EJPEG(d->err.message);
  setUpDecoder(*d, data, size);
  checkHeader(d->cinfo);
  return {int(d->cinfo.image_width), int(d->cinfo.image_height), d->cinfo.num_components};
}

void JpegDecodeWith(const uint8_t* data, size_t size, const TJpegTarget& target) {
  auto d = std::make_unique<Decoder>();
  if (setjmp(d->err.jump)) throw EJPEG(d->err.message);
  setUpDecoder(*d, data, size);
  checkHeader(d->cinfo);
  TDIB& target24 =
      target({int(d->cinfo.image_width), int(d->cinfo.image_height), d->cinfo.num_components});
  if (target24.BitCount() != 24 || unsigned(target24.Width()) != d->cinfo.image_width ||
      unsigned(target24.Height()) != d->cinfo.image_height) {
    throw EJPEG("JPEG image size differs from its target");
  }
  // Bitmap rows are B, G, R: libjpeg-turbo writes that order directly and
  // expands grey pictures on the way.
  d->cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&d->cinfo);
  while (d->cinfo.output_scanline < d->cinfo.output_height) {
    JSAMPROW row = target24.ScanLine(int(d->cinfo.output_scanline));
    jpeg_read_scanlines(&d->cinfo, &row, 1);
  }
  jpeg_finish_decompress(&d->cinfo);
}

void JpegDecodeInto(const uint8_t* data, size_t size, TDIB& target24) {
  JpegDecodeWith(data, size, [&target24](const TJpegInfo&) -> TDIB& { return target24; });
}

void JpegDecode(const uint8_t* data, size_t size, TDIB& target) {
  TDIB decoded;
  JpegDecodeWith(data, size, [&decoded](const TJpegInfo& info) -> TDIB& {
    decoded.SetSize(info.Width, info.Height, 24);
    return decoded;
  });
  target.Assign(decoded);
}

namespace {

// Everything the long jump can reach lives in the heap object, so no local
// variable of the function that called setjmp changes after it.
struct EncodeJob {
  Encoder encoder;
  const TDIB* source = nullptr;
  int quality = 0;
};

void runEncoder(EncodeJob& job) {
  jpeg_compress_struct& c = job.encoder.cinfo;
  c.err = jpeg_std_error(&job.encoder.err.pub);
  job.encoder.err.pub.error_exit = errorExit;
  job.encoder.err.pub.output_message = quietMessage;
  jpeg_create_compress(&c);
  job.encoder.created = true;
  jpeg_mem_dest(&c, &job.encoder.out, &job.encoder.outSize);
  c.image_width = JDIMENSION(job.source->Width());
  c.image_height = JDIMENSION(job.source->Height());
  c.input_components = 3;
  c.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, std::clamp(job.quality, 0, 100), TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    auto row = const_cast<JSAMPROW>(job.source->ScanLine(int(c.next_scanline)));
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
}

std::vector<uint8_t> encode24(const TDIB& source, int quality) {
  auto job = std::make_unique<EncodeJob>();
  job->source = &source;
  job->quality = quality;
  if (setjmp(job->encoder.err.jump)) throw EJPEG(job->encoder.err.message);
  runEncoder(*job);
  return std::vector<uint8_t>(job->encoder.out, job->encoder.out + job->encoder.outSize);
}

}  // namespace

std::vector<uint8_t> JpegEncode(const TDIB& image, int quality) {
  if (image.GetEmpty()) throw EJPEG("Cannot compress an empty picture");
  if (image.BitCount() == 24) return encode24(image, quality);
  TDIB converted(image.Width(), image.Height(), 24);
  SurfaceDrawWhole(converted, 0, 0, image);
  return encode24(converted, quality);
}

// --- TJPEGImage ---

TJPEGImage::TJPEGImage() = default;
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::SetWidth(int) {
  throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::SetHeight(int) {
  throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::LoadFromStream(TKwStream& stream) {
  const int64_t remaining = stream.Remaining();
  if (remaining < 0 || remaining > kMaxDIBBytes) throw EJPEG("JPEG data too large");
  std::vector<uint8_t> data(static_cast<size_t>(remaining));
  stream.ReadBuffer(data.data(), remaining);
  TDIB decoded;
  JpegDecode(data.data(), data.size(), decoded);
  bitmap_.Assign(decoded);
  data_ = std::move(data);
  dataValid_ = true;
  Changed();
}

void TJPEGImage::LoadFromMemory(const uint8_t* data, size_t size) {
  TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
  LoadFromStream(stream);
}

void TJPEGImage::Compress() {
  data_ = JpegEncode(bitmap_, CompressionQuality);
  dataValid_ = true;
}

const std::vector<uint8_t>& TJPEGImage::Data() {
  if (!dataValid_) Compress();
  return data_;
}

void TJPEGImage::SaveToStream(TKwStream& stream) {
  const std::vector<uint8_t>& data = Data();
  stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

void TJPEGImage::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&source)) {
    bitmap_.Assign(jpeg->bitmap_);
    data_ = jpeg->data_;
    dataValid_ = jpeg->dataValid_;
    CompressionQuality = jpeg->CompressionQuality;
    Changed();
    return;
  }
  TDIB bitmap;
  bitmap.Assign(source);
  if (bitmap.BitCount() != 24 && !bitmap.GetEmpty()) {
    TDIB converted(bitmap.Width(), bitmap.Height(), 24);
    SurfaceDrawWhole(converted, 0, 0, bitmap);
    bitmap_.Assign(converted);
  } else {
    bitmap_.Assign(bitmap);
  }
  data_.clear();
  dataValid_ = false;
  Changed();
}

bool TJPEGImage::AssignTo(TGraphic& dest) const {
  if (auto* dib = dynamic_cast<TDIB*>(&dest)) {
    dib->Assign(bitmap_);
    return true;
  }
  return false;
}

void TJPEGImage::Draw(TDIB& canvas, const TRect& rect) {
  bitmap_.Draw(canvas, rect);
}

}  // namespace zirk
