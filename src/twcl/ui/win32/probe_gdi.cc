// Probes of GDI objects, contexts and window scroll bars, for tests.
#include "twcl/ui/probe.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

UI_ProbeFontInfo UI_ProbeFont(void* font) {
  UI_ProbeFontInfo f;
  LOGFONTW lf = {};
  if (!font || GetObjectW(static_cast<HGDIOBJ>(font), sizeof lf, &lf) != sizeof lf) return f;
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
  if (!pen || GetObjectW(static_cast<HGDIOBJ>(pen), sizeof lp, &lp) != sizeof lp) return g;
  g.ok = true;
  g.style = lp.lopnStyle;
  g.width = lp.lopnWidth.x;
  g.color = lp.lopnColor;
  return g;
}

UI_ProbeGdiInfo UI_ProbeBrush(void* brush) {
  UI_ProbeGdiInfo g;
  LOGBRUSH lb = {};
  if (!brush || GetObjectW(static_cast<HGDIOBJ>(brush), sizeof lb, &lb) != sizeof lb) return g;
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
    s.enabled = !(sb.rgstate[0] & STATE_SYSTEM_UNAVAILABLE);
  }
  return s;
}
