// The external user-interface handler of a prerequisite package installed
// in-process: the installer's own interface is off while it lives, and its
// progress, action texts and questions go to the prerequisite's progress bar and
// status line (or, when both are the host window, to the host). Restores the
// previous handler, UI level and logging when it ends.
#pragma once
#include <windows.h>
#include <msi.h>

#include <cstdint>
#include <string>

class CAutoMsiProgress {
 public:
  // `silent`: questions are never shown (the installer takes its default).
  CAutoMsiProgress(HWND progress_bar, HWND status, bool* cancel, bool right_to_left, bool silent);
  virtual ~CAutoMsiProgress();
  CAutoMsiProgress(const CAutoMsiProgress&) = delete;
  CAutoMsiProgress& operator=(const CAutoMsiProgress&) = delete;

  // After each change of the bar; nothing here.
  virtual void on_progress(uint32_t position, uint32_t total) {}

  // One installer message as the handler answers it (public for the callback).
  int handle(UINT type, const wchar_t* message);

 private:
  int handle_local(UINT kind, UINT flags, const std::wstring& text);
  int forward_to_host(UINT kind, const std::wstring& text);
  void progress(const std::wstring& text);
  int ask(UINT kind, UINT flags, const std::wstring& text);

  HWND bar_;
  HWND status_;
  bool* cancel_;
  bool rtl_;
  bool silent_;
  uint32_t total_ = 0;
  uint32_t position_ = 0;
  int direction_ = 1;
  int step_ = 0;
  bool step_on_action_data_ = false;
  INSTALLUI_HANDLERW previous_handler_ = nullptr;
  INSTALLUILEVEL previous_level_ = INSTALLUILEVEL_NOCHANGE;
};
