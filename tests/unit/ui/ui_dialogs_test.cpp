// The launcher's dialogs in this process: each test opens the real window from
// the launcher's templates (the test binary carries the resources) and reads or
// drives it from a timer while the dialog runs.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "../support/scratch.h"
#include "../support/stream_image.h"
#include "../support/wait_for.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "session.h"
#include "support/process_state.h"
#include "ui/ErrorDialog.h"
#include "ui/PasswdDlg.h"
#include "ui/QzSetupDlg.h"
#include "ui/launcher_ui.h"
#include "ui/password_digest.h"

namespace {

std::wstring text_of(HWND w) {
  wchar_t buf[2048] = {};
  GetWindowTextW(w, buf, 2048);
  return buf;
}

// Runs `body` with the first dialog of this thread once it exists, then lets the
// modal loop go on.
std::function<void(HWND)> g_body;

BOOL CALLBACK first_dialog(HWND w, LPARAM out) {
  wchar_t cls[16] = {};
  GetClassNameW(w, cls, 16);
  if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(w)) {
    *reinterpret_cast<HWND*>(out) = w;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK on_timer(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), first_dialog, reinterpret_cast<LPARAM>(&dialog));
  if (!dialog) return;
  KillTimer(nullptr, id);
  auto body = std::move(g_body);
  g_body = nullptr;
  if (body) body(dialog);
}

// The timer's id, for a caller that expects no dialog and stops the watch.
UINT_PTR when_shown(std::function<void(HWND)> body) {
  g_body = std::move(body);
  return SetTimer(nullptr, 0, 50, on_timer);
}

// Where a top-level window of this thread stood when it was first shown.
RECT g_first_shown;

LRESULT CALLBACK note_first_show(int code, WPARAM wparam, LPARAM lparam) {
  const auto* m = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && m->message == WM_SHOWWINDOW && m->wParam && IsRectEmpty(&g_first_shown) &&
      !(GetWindowLongPtrW(m->hwnd, GWL_STYLE) & WS_CHILD))
    GetWindowRect(m->hwnd, &g_first_shown);
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

bool have_display() {
  HWND w = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!w) return false;
  DestroyWindow(w);
  return true;
}

class DialogTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    if (!have_display()) GTEST_SKIP() << "no display";
    settings_ = LaunchSettings();
    settings_.ui_language = 0x0409;
    qzproc::set_settings(&settings_);
    qzproc::set_exit_code(0);
    reset_setup_cancel_flag_for_tests();
    ui::install_launcher_ui();
  }
  void TearDown() override {
    close_setup_window();
    qzproc::set_settings(nullptr);
    qzproc::set_temp_folder(L"");
    ScratchTest::TearDown();
  }
  LaunchSettings settings_;
};

// A 24-bit bitmap of one colour; its size tells which file a window shows.
std::string bitmap(int width, int height) {
  const int stride = (width * 3 + 3) & ~3;
  std::string pixels(static_cast<size_t>(stride) * height, '\x60');
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  return std::string(reinterpret_cast<const char*>(&file), sizeof file) +
         std::string(reinterpret_cast<const char*>(&info), sizeof info) + pixels;
}

BOOL CALLBACK captionless_popup(HWND w, LPARAM out) {
  if (IsWindowVisible(w) && !(GetWindowLongPtrW(w, GWL_STYLE) & WS_CAPTION)) {
    *reinterpret_cast<HWND*>(out) = w;
    return FALSE;
  }
  return TRUE;
}

// The size of this thread's splash window; 0 by 0 when there is none.
SIZE splash_size() {
  HWND splash = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), captionless_popup, reinterpret_cast<LPARAM>(&splash));
  RECT r = {};
  if (splash) GetWindowRect(splash, &r);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

LOGFONTW font_of(HWND w) {
  LOGFONTW lf = {};
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
  if (font) GetObjectW(font, sizeof lf, &lf);
  return lf;
}

// The LOGFONT height of a font of `points` on this screen.
LONG font_height(int points) {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return -MulDiv(points, dpi, 72);
}

}  // namespace

TEST(ErrorTexts, NumberedErrors) {
  LaunchSettings s;
  s.ui_language = 0x0409;
  struct Row {
    unsigned id;
    std::vector<std::wstring> args;
    std::wstring want;
  } rows[] = {
      {1152, {L"Setup.ini"}, L"1152: Error extracting Setup.ini to the temporary location"},
      {1670, {}, L"1670: "},                                      // no text: the number alone
      {1155, {}, L"1155: File  not found"},                       // missing argument reads nothing
      {1152, {L"a", L"b", L"c"}, L"1152: Error extracting a to the temporary location"},
  };
  for (const auto& r : rows) EXPECT_EQ(numbered_error_text(s, r.id, r.args), r.want) << r.id;
  std::wstring name(3000, L'n');
  std::wstring cut = numbered_error_text(s, 1152, {name});
  EXPECT_EQ(cut.size(), 1023u);
  EXPECT_EQ(cut.substr(0, 23), L"1152: Error extracting ");
}

TEST(ErrorTexts, MessageBoxStylesAndSilentAnswers) {
  LaunchSettings s;
  s.ui_language = 0x0409;
  s.ui_language = 0x0401;
  EXPECT_EQ(message_box_style(s, MB_YESNO), static_cast<UINT>(MB_YESNO));
  s.rtl_languages = {0x0401, 0x040d};
  EXPECT_EQ(message_box_style(s, MB_YESNO), static_cast<UINT>(MB_YESNO | 0x180000));
  s.silent = true;
  qzproc::set_settings(&s);
  ui::install_launcher_ui();
  EXPECT_EQ(message_box(s, nullptr, L"question", MB_YESNO, IDYES), IDYES);
  EXPECT_EQ(message_box(s, nullptr, L"question", MB_YESNO, IDNO), IDNO);
  // A silent launch shows no error dialog at all.
  EXPECT_FALSE(show_error_text(s, L"1151: Error writing to the temporary location", false));
  EXPECT_FALSE(show_message(s, L"notice"));
  qzproc::set_settings(nullptr);
}

TEST(Password, CandidateDigestUsesAnsiBytes) {
  const char* ascii = "secret";
  EXPECT_EQ(candidate_digest(L"secret"), ui::password_digest(reinterpret_cast<const uint8_t*>(ascii), 6));
  EXPECT_EQ(candidate_digest(L""), 1532713819u);
  PasswdDlg dialog(L"1531999068");
  EXPECT_TRUE(dialog.matches(L"secret"));
  EXPECT_FALSE(dialog.matches(L"Secret"));
  EXPECT_FALSE(dialog.matches(L"secret "));
  // A character pair that converts to one byte never reads past the converted text.
  std::wstring pair = L"\xD83D\xDE00";
  EXPECT_NO_FATAL_FAILURE(candidate_digest(pair));
  // An over-long stored text is cut, not overrun.
  PasswdDlg long_digest(std::wstring(500, L'9'));
  EXPECT_FALSE(long_digest.matches(L"secret"));
}

TEST_F(DialogTest, ErrorDialogShowsTheTextAndOk) {
  std::wstring text, caption;
  bool ok_visible = false, restart_visible = true;
  LONG_PTR text_style = 0;
  when_shown([&](HWND d) {
    text = text_of(GetDlgItem(d, 1028));
    text_style = GetWindowLongPtrW(GetDlgItem(d, 1028), GWL_STYLE);
    caption = text_of(d);
    ok_visible = IsWindowVisible(GetDlgItem(d, IDOK));
    restart_visible = IsWindowVisible(GetDlgItem(d, 102));
    PostMessageW(d, WM_COMMAND, IDOK, 0);
  });
  report_error(settings_, 1152, L"R&D Setup.ini");
  EXPECT_EQ(qzproc::exit_code(), 1152);
  EXPECT_EQ(text, L"1152: Error extracting R&D Setup.ini to the temporary location");
  EXPECT_TRUE(text_style & SS_NOPREFIX) << "a name with \"&\" would lose it and underline the next letter";
  EXPECT_EQ(caption, L"Brackenwright Wizard");
  EXPECT_TRUE(ok_visible);
  EXPECT_FALSE(restart_visible);
}

TEST_F(DialogTest, ErrorDialogCutsLongTextsAndOffersRestart) {
  std::wstring text, restart_label;
  bool ok_visible = true;
  when_shown([&](HWND d) {
    text = text_of(GetDlgItem(d, 1028));
    restart_label = text_of(GetDlgItem(d, 102));
    ok_visible = IsWindowVisible(GetDlgItem(d, IDOK));
    SendMessageW(d, WM_COMMAND, IDOK, 0);      // the hidden OK does nothing
    PostMessageW(d, WM_COMMAND, IDCANCEL, 0);  // Esc: the restart is put off
  });
  settings_.product_name = L"Demo";
  ErrorDialog dialog(settings_, true);
  EXPECT_FALSE(dialog.show(std::wstring(5000, L'x'), nullptr)) << "a put-off restart must not read as done";
  EXPECT_TRUE(dialog.declined());
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(restart_label, L"Restart");
  EXPECT_FALSE(ok_visible);
  // The close box of a plain notice acknowledges it like OK.
  when_shown([&](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); });
  ErrorDialog notice(settings_, false);
  EXPECT_TRUE(notice.show(L"notice", nullptr));
  EXPECT_FALSE(notice.declined());
}

TEST_F(DialogTest, SystemErrorTextsFollowThePrefix) {
  struct Row {
    const wchar_t* prefix;
    DWORD code;
  } rows[] = {{L"Language dialog:", ERROR_FILE_NOT_FOUND}, {L"", ERROR_ACCESS_DENIED}};
  for (const auto& r : rows) {
    std::wstring text;
    when_shown([&](HWND d) {
      text = text_of(GetDlgItem(d, 1028));
      PostMessageW(d, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(show_system_error(settings_, r.prefix, r.code), 1);
    std::wstring prefix = r.prefix[0] ? std::wstring(r.prefix) + L" " : std::wstring();
    ASSERT_GT(text.size(), prefix.size() + 1) << r.code;
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_NE(text[prefix.size()], L' ') << text;
    EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << "the line break the system ends its text with";
  }
  // A code the system has no text for shows nothing.
  bool shown = false;
  UINT_PTR watch = when_shown([&](HWND d) {
    shown = true;
    PostMessageW(d, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(show_system_error(settings_, L"prefix", 0x2000BEEF), 1);
  KillTimer(nullptr, watch);
  g_body = nullptr;
  EXPECT_FALSE(shown);
}

TEST_F(DialogTest, DialogsTakeTheLanguageFontAndLayout) {
  settings_.rtl_languages = {0x0409};
  settings_.setup_ini_path = path(L"Setup.INI");
  write_file(path(L"0x0409.ini"), "[0x0409]\r\n[Properties]\r\nFontName=Courier New\r\nFontSize=12\r\n");
  LONG_PTR exstyle = 0;
  LOGFONTW dialog_font = {}, text_font = {};
  when_shown([&](HWND d) {
    exstyle = GetWindowLongPtrW(d, GWL_EXSTYLE);
    dialog_font = font_of(d);
    text_font = font_of(GetDlgItem(d, 1028));
    PostMessageW(d, WM_COMMAND, IDOK, 0);
  });
  EXPECT_TRUE(show_error_text(settings_, L"1151: Error writing to the temporary location", false));
  EXPECT_TRUE(exstyle & WS_EX_LAYOUTRTL);
  for (const LOGFONTW* f : {&dialog_font, &text_font}) {
    EXPECT_STREQ(f->lfFaceName, L"Courier New");
    EXPECT_EQ(f->lfHeight, font_height(12));
  }
  Session session(GetModuleHandleW(nullptr), settings_, L"Z:\\nonexistent\\setup.exe");
  QzSetupDlg dialog;
  ASSERT_TRUE(dialog.start(nullptr, session, QzSetupDlg::kLargeLayout, false));
  HWND w = dialog.window();
  EXPECT_TRUE(GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
  LOGFONTW f = font_of(w);
  EXPECT_STREQ(f.lfFaceName, L"Courier New");
  EXPECT_EQ(f.lfHeight, font_height(12));
  // ScriptDriven 0: the heading is Tahoma, 10 points, heavy, whatever the table says.
  f = font_of(GetDlgItem(w, 1006));
  EXPECT_STREQ(f.lfFaceName, L"Tahoma");
  EXPECT_EQ(f.lfHeight, font_height(10));
  EXPECT_EQ(f.lfWeight, 900);
  EXPECT_FALSE(dialog.set_progress(50));
  dialog.close();
}

TEST_F(DialogTest, PasswordDialogEnablesOkOnlyForTheRightPassword) {
  std::wstring long_password(100, L'p');
  std::wstring stored = ui::digest_text(candidate_digest(long_password));
  // Digest of "secret" for the main part, the 100-character one for the limit.
  struct Step {
    const wchar_t* text;
    bool ok_enabled;
  } steps[] = {{L"secre", false}, {L"secret", true}, {L"", false}, {L"secret2", false}, {L"secret", true}};
  bool initially_enabled = true;
  std::vector<bool> reached;
  std::wstring caption, label;
  when_shown([&](HWND d) {
    HWND ok = GetDlgItem(d, IDOK);
    test_wait::pump_until([&] { return !text_of(GetDlgItem(d, 20002)).empty(); });
    caption = text_of(d);
    label = text_of(GetDlgItem(d, 20002));
    initially_enabled = IsWindowEnabled(ok) != FALSE;
    for (const auto& s : steps) {
      SetDlgItemTextW(d, 1000, s.text);
      reached.push_back(test_wait::pump_until([&] { return (IsWindowEnabled(ok) != FALSE) == s.ok_enabled; }));
    }
    PostMessageW(d, WM_COMMAND, IDOK, 0);
  });
  PasswdDlg dialog(L"1531999068");
  EXPECT_EQ(dialog.ask(nullptr, settings_), IDOK);
  EXPECT_FALSE(dialog.cancelled());
  EXPECT_EQ(caption, L"Please enter the password");
  EXPECT_EQ(label, L"Password:");
  EXPECT_FALSE(initially_enabled);
  ASSERT_EQ(reached.size(), 5u);
  for (size_t i = 0; i < 5; ++i) EXPECT_TRUE(reached[i]) << steps[i].text << ": OK never became " << steps[i].ok_enabled;

  // 100 characters: only 99 are ever read, so the dialog cannot be passed; Enter
  // with the disabled OK does not end it either.
  bool enabled = true;
  when_shown([&](HWND d) {
    SetDlgItemTextW(d, 1000, long_password.c_str());
    enabled = IsWindowEnabled(GetDlgItem(d, IDOK)) != FALSE;
    SendMessageW(d, WM_COMMAND, IDOK, 0);
    PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
  });
  PasswdDlg limited(stored);
  EXPECT_EQ(limited.ask(nullptr, settings_), IDCANCEL);
  EXPECT_FALSE(enabled);
  EXPECT_TRUE(limited.cancelled());
}

TEST_F(DialogTest, SetupDialogLayoutsProgressAndCancel) {
  Session session(GetModuleHandleW(nullptr), settings_, L"Z:\\nonexistent\\setup.exe");
  session.add_switch(L"/removeonly");
  {
    QzSetupDlg dialog;
    ASSERT_TRUE(dialog.start(nullptr, session, QzSetupDlg::kLargeLayout, false));
    HWND w = dialog.window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(text_of(w), L"Brackenwright Wizard");
    EXPECT_EQ(text_of(GetDlgItem(w, 1006)), L"Preparing to Uninstall...");
    EXPECT_EQ(session.status_window(), GetDlgItem(w, 1003));
    EXPECT_EQ(session.main_text_window(), GetDlgItem(w, 1001));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(w, 1020)));
    // The product's and the files' names keep an "&".
    for (int id : {1001, 1003, 1004, 1005})
      EXPECT_TRUE(GetWindowLongPtrW(GetDlgItem(w, id), GWL_STYLE) & SS_NOPREFIX) << id;
    // A second start keeps the one dialog.
    QzSetupDlg again;
    EXPECT_TRUE(again.start(nullptr, session, QzSetupDlg::kSmallLayout, false));
    EXPECT_EQ(again.window(), w);

    HWND bar = GetDlgItem(w, 301);
    // The animation's own steps would move the bar under the checks.
    SendMessageW(w, QzSetupDlg::kPauseAnimation, 0, 1);
    EXPECT_FALSE(dialog.set_progress(40));
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 40);
    // The bar's own value again within the pump interval (100 ms): no pumping, so a
    // queued message stays queued. A round a loaded machine stretches past the
    // interval proves nothing and is tried again.
    MSG msg;
    bool in_time = false;
    for (int round = 0; round < 50 && !in_time; ++round) {
      dialog.set_progress(39);
      const ULONGLONG before = GetTickCount64();
      dialog.set_progress(40);  // a new value: pumps, and the interval starts
      PostThreadMessageW(GetCurrentThreadId(), WM_APP + 7, 0, 0);
      EXPECT_FALSE(dialog.set_progress(40));
      in_time = GetTickCount64() - before < 90;
      const bool stayed = PeekMessageW(&msg, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE) != FALSE;
      if (in_time) EXPECT_TRUE(stayed);
    }
    dialog.step_progress(30);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 70);
    SendMessageW(bar, PBM_SETPOS, 100, 0);
    dialog.step_progress(30);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);

    SendMessageW(w, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(dialog.cancelled());
    EXPECT_TRUE(setup_cancel_flag());
    EXPECT_EQ(qzproc::exit_code(), -1);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(dialog.window(), nullptr);
    EXPECT_EQ(session.status_window(), nullptr);
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, QzSetupDlg::kCancelMessage, QzSetupDlg::kCancelMessage, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_TRUE(dialog.pump());
    EXPECT_TRUE(dialog.set_progress(10));  // no dialog: the cancel flag
  }
  // A dialog started after the Cancel does not make the launch forget it.
  QzSetupDlg later;
  ASSERT_TRUE(later.start(nullptr, session, QzSetupDlg::kSmallLayout, false));
  EXPECT_TRUE(later.cancelled());
  EXPECT_TRUE(later.set_progress(20));
  later.close();
}

TEST_F(DialogTest, SetupDialogCreationRules) {
  Session session(GetModuleHandleW(nullptr), settings_, L"Z:\\nonexistent\\setup.exe");
  QzSetupDlg dialog;
  // A template that does not exist (the `UI` value of setup.ini is taken as it
  // is, so any int can come): no dialog, nothing else happens.
  for (int id : {4242, 0, -1, 0x10000 + QzSetupDlg::kSmallLayout}) {
    EXPECT_FALSE(dialog.start(nullptr, session, id, false)) << id;
    EXPECT_EQ(setup_window(), nullptr) << id;
  }
  settings_.silent = true;
  EXPECT_FALSE(dialog.start(nullptr, session, QzSetupDlg::kSmallLayout, false));
  settings_.silent = false;
  g_first_shown = {};
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, note_first_show, nullptr, GetCurrentThreadId());
  ASSERT_TRUE(dialog.start(nullptr, session, QzSetupDlg::kSmallLayout, true));
  UnhookWindowsHookEx(hook);
  HWND w = dialog.window();
  EXPECT_EQ(GetDlgItem(w, 1006), nullptr);  // the small layout has no heading
  for (int id : {1001, 1003, 1004, 1005})
    EXPECT_TRUE(GetWindowLongPtrW(GetDlgItem(w, id), GWL_STYLE) & SS_NOPREFIX) << id;
  // Moved to the lower-right corner, out of the splash's way.
  RECT r;
  GetWindowRect(w, &r);
  RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  EXPECT_GT(r.left, screen.right / 2);
  EXPECT_GT(r.top, screen.bottom / 2);
  // It first appears there, not centred over the splash and then moved.
  EXPECT_EQ(g_first_shown.left, r.left);
  EXPECT_EQ(g_first_shown.top, r.top);
  dialog.hide();
  EXPECT_FALSE(IsWindowVisible(w));
  dialog.close();
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(dialog.cancelled());
}

TEST_F(DialogTest, WaitSplashEndsAfterSplashTimeOrOnCancel) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring ini = std::wstring(temp) + L"qz_ui_splash_test.ini";
  enum Check { kNoWait, kFullSecond, kCancelled };
  struct Row {
    const char* text;
    Check check;
  } rows[] = {
      {"[Startup]\r\nSplashTime=0\r\n", kNoWait},
      {"[Startup]\r\nSplashTime=1\r\n", kFullSecond},
      // An hour: only the Cancel can end the wait.
      {"[Startup]\r\nSplashTime=3600\r\n", kCancelled},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    HANDLE f = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(f, r.text, static_cast<DWORD>(strlen(r.text)), &written, nullptr);
    CloseHandle(f);
    Session session(GetModuleHandleW(nullptr), settings_, L"Z:\\nonexistent\\setup.exe");
    ASSERT_TRUE(session.load_profile(ini));
    QzSetupDlg dialog;
    const DWORD before_start = GetTickCount();
    ASSERT_TRUE(dialog.start(nullptr, session, QzSetupDlg::kSmallLayout, false));
    if (r.check == kCancelled) PostMessageW(dialog.window(), WM_COMMAND, IDCANCEL, 0);
    // Left queued unless the wait pumps.
    if (r.check == kNoWait) PostThreadMessageW(GetCurrentThreadId(), WM_APP + 9, 0, 0);
    EXPECT_EQ(dialog.wait_splash(), r.check == kCancelled);
    if (r.check == kFullSecond) EXPECT_GE(GetTickCount() - before_start, 1000u) << "counted from the dialog's start";
    if (r.check == kNoWait) {
      MSG m;
      EXPECT_TRUE(PeekMessageW(&m, nullptr, WM_APP + 9, WM_APP + 9, PM_REMOVE)) << "waited although no time was set";
    }
    dialog.close();
    reset_setup_cancel_flag_for_tests();
  }
  DeleteFileW(ini.c_str());
}

TEST_F(DialogTest, SplashBitmapFromTheSettingsOrThePackage) {
  write_file(path(L"lang.bmp"), bitmap(40, 30));
  write_file(path(L"any.bmp"), bitmap(50, 20));
  write_file(path(L"Setup.bmp"), bitmap(70, 10));
  settings_.first_launcher_path = path(L"setup.exe");
  const test_image::Members none, member = {{L"member.bmp", bitmap(60, 16)}},
                                  setup_bmp = {{L"Setup.bmp", bitmap(80, 12)}};
  struct Row {
    const char* ini;
    const test_image::Members* stream;  // null: the package lies beside the launcher
    SIZE want;                          // 0 by 0: no splash
  } rows[] = {
      // Type 0: beside the launcher, under the language's key, else the empty key of language 0.
      {"[Setup.bmp]\r\nType=0\r\n409=lang.bmp\r\n=any.bmp\r\n", nullptr, {40, 30}},
      {"[Setup.bmp]\r\n409=missing.bmp\r\n=any.bmp\r\n", nullptr, {50, 20}},
      // Type 1: the stream's member, extracted.
      {"[Setup.bmp]\r\nType=1\r\n409=member.bmp\r\n", &member, {60, 16}},
      // A member the stream lacks is not taken from beside the launcher.
      {"[Setup.bmp]\r\nType=1\r\n409=lang.bmp\r\n", &none, {0, 0}},
      // Without settings: the stream's Setup.bmp, and only that one.
      {"", &setup_bmp, {80, 12}},
      {"", &none, {0, 0}},
      {"", nullptr, {70, 10}},
  };
  int n = 0;
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << "row " << n << ": " << r.ini);
    std::wstring temp = path(L"temp" + std::to_wstring(n++));
    CreateDirectoryW(temp.c_str(), nullptr);
    qzproc::set_temp_folder(temp);
    write_file(path(L"setup.ini"), r.ini);
    write_file(path(L"setup.exe"), test_image::own_image() + test_image::stream_bytes(r.stream ? *r.stream : none));
    Session session(GetModuleHandleW(nullptr), settings_, path(L"setup.exe"));
    session.set_package_mode(r.stream ? kPackageFromStream : kPackageBesideLauncher);
    ASSERT_TRUE(session.load_profile(path(L"setup.ini")));
    bool want = r.want.cx != 0;
    EXPECT_EQ(show_splash_bitmap(session), want);
    EXPECT_EQ(splash_was_shown(), want);
    SIZE got = splash_size();
    EXPECT_EQ(got.cx, r.want.cx);
    EXPECT_EQ(got.cy, r.want.cy);
    close_setup_window();
  }
}

TEST(SetupDialogPlacement, CornerAfterSplash) {
  struct Row {
    RECT work;
    bool taskbar;
    LONG x, y;
  } rows[] = {
      {{0, 0, 1280, 1024}, false, 1280 - 1280 / 30, 1024 - 1024 / 30},
      {{0, 0, 1280, 984}, true, 1280 - 1280 / 70, 984 - 984 / 70},
      {{100, 50, 900, 650}, false, 900 - 800 / 30, 650 - 600 / 30},
  };
  for (const auto& r : rows) {
    POINT p = corner_after_splash(r.work, r.taskbar);
    EXPECT_EQ(p.x, r.x);
    EXPECT_EQ(p.y, r.y);
  }
}
