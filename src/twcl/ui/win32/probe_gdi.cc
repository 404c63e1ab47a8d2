// Probes of GDI objects, contexts and window scroll bars, for tests.
#include "twcl/ui/probe.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

namespace {
// GetObject of a font, pen or brush; false for a handle that is none of the kind.
template <class T>
bool Read(void* object, T* out) {
  return object && GetObjectW(static_cast<HGDIOBJ>(object), sizeof *out, out) == sizeof *out;
}
}  // namespace

UI_ProbeFontInfo UI_ProbeFont(void* font) {
  UI_ProbeFontInfo f;
  LOGFONTW lf = {};
  if (!Read(font, &lf)) return f;
  f.ok = true;
  f.height = lf.lfHeight;
  f.weight = lf.lfWeight;
  f.italic = lf.lfItalic;
  f.underline = lf.lfUnderline;
  f.strikeout = lf.lfStrikeOut;
  f.face = Narrow(lf.lfFaceName, std::size_t(lstrlenW(lf.lfFaceName)));
  return f;
}

UI_ProbeGdiInfo UI_ProbePen(void* pen) {
  UI_ProbeGdiInfo g;
  LOGPEN lp = {};
  if (!Read(pen, &lp)) return g;
  g.ok = true;
  g.style = lp.lopnStyle;
  g.width = lp.lopnWidth.x;
  g.color = lp.lopnColor;
  return g;
}

UI_ProbeGdiInfo UI_ProbeBrush(void* brush) {
  UI_ProbeGdiInfo g;
  LOGBRUSH lb = {};
  if (!Read(brush, &lb)) return g;
  g.ok = true;
  g.style = lb.lbStyle;
  g.width = long(lb.lbHatch);
  g.color = lb.lbColor;
  return g;
}

void* UI_ProbeSelected(void* dc, int kind) {
  return GetCurrentObject(static_cast<HDC>(dc), UINT(kind));
}

std::uint32_t UI_ProbeTextColor(void* dc) {
  return GetTextColor(static_cast<HDC>(dc));
}
std::uint32_t UI_ProbeBkColor(void* dc) {
  return GetBkColor(static_cast<HDC>(dc));
}
std::uint32_t UI_ProbeSysColor(int index) {
  return GetSysColor(index);
}

void* UI_ProbeCursor() {
  return GetCursor();
}

std::intptr_t UI_ProbeDefaultAnswer(UI_NativeHandle window, std::uint32_t msg, std::uintptr_t wp,
                                    std::intptr_t lp) {
  return DefWindowProcW(Hwnd(window), msg, wp, lp);
}

void* UI_ProbeMemoryDc() {
  return CreateCompatibleDC(nullptr);
}
void UI_ProbeFreeDc(void* dc) {
  DeleteDC(static_cast<HDC>(dc));
}

long UI_ProbePixelsPerInch() {
  HDC screen = GetDC(nullptr);
  long ppi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return ppi;
}

UI_ProbeScrollInfo UI_ProbeWindowScroll(UI_NativeHandle window, bool vertical) {
  UI_ProbeScrollInfo s;
  HWND h = Hwnd(window);
  SCROLLINFO si = {};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_POS;
  if (GetScrollInfo(h, vertical ? SB_VERT : SB_HORZ, &si)) {
    s.low = si.nMin;
    s.high = si.nMax;
    s.position = si.nPos;
  }
  SCROLLBARINFO sb = {};
  sb.cbSize = sizeof sb;
  if (GetScrollBarInfo(h, vertical ? OBJID_VSCROLL : OBJID_HSCROLL, &sb)) {
    s.shown = !(sb.rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN));
    // A disabled bar shows as unavailable arrows (elements 1 and 5).
    s.enabled = !((sb.rgstate[0] | sb.rgstate[1] | sb.rgstate[5]) & STATE_SYSTEM_UNAVAILABLE);
  }
  return s;
}
