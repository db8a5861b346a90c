// Fonts of the launcher's dialogs: the language's dialog face and size in the
// character set of the current language.
#pragma once
#include <windows.h>

#include <string>

#include "support/handles.h"

struct LaunchSettings;

namespace ui {

// Owns one font handle; deleted with the object. The base of the dialogs that
// keep a font of their own.
class CFontMixin {
 public:
  CFontMixin() = default;
  virtual ~CFontMixin() = default;
  CFontMixin(const CFontMixin&) = delete;
  CFontMixin& operator=(const CFontMixin&) = delete;

  HFONT font() const { return font_.get(); }
  void reset(HFONT font) { font_.reset(font); }

 private:
  qz::gdi_object<HFONT> font_;
};

// A font of `points` at the screen's vertical resolution. An empty face takes the
// language's dialog face, points 0 its dialog size.
HFONT create_language_font(const LaunchSettings& settings, const std::wstring& face = std::wstring(), int points = 0,
                           int weight = FW_NORMAL);
// The face of the font a window draws with (empty when it has none).
std::wstring window_font_face(HWND window);
// The font on the window and every descendant.
void set_font_on_tree(HWND window, HFONT font);

// The launcher's module (for its templates and icons).
HINSTANCE launcher_instance();

}  // namespace ui
