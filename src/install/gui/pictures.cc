// The wizard's pictures, drawn once from a few shapes, and the font size rule.
#include "pictures.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tw::install::gui {
namespace {

// The shared palette: the sixteen colours of the standard VGA set.
constexpr std::uint8_t kPalette[16 * 3] = {
    0,   0,   0,   128, 0,   0,   0,   128, 0,   128, 128, 0,   0,   0,   128, 128, 0,   128,
    0,   128, 128, 192, 192, 192, 128, 128, 128, 255, 0,   0,   0,   255, 0,   255, 255, 0,
    0,   0,   255, 255, 0,   255, 0,   255, 255, 255, 255, 255};
enum : std::uint32_t { kBlack = 0, kDarkRed = 1, kDarkGreen = 2, kNavy = 4, kTeal = 6,
                       kSilver = 7, kGrey = 8, kRed = 9, kGreen = 10, kYellow = 11, kBlue = 12,
                       kWhite = 15 };

class Canvas {
 public:
  Canvas() : px_(size_t(kPictureWidth) * kPictureHeight, kSilver) {}
  void Fill(int x, int y, int w, int h, std::uint32_t c) {
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i) Put(i, j, c);
  }
  void Frame(int x, int y, int w, int h, std::uint32_t c) {
    Fill(x, y, w, 1, c);
    Fill(x, y + h - 1, w, 1, c);
    Fill(x, y, 1, h, c);
    Fill(x + w - 1, y, 1, h, c);
  }
  // A tower computer with its drive slots.
  void Server(int x, int y, std::uint32_t body) {
    Fill(x, y, 16, 30, body);
    Frame(x, y, 16, 30, kBlack);
    for (int k = 0; k < 3; ++k) Fill(x + 3, y + 4 + 5 * k, 10, 2, kGrey);
    Fill(x + 11, y + 24, 2, 2, kGreen);
  }
  // A screen on a foot.
  void Client(int x, int y) {
    Fill(x, y, 26, 18, kGrey);
    Frame(x, y, 26, 18, kBlack);
    Fill(x + 3, y + 3, 20, 12, kTeal);
    Fill(x + 10, y + 18, 6, 4, kGrey);
    Fill(x + 6, y + 22, 14, 3, kBlack);
  }
  void Plus(int x, int y, std::uint32_t c) {
    Fill(x, y + 4, 11, 3, c);
    Fill(x + 4, y, 3, 11, c);
  }
  void Minus(int x, int y, std::uint32_t c) { Fill(x, y + 4, 11, 3, c); }
  void Cross(int x, int y, std::uint32_t c) {
    for (int k = 0; k < 12; ++k) {
      Fill(x + k, y + k, 2, 2, c);
      Fill(x + 11 - k, y + k, 2, 2, c);
    }
  }
  void Arrow(int x, int y, std::uint32_t c) {
    Fill(x, y + 4, 14, 3, c);
    for (int k = 0; k < 6; ++k) Fill(x + 14 + k, y + k, 1, 11 - 2 * k, c);
  }
  UI_BitmapData Data() const {
    return UI_BitmapData(kPictureWidth, kPictureHeight, 4, 16, kPalette, px_.data());
  }

 private:
  void Put(int x, int y, std::uint32_t c) {
    if (x >= 0 && y >= 0 && x < kPictureWidth && y < kPictureHeight)
      px_[size_t(y) * kPictureWidth + size_t(x)] = c;
  }
  std::vector<std::uint32_t> px_;
};

UI_BitmapData Draw(WizardPicture which) {
  Canvas c;
  switch (which) {
    case WizardPicture::newCluster:
      c.Server(6, 7, kSilver);
      c.Server(24, 7, kSilver);
      c.Server(42, 7, kWhite);
      c.Plus(60, 16, kGreen);
      break;
    case WizardPicture::addServer:
      c.Server(20, 7, kWhite);
      c.Plus(44, 16, kGreen);
      break;
    case WizardPicture::addClient:
      c.Client(14, 8);
      c.Plus(48, 16, kGreen);
      break;
    case WizardPicture::removeCluster:
      c.Server(6, 7, kSilver);
      c.Server(24, 7, kSilver);
      c.Server(42, 7, kSilver);
      c.Cross(28, 14, kRed);
      break;
    case WizardPicture::removeServer:
      c.Server(20, 7, kWhite);
      c.Minus(44, 16, kDarkRed);
      break;
    case WizardPicture::removeClient:
      c.Client(14, 8);
      c.Minus(48, 16, kDarkRed);
      break;
    case WizardPicture::migrate:
      c.Fill(6, 12, 18, 22, kYellow);
      c.Frame(6, 12, 18, 22, kBlack);
      c.Arrow(28, 17, kNavy);
      c.Fill(52, 12, 18, 22, kBlue);
      c.Frame(52, 12, 18, 22, kBlack);
      break;
  }
  return c.Data();
}

}  // namespace

const UI_BitmapData& WizardPictureData(WizardPicture which) {
  static const std::array<UI_BitmapData, 7> pictures = {
      Draw(WizardPicture::newCluster),    Draw(WizardPicture::addServer),
      Draw(WizardPicture::addClient),     Draw(WizardPicture::removeCluster),
      Draw(WizardPicture::removeServer),  Draw(WizardPicture::removeClient),
      Draw(WizardPicture::migrate)};
  return pictures[size_t(which)];
}

short WizardFontSize(const std::function<long(short)>& widthAt) {
  long width = 0;
  short size = 2;
  while (width < 415 && size < 24) {
    width = widthAt(size);
    ++size;
  }
  return size < 24 ? short(size - 2) : 0;
}

}  // namespace tw::install::gui
