// zirkimg: inspects and converts pictures with the player's own readers and
// writers. Layered images (".dor") go through the layered-image reader and
// writer; every other extension through the picture-format registry.
// Exit status: 0 on success, 1 when reading or writing fails (the error
// message on stderr, one line), 2 on wrong usage.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/streams.h"
#include "imaging/GIFImage.h"
#include "imaging/GIFImagePainter.h"
#include "imaging/KwPNG.h"
#include "imaging/dorvs.h"
#include "surfaces/graphics.h"

namespace {

using namespace zirk;

const char kUsage[] =
    "usage: zirkimg [--ident-code N] info FILE\n"
    "       zirkimg [--ident-code N] convert IN OUT\n"
    "       zirkimg [--ident-code N] dump IN OUT.pam [--frame N]\n"
    "  info     the format, the frames and per frame its size, bits, delay,\n"
    "           transparent colour and alpha plane\n"
    "  convert  by extension: reads .dor, .bmp, .jpg, .png, .gif; writes .dor, .bmp,\n"
    "           .png, .gif (all but .dor hold the first frame only)\n"
    "  dump     frame N (0 first) as a PAM file of RGB and alpha\n";

int usage(const std::string& why) {
  if (!why.empty()) std::cerr << "zirkimg: " << why << "\n";
  std::cerr << kUsage;
  return 2;
}

// Formats the tool reads and writes besides layered images.
void registerFormats(int32_t identCode) {
  RegisterDorvFormats([identCode] { return identCode; });
  RegisterKwPNG();
  RegisterGIFImage();
}

std::string extensionOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool parseInt(const std::string& text, int32_t& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

std::unique_ptr<TGraphic> graphicFor(const std::string& ext) {
  std::optional<TFileFormat> format = TPictureFormats::Instance().FindExtension(ext);
  if (!format) throw EInvalidGraphic("Unknown picture file extension \"." + ext + "\"");
  return format->Create();
}

// A GIF's frame N is the screen after its frames 0..N as the painter shows
// them; pixels no frame has covered have alpha 0. Frames are composed on one
// canvas only as far as `last` (all for a negative `last`), and the copies
// kept count against the picture's pixel budget like the composing itself.
void loadGifFrames(TGIFImage& gif, TDorvFrameList& list, int32_t last) {
  list.Clear();
  GIFComposeFrames(gif, last, [&](int index, const TDIBSurface& screen) {
    // 32-bit pixels and the alpha plane.
    gif.ReservePixels(int64_t{screen.Width()} * screen.Height() * 5);
    TDorvFrame* frame = list.AddFrame();
    frame->Image.Assign(screen);
    frame->Delay = GIFFrameDelay(gif.Images(index), false) * kGIFDelayUnitMs;
  });
}

void refuseEmpty(const std::string& path, const TDorvFrame& frame) {
  if (frame.Image.Width() == 0 || frame.Image.Height() == 0) {
    throw EInvalidGraphic(path + ": no pixel of the picture could be read");
  }
}

int32_t gifFrameCount(const TGIFImage& gif) {
  int32_t count = 0;
  for (int i = 0; i < gif.Count(); ++i)
    if (!gif.Images(i).Empty()) ++count;
  return count;
}

// Reads any supported picture into a frame list; returns the format name.
// A picture of no pixels is refused: nothing could be read of it.
// Of a GIF, only frames up to `last` are made; `frames` counts them all.
std::string loadPicture(const std::string& path, TDorvFrameList& list, int32_t last = -1,
                        int32_t* frames = nullptr) {
  const std::string ext = extensionOf(path);
  if (ext == "dor") {
    TKwMemoryStream data;
    data.LoadFromFile(path);
    LoadDorvStream(list, data, false);
    if (frames) *frames = list.Count();
    return "dor";
  }
  if (ext == "png") {
    TKwMemoryStream data;
    data.LoadFromFile(path);
    // Through a surface, so that alpha and the transparent colour come along.
    list.Clear();
    TDorvFrame* frame = list.AddFrame();
    bool truncated = false;
    frame->SetTransparentColor(ReadPNGSurface(frame->Image, data, &truncated));
    refuseEmpty(path, *frame);
    // Image data that ends early is shown as far as it goes; the rows never
    // read are blank.
    if (truncated) {
      std::cerr << "zirkimg: warning: " << path
                << ": the image data is cut short; the picture holds only what was read\n";
    }
    return ext;
  }
  if (ext == "gif") {
    TGIFImage gif;
    gif.LoadFromFile(path);
    loadGifFrames(gif, list, last);
    if (frames) *frames = gifFrameCount(gif);
    return ext;
  }
  std::unique_ptr<TGraphic> graphic = graphicFor(ext);
  graphic->LoadFromFile(path);
  list.Clear();
  TDorvFrame* frame = list.AddFrame();
  frame->Image.Assign(*graphic);
  refuseEmpty(path, *frame);
  return ext;
}

void savePicture(const std::string& path, const TDorvFrameList& list) {
  const std::string ext = extensionOf(path);
  if (ext == "dor") {
    list.SaveToFile(path);
    return;
  }
  const TDorvFrame* frame = list.GetFrame(0);
  if (!frame) throw EInvalidGraphic("The picture has no frames");
  if (ext == "png") {
    TKwFileStream file(path, TKwFileStream::Mode::Create);
    // A palette picture's key names its entry, which may share its colour.
    const bool byIndex = frame->Image.BitCount() <= 8 && frame->TransparentValue >= 0 &&
                         frame->TransparentColor >= 0;
    SavePNGSurface(frame->Image, file,
                   byIndex ? 0x01000000 + frame->TransparentValue : frame->TransparentColor);
    return;
  }
  std::unique_ptr<TGraphic> graphic = graphicFor(ext);
  graphic->Assign(frame->Image);
  graphic->SaveToFile(path);
}

std::string colorText(int32_t color) {
  if (color < 0) return "none";
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(color));
  return text;
}

void printFrame(int32_t index, int width, int height, int bits, int32_t delay, int32_t transparent,
                bool alpha) {
  std::cout << "frame " << index << ": " << width << "x" << height << ", " << bits
            << " bits, delay " << delay << " ms, transparent " << colorText(transparent)
            << ", alpha " << (alpha ? "yes" : "no") << "\n";
}

// Every composed GIF frame is a 32-bit screen with an alpha plane, so the
// list needs no composing.
void gifInfo(const std::string& path) {
  TGIFImage gif;
  gif.LoadFromFile(path);
  std::vector<const TGIFSubImage*> frames;
  for (int i = 0; i < gif.Count(); ++i) {
    if (!gif.Images(i).Empty()) frames.push_back(&gif.Images(i));
  }
  std::cout << "format: gif\nframes: " << frames.size() << "\n";
  for (size_t i = 0; i < frames.size(); ++i) {
    printFrame(int32_t(i), std::max(gif.GetWidth(), 1), std::max(gif.GetHeight(), 1), 32,
               GIFFrameDelay(*frames[i], false) * kGIFDelayUnitMs, -1, true);
  }
}

int info(const std::string& path, int32_t identCode) {
  if (extensionOf(path) == "gif") {
    gifInfo(path);
    return 0;
  }
  TDorvFrameList list(identCode);
  const std::string format = loadPicture(path, list);
  std::cout << "format: " << format;
  if (format == "dor") std::cout << ", version " << list.Version;
  std::cout << "\nframes: " << list.Count() << "\n";
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TDorvFrame& f = *list.GetFrame(i);
    printFrame(i, f.Image.Width(), f.Image.Height(), SurfaceBitCount(f.Image), f.Delay,
               f.TransparentColor, f.HasAlpha());
  }
  return 0;
}

// PAM (P7, RGB_ALPHA, 8 bits): alpha from the alpha plane, else 0 where the
// pixel is the transparent colour and 255 elsewhere.
// The key is the raw transparent pixel value, -1 for none.
void writePam(const std::string& path, const TDIBSurface& image, int64_t transparentValue) {
  const TDIBSurface* alpha = image.AlphaPlane();
  const bool keyed = transparentValue >= 0;
  const auto key = static_cast<uint32_t>(transparentValue);
  std::string header = "P7\nWIDTH " + std::to_string(image.Width()) + "\nHEIGHT " +
                       std::to_string(image.Height()) +
                       "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
  std::vector<uint8_t> row(static_cast<size_t>(image.Width()) * 4);
  TKwFileStream out(path, TKwFileStream::Mode::Create);
  out.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      const uint32_t raw = image.GetRawPixel(x, y);
      const uint32_t color = image.PixelToColor(raw);
      uint8_t* p = &row[static_cast<size_t>(x) * 4];
      p[0] = static_cast<uint8_t>(color);
      p[1] = static_cast<uint8_t>(color >> 8);
      p[2] = static_cast<uint8_t>(color >> 16);
      if (alpha && alpha->Width() == image.Width() && alpha->Height() == image.Height()) {
        p[3] = alpha->ScanLine(y)[x];
      } else {
        p[3] = keyed && raw == key ? 0 : 255;
      }
    }
    out.WriteBuffer(row.data(), static_cast<int64_t>(row.size()));
  }
}

[[noreturn]] void noSuchFrame(int32_t index, int32_t count) {
  const std::string which = count == 0   ? "no frames"
                            : count == 1 ? "frame 0 only"
                                         : "frames 0 to " + std::to_string(count - 1);
  throw EInvalidGraphic("frame " + std::to_string(index) + " does not exist; the picture has " +
                        which);
}

int dump(const std::string& in, const std::string& out, int32_t frameIndex, int32_t identCode) {
  if (extensionOf(in) == "gif") {
    // Written straight from the canvas, which holds frame N once N+1 are composed.
    TGIFImage gif;
    gif.LoadFromFile(in);
    int32_t composed = 0;
    GIFComposeFrames(gif, frameIndex, [&](int, const TDIBSurface& screen) {
      if (composed++ == frameIndex) writePam(out, screen, -1);
    });
    if (composed <= frameIndex) noSuchFrame(frameIndex, composed);
    return 0;
  }
  TDorvFrameList list(identCode);
  loadPicture(in, list);
  const TDorvFrame* frame = list.GetFrame(frameIndex);
  if (!frame) noSuchFrame(frameIndex, list.Count());
  const bool keyed = frame->TransparentColor >= 0 && frame->TransparentValue >= 0;
  writePam(out, frame->Image, keyed ? frame->TransparentValue : -1);
  return 0;
}

int convert(const std::string& in, const std::string& out, int32_t identCode) {
  TDorvFrameList list(identCode);
  // Only layered images keep more than the first frame.
  const bool allFrames = extensionOf(out) == "dor";
  int32_t frames = 1;
  loadPicture(in, list, allFrames ? -1 : 0, &frames);
  savePicture(out, list);
  if (!allFrames && frames > 1) {
    std::cerr << "zirkimg: warning: " << in << " has " << frames << " frames; " << out
              << " holds the first only (a .dor holds them all)\n";
  }
  return 0;
}

std::string oneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words;
  int32_t identCode = 0;
  int32_t frameIndex = 0;
  bool frameGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--ident-code" || arg == "--frame") {
      if (i + 1 >= argc) return usage(arg + " needs a number");
      int32_t& target = arg == "--frame" ? frameIndex : identCode;
      if (!parseInt(argv[++i], target)) return usage(arg + " needs a number");
      if (arg == "--frame") frameGiven = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return usage("unknown option " + arg);
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) return usage("");
  const std::string& command = words[0];
  const size_t expected = command == "info"                             ? 2
                          : (command == "convert" || command == "dump") ? 3
                                                                        : 0;
  if (expected == 0) return usage("unknown command " + command);
  if (words.size() != expected) return usage("wrong number of arguments for " + command);
  if (frameGiven && command != "dump") return usage("--frame belongs to dump");
  if (frameIndex < 0) return usage("--frame needs a number of 0 or more");
  if (command == "dump" && extensionOf(words[2]) != "pam")
    return usage("dump writes PAM: name a .pam file, not \"" + words[2] + "\"");

  registerFormats(identCode);
  std::error_code ec;
  if (std::filesystem::is_directory(words[1], ec)) {
    std::cerr << "zirkimg: " << words[1] << " is a folder, not a picture file\n";
    return 1;
  }
  try {
    if (command == "info") return info(words[1], identCode);
    if (command == "convert") return convert(words[1], words[2], identCode);
    return dump(words[1], words[2], frameIndex, identCode);
  } catch (const std::exception& e) {
    std::cerr << "zirkimg: " << oneLine(e.what()) << "\n";
    return 1;
  }
}
