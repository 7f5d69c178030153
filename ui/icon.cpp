// The tool's own icon, drawn here rather than shipped as a picture: a blue water drop with two
// white wave crests and a highlight, 48 x 48 pixels at 32 bits with alpha, serialised as an
// icon file. Everything is integer arithmetic, so every compiler produces the same bytes; the
// Windows resource file carries a copy of these bytes (assets/tidewell.ico).
#include <array>
#include <cstdint>

#include "ui/layout.h"

namespace tw {
namespace {

constexpr int kSize = 48;
constexpr int kSub = 8;  // coordinates in eighths of a pixel
constexpr int kSamplesPerAxis = 4;

struct Rgb {
  int r, g, b;
};

// The drop: a circle with a cone up to the tip, cut off where the cone touches the circle.
bool InDrop(std::int64_t x, std::int64_t y) {
  constexpr std::int64_t cx = 24 * kSub, cy = 30 * kSub, r = 16 * kSub;
  constexpr std::int64_t tipY = 3 * kSub;
  constexpr std::int64_t d = cy - tipY;
  const std::int64_t dx = x - cx;
  if (dx * dx + (y - cy) * (y - cy) <= r * r) return true;
  const std::int64_t dy = y - tipY;
  if (dy <= 0 || dy * d > d * d - r * r) return false;
  return dy * dy * d * d >= (dx * dx + dy * dy) * (d * d - r * r);
}

// A wave crest around `baseY` (eighths): half-period arcs alternating up and down, repeating
// every 16 pixels.
bool OnWave(std::int64_t x, std::int64_t y, std::int64_t baseY, std::int64_t phase) {
  constexpr std::int64_t period = 16 * kSub;
  const std::int64_t s = (x + phase) % period;
  const std::int64_t u = s % (period / 2) - period / 4;
  const std::int64_t bump = (period * period / 16 - u * u) / 48;
  const std::int64_t crest = baseY + (s < period / 2 ? -bump : bump);
  const std::int64_t off = y - crest;
  return off >= -6 && off <= 6;
}

bool InHighlight(std::int64_t x, std::int64_t y) {
  constexpr std::int64_t hx = 17 * kSub, hy = 19 * kSub, rx = 3 * kSub, ry = 5 * kSub;
  const std::int64_t dx = x - hx, dy = y - hy;
  return dx * dx * ry * ry + dy * dy * rx * rx <= rx * rx * ry * ry;
}

Rgb Mix(Rgb a, Rgb b, int percentB) {
  return {(a.r * (100 - percentB) + b.r * percentB) / 100,
          (a.g * (100 - percentB) + b.g * percentB) / 100,
          (a.b * (100 - percentB) + b.b * percentB) / 100};
}

Rgb SampleColour(std::int64_t x, std::int64_t y) {
  constexpr Rgb top{120, 200, 255}, bottom{10, 80, 190}, white{255, 255, 255};
  Rgb c = Mix(top, bottom, static_cast<int>(y * 100 / (kSize * kSub)));
  if (OnWave(x, y, 30 * kSub, 0) || OnWave(x, y, 37 * kSub, 32)) c = Mix(c, white, 75);
  if (InHighlight(x, y)) c = Mix(c, white, 60);
  return c;
}

void Put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

Bytes Draw() {
  // BGRA pixels top-down; the file stores them bottom-up.
  std::array<std::array<std::uint8_t, 4>, kSize * kSize> px{};
  for (int py = 0; py < kSize; ++py) {
    for (int pxX = 0; pxX < kSize; ++pxX) {
      int n = 0, r = 0, g = 0, b = 0;
      for (int sy = 0; sy < kSamplesPerAxis; ++sy) {
        for (int sx = 0; sx < kSamplesPerAxis; ++sx) {
          const std::int64_t x = pxX * kSub + sx * 2 + 1;
          const std::int64_t y = py * kSub + sy * 2 + 1;
          if (!InDrop(x, y)) continue;
          const Rgb c = SampleColour(x, y);
          ++n;
          r += c.r;
          g += c.g;
          b += c.b;
        }
      }
      auto& p = px[py * kSize + pxX];
      if (n == 0) continue;
      p = {static_cast<std::uint8_t>(b / n), static_cast<std::uint8_t>(g / n),
           static_cast<std::uint8_t>(r / n), static_cast<std::uint8_t>((n * 255 + 8) / 16)};
    }
  }

  constexpr std::uint32_t kXorBytes = kSize * kSize * 4;
  constexpr std::uint32_t kAndRow = 8;  // 48 bits padded to a multiple of 4 bytes
  constexpr std::uint32_t kImageBytes = 40 + kXorBytes + kSize * kAndRow;
  Bytes out;
  out.reserve(6 + 16 + kImageBytes);
  // ICONDIR: reserved, type 1 (icon), one image.
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, 1);
  // ICONDIRENTRY: 48 x 48, no palette, 1 plane, 32 bpp, size, offset.
  out.push_back(kSize);
  out.push_back(kSize);
  out.push_back(0);
  out.push_back(0);
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, kImageBytes);
  Put32(out, 6 + 16);
  // BITMAPINFOHEADER: the height counts the colour image and the mask together.
  Put32(out, 40);
  Put32(out, kSize);
  Put32(out, kSize * 2);
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, 0);  // BI_RGB
  Put32(out, kXorBytes + kSize * kAndRow);
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  for (int row = kSize - 1; row >= 0; --row) {
    for (int col = 0; col < kSize; ++col) {
      const auto& p = px[row * kSize + col];
      out.insert(out.end(), p.begin(), p.end());
    }
  }
  // AND mask: 1 where the pixel is fully transparent, for readers that ignore alpha.
  for (int row = kSize - 1; row >= 0; --row) {
    std::array<std::uint8_t, kAndRow> bits{};
    for (int col = 0; col < kSize; ++col) {
      if (px[row * kSize + col][3] == 0)
        bits[col / 8] |= static_cast<std::uint8_t>(0x80 >> (col % 8));
    }
    out.insert(out.end(), bits.begin(), bits.end());
  }
  return out;
}

}  // namespace

const Bytes& TidewellIcon() {
  static const Bytes icon = Draw();
  return icon;
}

}  // namespace tw
