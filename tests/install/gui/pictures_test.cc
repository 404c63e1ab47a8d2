// The choice pictures and the rule that picks the wizard's font size.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "pictures.h"

namespace {

namespace gui = tw::install::gui;

TEST(WizardPictures, SeventyFourBySixteenColoursSharingOnePalette) {
  const gui::WizardPicture all[] = {
      gui::WizardPicture::newCluster,   gui::WizardPicture::addServer,
      gui::WizardPicture::addClient,    gui::WizardPicture::removeCluster,
      gui::WizardPicture::removeServer, gui::WizardPicture::removeClient,
      gui::WizardPicture::migrate};
  const UI_BitmapData& first = gui::WizardPictureData(all[0]);
  std::set<std::vector<std::uint32_t>> distinct;
  for (gui::WizardPicture p : all) {
    const UI_BitmapData& d = gui::WizardPictureData(p);
    EXPECT_EQ(d.Width(), 74);
    EXPECT_EQ(d.Height(), 44);
    EXPECT_EQ(d.BitCount(), 4);
    ASSERT_EQ(d.ColorCount(), 16);
    EXPECT_EQ(0, std::memcmp(d.ColorTable(), first.ColorTable(), 48));
    for (std::uint32_t v : d.Pixels()) ASSERT_LT(v, 16u);
    // A BMP file holds it.
    EXPECT_FALSE(d.ToBmp().empty());
    distinct.insert(d.Pixels());
  }
  EXPECT_EQ(distinct.size(), std::size(all));
}

TEST(WizardPictures, FontSizeIsTheLargestWhoseLineStaysNarrower) {
  struct Case {
    long perPoint;  // the line's width per point of size
    short size;
  } cases[] = {
      {40, 10},  // 10 pt: 400 < 415; 11 pt: 440
      {41, 10},  // 410 at 10 pt
      {415, 1},  // even 2 pt reaches it: the size before
      {20, 20},  // 400 at 20, 420 at 21
      {19, 21},  // 399 at 21, 418 at 22
      {18, 0},   // 414 at 23 points, the last tried: the default font stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.perPoint);
    short got = gui::WizardFontSize([&](short points) { return c.perPoint * points; });
    EXPECT_EQ(got, c.size);
  }
}

}  // namespace
