// Functions over device-independent bitmaps held in global memory (a handle to a packed
// DIB: header, colour table, bits): make, measure, convert, read and write BMP files,
// capture the screen, paint. Handles are pointer-sized; a null handle is the failure
// answer. Every DIB handed in is checked against its block's size before it is read.
#ifndef TW_TWCL_UI_DIBUTIL_H_
#define TW_TWCL_UI_DIBUTIL_H_

#include <cstdint>

#include "twcl/base/binary_file.h"
#include "twcl/ui/bitmap_data.h"
#include "twcl/ui/dib.h"
#include "twcl/ui/geometry.h"

using UI_DibHandle = void*;  // HGLOBAL

UI_DibHandle NewDIB(long width, long height, unsigned bits);
// 0 for a handle that holds no DIB.
long DIBWidth(UI_DibHandle dib);
long DIBHeight(UI_DibHandle dib);
long DIBColorCount(UI_DibHandle dib);
long DIBColorTableSize(UI_DibHandle dib);
long DIBBitCount(UI_DibHandle dib);

void* PaletteFromDIB(UI_DibHandle dib);                // HPALETTE; null without colours
void* BitmapFromDIB(UI_DibHandle dib, void* palette);  // HBITMAP
UI_DibHandle DIBFromBitmap(void* bitmap, void* palette);
int DeviceColorCount(void* dc);
void* SystemPaletteFromScreen();  // null on a screen without a palette
// A DIB with header and colour table for the bitmap at bits per pixel, grown to hold its
// pixels (not yet read).
UI_DibHandle AllocDIBForBitmap(void* bitmap, unsigned bits, std::uint32_t compression);
UI_DibHandle ConvertDIB(UI_DibHandle dib, unsigned bits, std::uint32_t compression);
UI_DibHandle ConvertBitmapToDIB(void* bitmap, unsigned bits, std::uint32_t compression,
                                void* palette);

// A BMP file as a DIB; a missing file reports "File Not Found!", a corrupt one the picture
// reader's warning; null either way.
UI_DibHandle ReadDIBFile(const char* name);
UI_DibHandle ReadDIBFromOpenFile(CL_BinaryFile& file);
// A DIB error code: 0 written (or not a 40-byte header, nothing written), 20 no DIB, 3 not
// lockable, 4 the file could not be written (nothing is left half-written under the name).
[[nodiscard]] int SaveDIBFile(UI_DibHandle dib, const char* name);
UI_DibHandle ReleaseDIB(UI_DibHandle dib);  // null
// The DIB as numbers (1, 4, 8 or 24 bits per pixel).
[[nodiscard]] bool DIBToData(UI_DibHandle dib, UI_BitmapData* out);

// Area 1 the whole window, 2 its client area; other areas and a null window give null.
UI_DibHandle WindowToDIB(void* window, int area);
void* WindowToBitmap(void* window, int area);
void* ScreenRectToBitmap(const UI_Rectangle& r);  // clipped to the screen; null when empty
UI_DibHandle ScreenRectToDIB(const UI_Rectangle& r);

bool BlitDIB(void* dc, const UI_Rectangle& dest, UI_DibHandle dib, const UI_Rectangle& src,
             void* palette);
bool BlitBitmap(void* dc, const UI_Rectangle& dest, void* bitmap, const UI_Rectangle& src,
                void* palette);

// Reports the error's text through the library's warning handler (the application shows it
// in a message box).
void DIBError(int code);

#endif  // TW_TWCL_UI_DIBUTIL_H_
