#include "support/filmwriter.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace zirk::test {

namespace {

class Bytes {
 public:
  void byte(uint8_t v) { s_.push_back(static_cast<char>(v)); }
  void i32(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) byte(static_cast<uint8_t>(u >> (8 * k)));
  }
  void f64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    for (int k = 0; k < 8; ++k) byte(static_cast<uint8_t>(u >> (8 * k)));
  }
  void point(FilmPoint p) {
    i32(p.x);
    i32(p.y);
  }
  void str(const std::string& v) {
    i32(static_cast<int32_t>(v.size()));
    s_ += v;
  }
  void raw(const std::string& v) { s_ += v; }
  std::string take() { return std::move(s_); }

 private:
  std::string s_;
};

// Times before version 107 were 1/30 s.
int32_t fileTime(int32_t ticks, int32_t version) {
  return version < 107 ? ticks / 2 : ticks;
}

void clipBlock(Bytes& b, const FilmTrack& t) {
  b.point(t.clipPositionFrom);
  b.point(t.clipSizeFrom);
  b.point(t.clipPositionTo);
  b.point(t.clipSizeTo);
  b.byte(t.clipXEasing);
  b.byte(t.clipYEasing);
}

void imagePart(Bytes& b, const FilmTrack& t, int32_t version) {
  b.point(t.anchor);
  b.point(t.positionFrom);
  b.point(t.positionTo);
  b.byte(t.positionXEasing);
  b.byte(t.positionYEasing);
  b.i32(t.rotationFrom);
  b.i32(t.rotationTo);
  b.f64(t.scaleXFrom);
  b.f64(t.scaleXTo);
  b.byte(t.scaleXEasing);
  b.i32(t.alphaFrom);
  b.i32(t.alphaTo);
  b.byte(t.rotationEasing);
  if (version >= 101) clipBlock(b, t);
  if (version >= 105) {
    b.f64(t.scaleYFrom);
    b.f64(t.scaleYTo);
    b.byte(t.scaleYEasing);
  }
}

void imageRecord(Bytes& b, const FilmTrack& t, int32_t version) {
  imagePart(b, t, version);
  b.str(t.source);
}

void boxRecord(Bytes& b, const FilmTrack& t, int32_t version) {
  b.point(t.positionFrom);
  b.point(t.positionTo);
  b.byte(t.positionXEasing);
  b.byte(t.positionYEasing);
  b.i32(t.alphaFrom);
  b.i32(t.alphaTo);
  b.i32(t.widthFrom);
  b.i32(t.heightFrom);
  b.i32(t.widthTo);
  b.i32(t.heightTo);
  b.i32(t.colorFrom);
  b.i32(t.colorTo);
  b.i32(t.borderWidthFrom);
  b.i32(t.borderWidthTo);
  b.i32(t.borderColorFrom);
  b.i32(t.borderColorTo);
  if (version >= 101) clipBlock(b, t);
}

void labelRecord(Bytes& b, const FilmTrack& t, int32_t version) {
  imagePart(b, t, version);
  b.str(t.text);
  b.byte(t.antialias);
  b.str(t.fontName);
  b.i32(t.fontHeight);
  b.i32(t.lineSpace);
  b.byte(t.fontStyle);
  b.i32(t.fontColor);
  if (version >= 103) b.byte(t.hAlign);
}

// The rectangle of particle and fire tracks: corners, size and clip.
void rectPart(Bytes& b, const FilmTrack& t) {
  b.point(t.positionFrom);
  b.point(t.positionTo);
  b.byte(t.positionXEasing);
  b.byte(t.positionYEasing);
  b.i32(t.widthFrom);
  b.i32(t.heightFrom);
  b.i32(t.widthTo);
  b.i32(t.heightTo);
  clipBlock(b, t);
}

void particleRecord(Bytes& b, const FilmTrack& t) {
  b.str(t.source);
  b.byte(t.partMotion);
  b.i32(t.index);
  for (int32_t v :
       {t.intervalFrom, t.intervalTo, t.spreadFrom, t.spreadTo, t.value1From, t.value2From,
        t.value1To, t.value2To, t.range1From, t.range2From, t.range1To, t.range2To})
    b.i32(v);
  b.byte(t.value1Easing);
  b.byte(t.value2Easing);
  for (double v : {t.param1From, t.param2From, t.param3From, t.param1To, t.param2To, t.param3To})
    b.f64(v);
  rectPart(b, t);
  b.i32(t.alphaFrom);
  b.i32(t.alphaTo);
}

void fireRecord(Bytes& b, const FilmTrack& t) {
  rectPart(b, t);
  for (double v : {t.zoomXFrom, t.zoomYFrom, t.zoomXTo, t.zoomYTo}) b.f64(v);
  b.byte(t.zoomXEasing);
  b.byte(t.zoomYEasing);
  b.i32(t.power);
}

}  // namespace

std::string WriteFilmTrack(const FilmTrack& t, int32_t version) {
  Bytes b;
  b.i32(t.parent);
  b.i32(fileTime(t.length, version));
  b.i32(t.reserved);
  b.i32(fileTime(t.start, version));
  b.i32(fileTime(t.loopLength, version));
  b.i32(t.priority);
  b.byte(t.flipH);
  b.byte(t.flipV);
  b.byte(t.otherScreen);
  switch (t.type & 0x7F) {
    case 0:
      imageRecord(b, t, version);
      break;
    case 5:
      imageRecord(b, t, version);
      b.i32(t.widthFrom);
      b.i32(t.heightFrom);
      b.i32(t.widthTo);
      b.i32(t.heightTo);
      b.i32(t.scrollXFrom);
      b.i32(t.scrollYFrom);
      b.i32(t.scrollXTo);
      b.i32(t.scrollYTo);
      b.byte(t.scrollXEasing);
      b.byte(t.scrollYEasing);
      b.i32(t.distanceX);
      b.i32(t.distanceY);
      if (version >= 101) clipBlock(b, t);
      break;
    case 1:
      labelRecord(b, t, version);
      break;
    case 2:
      boxRecord(b, t, version);
      break;
    case 6:
      particleRecord(b, t);
      break;
    case 7:
      fireRecord(b, t);
      break;
    case 3:
      b.byte(t.wipeKind);
      if (version >= 101) {
        b.str(t.mask);
        b.i32(t.param0);
        b.i32(t.param1);
        b.byte(t.wipeFlag);
      }
      break;
    default:
      break;
  }
  b.raw(t.raw);
  return b.take();
}

std::string WriteFilmFile(const FilmFile& f) {
  Bytes b;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", f.version % 1000);
  b.raw((f.kind + std::string(10, ' ')).substr(0, 10) + digits);
  b.i32(f.width);
  b.i32(f.height);
  b.i32(f.color);
  if (f.version >= 102) b.byte(f.relative);
  if (f.version >= 104) b.point(f.origin);
  if (f.version >= 106) b.i32(fileTime(f.loopStart, f.version));
  b.i32(static_cast<int32_t>(f.tracks.size()));
  for (const FilmTrack& t : f.tracks) {
    b.byte(t.type);
    b.raw(WriteFilmTrack(t, f.version));
  }
  return b.take();
}

bool SaveFilmFile(const FilmFile& film, const std::string& hostPath) {
  std::ofstream out(hostPath, std::ios::binary);
  std::string bytes = WriteFilmFile(film);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace zirk::test

namespace zirk::test {

FilmTrack SoundTrack(const FilmSound& sound, int32_t start, int32_t length) {
  FilmTrack t;
  t.type = 4;
  t.start = start;
  t.length = length;
  Bytes b;
  b.str(sound.file);
  b.i32(sound.volumeFrom);
  b.i32(sound.volumeTo);
  b.i32(sound.balanceFrom);
  b.i32(sound.balanceTo);
  b.byte(sound.volumeEasing);
  b.byte(sound.balanceEasing);
  t.raw = b.take();
  return t;
}

}  // namespace zirk::test
