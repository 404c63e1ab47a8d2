// The wizard's pictures and the choice of its font size: plain C++, so the sanitizer build
// covers them.
#ifndef TW_INSTALL_GUI_PICTURES_H_
#define TW_INSTALL_GUI_PICTURES_H_

#include <functional>

#include "twcl/ui/bitmap_data.h"

namespace tw::install::gui {

// The pictures of the choice buttons: 74 x 44 pixels, 16 colours, one shared palette.
enum class WizardPicture { newCluster, addServer, addClient, removeCluster, removeServer,
                           removeClient, migrate };
inline constexpr short kPictureWidth = 74, kPictureHeight = 44;
// Built once, kept until the program ends.
const UI_BitmapData& WizardPictureData(WizardPicture which);

// The point size for the dialog: sizes from 2 up are tried until widthAt(size), the widest
// line of the pages in the chosen face, reaches 415 pixels; the answer is the size before
// that one. 0 when even 23 points stay narrower, which leaves the dialog its default font.
[[nodiscard]] short WizardFontSize(const std::function<long(short)>& widthAt);

}  // namespace tw::install::gui

#endif  // TW_INSTALL_GUI_PICTURES_H_
