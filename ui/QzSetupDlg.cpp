#include "ui/QzSetupDlg.h"

#include <commctrl.h>

#include <vector>

#include "package/LaunchSettings.h"
#include "package/dialog_factory.h"
#include "package/languages.h"
#include "package/load_string.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/error_codes.h"
#include "support/handles.h"
#include "support/message_pump.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"
#include "ui/ui_fonts.h"

static const wchar_t kLogSource[] = L"ui\\QzSetupDlg";

namespace {

constexpr int kHeading = 1006;
constexpr int kMainText = 1001;
constexpr int kStatusText = 1003;
constexpr int kProgressBar = 301;
constexpr int kDetailText1 = 1004;
constexpr int kDetailText2 = 1005;
constexpr int kHiddenText1 = 1020;
constexpr int kHiddenText2 = 1021;
constexpr int kPicture = 1033;
constexpr UINT_PTR kTimerId = 1001;
constexpr UINT kTimerPeriodMs = 250;
constexpr int kSplashTemplate = 108;
constexpr unsigned kTextOk = 1130;
constexpr unsigned kTextCancel = 1131;
constexpr unsigned kTextPreparingInstall = 1624;
constexpr unsigned kTextPreparingUninstall = 2160;
const wchar_t kPictureClass[] = L"qz_gif_class";

// One dialog per process.
struct DialogState {
  HWND dialog = nullptr;
  Session* session = nullptr;
  bool large = false;
  bool compact = false;
  DWORD start_tick = 0;
  int step = 0;
  bool paused = false;
  qz::gdi_object<HFONT> dialog_font;
  qz::gdi_object<HFONT> heading_font;
  qz::gdi_object<HFONT> body_font;
  qz::gdi_object<HBRUSH> white;
  int white_bottom = 0;  // client y where the white band ends
  HWND splash = nullptr;
  qz::gdi_object<HBITMAP> splash_bitmap;
  qz::gdi_object<HPALETTE> splash_palette;
  bool splash_shown = false;
};
DialogState g;

const LaunchSettings& settings_of(Session* session) {
  static const LaunchSettings blank;
  if (session) return session->settings();
  return qzproc::settings() ? *qzproc::settings() : blank;
}

// The stand-in for the animated picture: the launcher's icon on white.
LRESULT CALLBACK picture_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT r;
    GetClientRect(window, &r);
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HICON icon = static_cast<HICON>(LoadImageW(ui::launcher_instance(), MAKEINTRESOURCEW(100), IMAGE_ICON, 48, 48, 0));
    if (icon) {
      DrawIconEx(dc, (r.right - 48) / 2, (r.bottom - 48) / 2, icon, 48, 48, 0, nullptr, DI_NORMAL);
      DestroyIcon(icon);
    }
    EndPaint(window, &ps);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void register_window_classes() {
  qz::init_common_controls(ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES);
  WNDCLASSW wc = {};
  if (GetClassInfoW(ui::launcher_instance(), kPictureClass, &wc)) return;
  wc.lpfnWndProc = picture_proc;
  wc.hInstance = ui::launcher_instance();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kPictureClass;
  RegisterClassW(&wc);
}

bool contains_ci(const std::wstring& text, const std::wstring& part) {
  if (part.empty() || text.size() < part.size()) return false;
  for (size_t i = 0; i + part.size() <= text.size(); ++i)
    if (wide_iequals(std::wstring_view(text).substr(i, part.size()), part)) return true;
  return false;
}

void set_control_font(HWND dialog, int id, HFONT font) {
  if (font) SendDlgItemMessageW(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void init_dialog(HWND dialog, Session* session) {
  const LaunchSettings& s = settings_of(session);
  g.dialog = dialog;
  g.session = session;
  g.dialog_font.reset(ui::create_language_font(s));
  SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(g.dialog_font.get()), FALSE);
  SetWindowTextW(dialog, wizard_caption(s, false).c_str());
  SetTimer(dialog, kTimerId, kTimerPeriodMs, nullptr);
  HWND bar = GetDlgItem(dialog, kProgressBar);
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  SendMessageW(bar, PBM_SETSTEP, 5, 0);  // twenty timer steps: the first five seconds
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  if (session) session->attach_status_window(GetDlgItem(dialog, kMainText), GetDlgItem(dialog, kStatusText));
  SetDlgItemTextW(dialog, IDCANCEL, load_string(s, kTextCancel).c_str());
  SetDlgItemTextW(dialog, IDOK, load_string(s, kTextOk).c_str());
  set_control_font(dialog, IDCANCEL, g.dialog_font.get());
  set_control_font(dialog, IDOK, g.dialog_font.get());
  static const int kBodyControls[] = {kMainText, kStatusText, kDetailText1, kDetailText2};
  if (g.large) {
    std::wstring face = g.compact ? std::wstring(L"Tahoma") : ui::window_font_face(GetDlgItem(dialog, kHeading));
    g.heading_font.reset(ui::create_language_font(s, face.empty() ? L"Tahoma" : face, 10, 900));
    set_control_font(dialog, kHeading, g.heading_font.get());
    bool removing = session && contains_ci(session->relaunch_command_line(), L"/removeonly");
    SetDlgItemTextW(dialog, kHeading, load_string(s, removing ? kTextPreparingUninstall : kTextPreparingInstall).c_str());
    std::wstring body_face = g.compact ? std::wstring(L"Tahoma") : ui::window_font_face(GetDlgItem(dialog, kMainText));
    g.body_font.reset(ui::create_language_font(s, body_face.empty() ? L"Tahoma" : body_face, 0, FW_NORMAL));
    for (int id : kBodyControls) set_control_font(dialog, id, g.body_font.get());
    g.white.reset(CreateSolidBrush(RGB(255, 255, 255)));
    RECT r = {};
    HWND picture = GetDlgItem(dialog, kPicture);
    if (picture && GetWindowRect(picture, &r)) {
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
      g.white_bottom = r.bottom;
    }
  } else {
    for (int id : kBodyControls) set_control_font(dialog, id, g.dialog_font.get());
  }
}

void release_dialog_resources() {
  g.dialog_font.reset();
  g.heading_font.reset();
  g.body_font.reset();
  g.white.reset();
}

void destroy_splash() {
  if (g.splash) DestroyWindow(g.splash);
  g.splash = nullptr;
  g.splash_bitmap.reset();
  g.splash_palette.reset();
}

INT_PTR CALLBACK dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      init_dialog(dialog, reinterpret_cast<Session*>(lparam));
      return TRUE;
    case WM_TIMER:
      if (wparam != kTimerId) break;
      if (g.step >= 100) {
        KillTimer(dialog, kTimerId);
        g.step = 0;
      } else if (!g.paused) {
        SendDlgItemMessageW(dialog, kProgressBar, PBM_STEPIT, 0, 0);
        g.step += 5;
      }
      return TRUE;
    case QzSetupDlg::kPauseAnimation:
      g.paused = lparam == 1;
      return TRUE;
    case WM_ERASEBKGND: {
      if (!g.large) break;
      HDC dc = reinterpret_cast<HDC>(wparam);
      RECT r;
      GetClientRect(dialog, &r);
      RECT top = r, bottom = r;
      top.bottom = bottom.top = g.white_bottom;
      FillRect(dc, &top, g.white.get());
      FillRect(dc, &bottom, GetSysColorBrush(COLOR_BTNFACE));
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      if (!g.large) break;
      HDC dc = reinterpret_cast<HDC>(wparam);
      HWND control = reinterpret_cast<HWND>(lparam);
      int id = GetDlgCtrlID(control);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, id == kHiddenText1 || id == kHiddenText2 ? RGB(255, 255, 255) : GetSysColor(COLOR_WINDOWTEXT));
      // The brush of the band the control sits in, so that a changed text is
      // painted over its old one.
      RECT r;
      GetWindowRect(control, &r);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
      return reinterpret_cast<INT_PTR>(r.top < g.white_bottom ? g.white.get() : GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDCANCEL) {
        QZ_LOG(L"The user cancelled the setup");
        qzproc::set_exit_code(err::kCancelled);
        qzproc::set_cancelled(true);
        close_setup_window();
        PostThreadMessageW(GetCurrentThreadId(), QzSetupDlg::kCancelMessage, 0, 0);
        return TRUE;
      }
      break;
    case WM_DESTROY:
      KillTimer(dialog, kTimerId);
      if (g.session) g.session->attach_status_window(nullptr, nullptr);
      release_dialog_resources();
      if (g.dialog == dialog) g.dialog = nullptr;
      break;
  }
  return FALSE;
}

// --- splash ---

INT_PTR CALLBACK splash_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      BITMAP bm = {};
      GetObjectW(g.splash_bitmap.get(), sizeof bm, &bm);
      int x = (GetSystemMetrics(SM_CXSCREEN) - bm.bmWidth) / 2;
      int y = (GetSystemMetrics(SM_CYSCREEN) - bm.bmHeight) / 2;
      SetWindowPos(window, nullptr, x, y, bm.bmWidth, bm.bmHeight, SWP_NOZORDER);
      return TRUE;
    }
    case WM_ERASEBKGND: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetLayout(dc, 0);  // the picture is never mirrored
      HPALETTE old_palette = nullptr;
      if (g.splash_palette) {
        old_palette = SelectPalette(dc, g.splash_palette.get(), FALSE);
        RealizePalette(dc);
      }
      BITMAP bm = {};
      GetObjectW(g.splash_bitmap.get(), sizeof bm, &bm);
      HDC memory = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(memory, g.splash_bitmap.get());
      BitBlt(dc, 0, 0, bm.bmWidth, bm.bmHeight, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
      if (old_palette) SelectPalette(dc, old_palette, FALSE);
      SetWindowLongPtrW(window, DWLP_MSGRESULT, 1);
      return TRUE;
    }
  }
  return FALSE;
}

// On 8-bit displays: a halftone palette for deep bitmaps, else the bitmap's own
// colours (all 256, or up to 236 between the 20 static system colours).
HPALETTE make_splash_palette(HBITMAP bitmap) {
  HDC screen = GetDC(nullptr);
  if (!screen) return nullptr;
  int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
  HPALETTE palette = nullptr;
  if (bits == 8) {
    DIBSECTION ds = {};
    GetObjectW(bitmap, sizeof ds, &ds);
    if (ds.dsBm.bmBitsPixel > 8) {
      palette = CreateHalftonePalette(screen);
    } else {
      RGBQUAD colours[256] = {};
      HDC memory = CreateCompatibleDC(screen);
      HGDIOBJ old = SelectObject(memory, bitmap);
      UINT n = GetDIBColorTable(memory, 0, 256, colours);
      SelectObject(memory, old);
      DeleteDC(memory);
      std::vector<BYTE> storage(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
      auto* lp = reinterpret_cast<LOGPALETTE*>(storage.data());
      lp->palVersion = 0x300;
      UINT first = 0, count = n;
      if (n < 256) {
        GetSystemPaletteEntries(screen, 0, 256, lp->palPalEntry);
        first = 10;
        if (count > 236) count = 236;
      }
      for (UINT i = 0; i < count; ++i) {
        lp->palPalEntry[first + i] = {colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue, 0};
      }
      lp->palNumEntries = 256;
      if (n > 0) palette = CreatePalette(lp);
    }
  }
  ReleaseDC(nullptr, screen);
  return palette;
}

std::wstring launcher_folder(Session& session) {
  const LaunchSettings& s = session.settings();
  std::wstring path = !s.first_launcher_path.empty() ? s.first_launcher_path : session.launcher_path();
  if (path.empty()) path = qzproc::own_file_name();
  return zpath(path).folder();
}

// The bitmap configured for one language in `Setup.bmp`; empty when none.
std::wstring configured_bitmap(Session& session, uint16_t language) {
  int type = session.get_setting_int(L"Setup.bmp", L"Type", 0);
  std::wstring key;  // language 0 reads the empty key
  if (language) key = zString::format(L"%x", static_cast<unsigned>(language));
  std::wstring name = session.get_setting(L"Setup.bmp", key, L"");
  if (name.empty()) return std::wstring();
  if (type == 1) {
    if (qzproc::temp_folder().empty()) return std::wstring();
    session.extract_member(name, false, false, nullptr, true);
    std::wstring path = zpath(qzproc::temp_folder()).join(name);
    return qz::PathExists(path, qz::kPathFile) ? path : std::wstring();
  }
  if (type == 0) {
    std::wstring path = zpath(launcher_folder(session)).join(name);
    return qz::PathExists(path, qz::kPathFile) ? path : std::wstring();
  }
  return zpath(launcher_folder(session)).join(name);
}

std::wstring find_splash_file(Session& session) {
  std::wstring path = configured_bitmap(session, session.settings().ui_language);
  if (path.empty()) path = configured_bitmap(session, 0);
  if (!path.empty()) return path;
  // A package from the stream shows only its own member: a Setup.bmp that merely
  // lies beside the launcher belongs to whatever else is in that folder.
  if (session.package_mode() != kPackageBesideLauncher) {
    if (!session.stream().is_valid() || !session.stream_contains(L"Setup.bmp") || qzproc::temp_folder().empty())
      return std::wstring();
    session.extract_member(L"Setup.bmp", false, false, nullptr, true);
    path = zpath(qzproc::temp_folder()).join(L"Setup.bmp");
    return qz::PathExists(path, qz::kPathFile) ? path : std::wstring();
  }
  path = zpath(launcher_folder(session)).join(L"Setup.bmp");
  return qz::PathExists(path, qz::kPathFile) ? path : std::wstring();
}

}  // namespace

QzSetupDlg::~QzSetupDlg() {
  if (!owns_) return;
  g.session = nullptr;  // the session is going away with this object
  close_setup_window();
}

bool QzSetupDlg::start(HWND parent, Session& session, int template_id, bool splash_shown) {
  const LaunchSettings& s = session.settings();
  if (s.silent || session.hide_progress() || s.hide_progress || g.dialog) return g.dialog != nullptr;
  register_window_classes();
  g.large = template_id == kLargeLayout;
  int script_driven = s.script_driven >= 0 ? s.script_driven : session.script_driven();
  g.compact = g.large && (script_driven == 0 || script_driven == 2);
  // The cancel flag is left as it is: a Cancel pressed in an earlier dialog of
  // this process still ends the launch.
  g.step = 0;
  g.paused = false;
  g.start_tick = GetTickCount();
  HWND dialog = create_dialog(s, ui::launcher_instance(), template_id, parent, dialog_proc,
                              reinterpret_cast<LPARAM>(&session), 0);
  if (!dialog) {
    QZ_LOG(L"The setup dialog %d could not be created, error %u", template_id, GetLastError());
    g.dialog = nullptr;
    return false;
  }
  g.dialog = dialog;
  owns_ = true;
  if (splash_shown) {
    RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    bool subtracted = false;
    // 64-bit systems are all of the NT family from version 4 on: a taskbar exists.
    if (HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr)) {
      RECT bar, rest;
      if (GetWindowRect(tray, &bar) && SubtractRect(&rest, &work, &bar)) {
        work = rest;
        subtracted = true;
      }
    }
    POINT corner = corner_after_splash(work, subtracted);
    RECT r;
    GetWindowRect(dialog, &r);
    SetWindowPos(dialog, nullptr, corner.x - (r.right - r.left), corner.y - (r.bottom - r.top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
  return true;
}

HWND QzSetupDlg::window() const { return g.dialog && IsWindow(g.dialog) ? g.dialog : nullptr; }

bool QzSetupDlg::cancelled() const { return qzproc::cancelled(); }

bool QzSetupDlg::set_progress(int percent) {
  HWND dialog = window();
  if (!dialog) return qzproc::cancelled();
  HWND bar = GetDlgItem(dialog, kProgressBar);
  // A large member stays at one percent for a long time: its messages (the Cancel
  // button among them) are still looked at several times a second.
  constexpr ULONGLONG kPumpInterval = 100;
  static ULONGLONG last_pump = 0;
  const ULONGLONG now = GetTickCount64();
  if (static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)) == percent && now - last_pump < kPumpInterval)
    return qzproc::cancelled();
  last_pump = now;
  pump();
  if (window()) SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  return qzproc::cancelled();
}

void QzSetupDlg::advance_bar(int amount) { advance_setup_bar(amount); }

void QzSetupDlg::step_progress(int amount) {
  pump();
  advance_setup_bar(amount);
}

bool QzSetupDlg::pump() { return pump_setup_messages(); }

bool QzSetupDlg::wait_splash() { return wait_setup_splash(); }

void QzSetupDlg::hide() { hide_setup_window(); }

void QzSetupDlg::close() { close_setup_window(); }

HWND setup_window() { return g.dialog && IsWindow(g.dialog) ? g.dialog : nullptr; }

void close_setup_window() {
  if (g.dialog) {
    HWND dialog = g.dialog;
    KillTimer(dialog, kTimerId);
    DestroyWindow(dialog);
    g.dialog = nullptr;
  }
  destroy_splash();
}

bool setup_cancel_flag() { return qzproc::cancelled(); }

void reset_setup_cancel_flag_for_tests() { qzproc::set_cancelled(false); }

void hide_setup_window() {
  if (setup_window()) ShowWindow(g.dialog, SW_HIDE);
  if (g.splash) ShowWindow(g.splash, SW_HIDE);
}

void advance_setup_bar(int amount) {
  HWND dialog = setup_window();
  if (!dialog) return;
  HWND bar = GetDlgItem(dialog, kProgressBar);
  int current = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(current < 100 ? current + amount : 0), 0);
}

bool pump_setup_messages() {
  qz::pump_messages(g.dialog, qzproc::cancelled);
  return qzproc::cancelled();
}

bool wait_setup_splash() {
  const LaunchSettings& s = settings_of(g.session);
  if (s.silent || !g.session) return qzproc::cancelled();
  int seconds = g.session->get_setting_int(L"Startup", L"SplashTime", 5);
  if (seconds > 4000000) seconds = 4000000;  // milliseconds stay within 32 bits
  const DWORD wait_ms = seconds > 0 ? static_cast<DWORD>(seconds) * 1000u : 0u;
  const DWORD spent = GetTickCount() - g.start_tick;
  if (spent < wait_ms) qz::pump_wait(wait_ms - spent, g.dialog, qzproc::cancelled);
  return qzproc::cancelled();
}

bool splash_was_shown() { return g.splash_shown; }

POINT corner_after_splash(const RECT& work, bool taskbar_subtracted) {
  LONG d = taskbar_subtracted ? 70 : 30;
  LONG width = work.right - work.left, height = work.bottom - work.top;
  return POINT{work.right - width / d, work.bottom - height / d};
}

bool show_splash_bitmap(Session& session) {
  const LaunchSettings& s = session.settings();
  g.splash_shown = false;
  if (s.silent || session.quiet() || g.splash) return g.splash != nullptr;
  std::wstring path = find_splash_file(session);
  if (path.empty()) return false;
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (!bitmap) {
    QZ_LOG(L"The splash bitmap %s could not be loaded, error %u", path.c_str(), GetLastError());
    return false;
  }
  g.splash_bitmap.reset(bitmap);
  g.splash_palette.reset(make_splash_palette(bitmap));
  g.splash = create_dialog(s, ui::launcher_instance(), kSplashTemplate, nullptr, splash_proc, 0, kDialogKeepFont);
  if (!g.splash) {
    QZ_LOG(L"The splash window could not be created, error %u", GetLastError());
    destroy_splash();
    return false;
  }
  ShowWindow(g.splash, SW_SHOW);
  SetForegroundWindow(g.splash);
  UpdateWindow(g.splash);
  g.splash_shown = true;
  return true;
}
