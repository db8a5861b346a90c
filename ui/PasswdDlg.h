// The installation password: setup.ini's `KEY` `PASSWORD` holds the digest of
// the password, which the command line's /p or the password dialog (template
// 1008) must match. The password itself is never logged.
#pragma once
#include <windows.h>

#include <string>

#include "support/handles.h"
#include "ui/ui_fonts.h"

struct LaunchSettings;
class Session;

class PasswdDlg : public ui::CFontMixin {
 public:
  static constexpr size_t kDigestCapacity = 100;    // stored digest text, with terminator
  static constexpr size_t kPasswordCapacity = 100;  // typed password, with terminator

  explicit PasswdDlg(const std::wstring& stored_digest);
  ~PasswdDlg() override;

  // The candidate's digest (over its ANSI bytes) equals the stored text.
  bool matches(const std::wstring& candidate) const;
  // The modal dialog; OK is enabled only while the edit holds the right password.
  // IDOK when it was accepted, IDCANCEL when cancelled, -1 when it could not be
  // created.
  INT_PTR ask(HWND parent, const LaunchSettings& settings);
  bool cancelled() const { return cancelled_; }

 private:
  static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  // The edit's text (at most 99 characters) matches; the buffer is wiped after.
  bool edit_matches(HWND dialog) const;

  wchar_t stored_[kDigestCapacity] = {};
  const LaunchSettings* settings_ = nullptr;
  qz::gdi_object<HFONT> language_font_;
  bool cancelled_ = false;
};

// The digest of a candidate as the dialog computes it: the candidate converted to
// the thread's ANSI code page, the CRC over at most as many bytes as it has
// characters.
uint32_t candidate_digest(const std::wstring& candidate);

// The start-up check. False: the launch stops, the result code holding 1209
// (silent or auto launch without the right /p, or no dialog could ask) or -1
// (cancelled). An /auto launch compares /p like /s does: the launch sequence runs
// /auto unattended (no language dialog either), so a password dialog there would
// wait for nobody. A dialog that cannot be shown stops the launch rather than let
// a protected package install unchecked.
bool check_installation_password(Session& session);
