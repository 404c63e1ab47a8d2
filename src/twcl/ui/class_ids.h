// Class ids of the visual classes (the foundation's end below 200).
#ifndef TW_TWCL_UI_CLASS_IDS_H_
#define TW_TWCL_UI_CLASS_IDS_H_

#include "twcl/base/class_ids.h"

inline constexpr CL_Long UI_ClassId_EventBinding1 = 202;
inline constexpr CL_Long UI_ClassId_Color = 204;
inline constexpr CL_Long UI_ClassId_Point = 210;
inline constexpr CL_Long UI_ClassId_Rectangle = 211;
inline constexpr CL_Long UI_ClassId_Ellipse = 212;
inline constexpr CL_Long UI_ClassId_LineSegment = 213;
inline constexpr CL_Long UI_ClassId_FontDesc = 220;
inline constexpr CL_Long UI_ClassId_PenDescriptor = 221;
inline constexpr CL_Long UI_ClassId_BrushDescriptor = 222;
inline constexpr CL_Long UI_ClassId_FontInfo = 240;
inline constexpr CL_Long UI_ClassId_FontEntry = 241;
inline constexpr CL_Long UI_ClassId_Font = 242;
inline constexpr CL_Long UI_ClassId_Pen = 243;
inline constexpr CL_Long UI_ClassId_Brush = 244;
inline constexpr CL_Long UI_ClassId_DialogEvent = 265;

#endif  // TW_TWCL_UI_CLASS_IDS_H_
