#include "ui/ui_fonts.h"

#include "package/LaunchSettings.h"
#include "package/languages.h"
#include "package/load_string.h"
#include "support/process_state.h"

namespace ui {

HFONT create_language_font(const LaunchSettings& settings, const std::wstring& face, int points, int weight) {
  lang::DialogFontSpec spec = dialog_font(settings, settings.ui_language);
  std::wstring name = face.empty() ? spec.face : face;
  int size = points > 0 ? points : spec.size;
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  LOGFONTW lf = {};
  lf.lfHeight = -MulDiv(size, dpi, 72);
  lf.lfWeight = weight;
  lf.lfCharSet = language_charset(settings.ui_language);
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  // LOGFONT holds 31 characters and a terminator; a longer face is cut.
  lstrcpynW(lf.lfFaceName, name.c_str(), LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

std::wstring window_font_face(HWND window) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  LOGFONTW lf = {};
  if (!font || GetObjectW(font, sizeof lf, &lf) == 0) return std::wstring();
  lf.lfFaceName[LF_FACESIZE - 1] = 0;
  return lf.lfFaceName;
}

namespace {

BOOL CALLBACK set_font_proc(HWND child, LPARAM font) {
  SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
  return TRUE;
}

}  // namespace

void set_font_on_tree(HWND window, HFONT font) {
  if (!font) return;
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  EnumChildWindows(window, set_font_proc, reinterpret_cast<LPARAM>(font));
}

HINSTANCE launcher_instance() { return qzproc::module() ? qzproc::module() : GetModuleHandleW(nullptr); }

}  // namespace ui
