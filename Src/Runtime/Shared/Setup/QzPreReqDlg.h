// The prerequisite dialog and the installation sequence it drives: the list of
// requirements with their status, Install and Cancel, a marquee while a
// prerequisite runs and byte progress while its files are copied, the questions
// and messages of the sequence, and the same traffic sent to a host window
// instead when another process shows the prerequisite user interface. One at a
// time; it lives for one RunPrerequisites call.
#pragma once
#include <windows.h>
#include <msi.h>

#include <cstdint>
#include <string>

#include "package/ProgressCalculator.h"
#include "package/session_dialog.h"

class CSetupPrereqMgr;
class CSetupPreRequisite;
struct LaunchSettings;

class QzPreReqDlg : public SessionDialog {
 public:
  // Results beyond the sequence's own (0 carry on, 7 restart pending, 9 stop).
  static constexpr int kNothingDone = 6;  // EXECUTEMODE=None: Install only closes the dialog

  QzPreReqDlg(CSetupPrereqMgr& manager, int dialog_mode, bool register_resume);
  ~QzPreReqDlg() override;
  QzPreReqDlg(const QzPreReqDlg&) = delete;
  QzPreReqDlg& operator=(const QzPreReqDlg&) = delete;

  void set_needs_elevation(bool on) { needs_elevation_ = on; }
  // Shows the dialog (or, silent, hosted or with every prerequisite hidden, runs
  // the sequence without one) and returns its end code.
  int RunPrerequisiteDialog(const std::wstring& features, bool all_hidden, MSIHANDLE* installer);

  // The installation sequence (prereq_sequence.cpp).
  int InstallPrerequisites(MSIHANDLE* installer);
  // The folder that holds the prerequisite's files once they are placed under
  // `base`; empty when a file cannot be placed.
  std::wstring LocatePrerequisiteFiles(CSetupPreRequisite& p, const std::wstring& base, int row);
  bool FetchPrerequisiteFile(CSetupPreRequisite& p, std::wstring& target, size_t i, size_t& count);
  void RegisterResume(int index);

  // What the sequence shows.
  void set_row_status(int row, unsigned text_id);
  int message(const std::wstring& text, UINT type, int silent_answer);
  void status_text(const std::wstring& text);
  void progress(int percent);
  bool cancel_requested();

  // SessionDialog: the session's progress and the process launcher's animation.
  HWND window() const override { return dialog_; }
  bool set_progress(int percent) override;
  bool cancelled() const override { return cancel_; }
  void start_stop_progress(bool start) override { StartStopProgress(start); }

  void StartStopProgress(bool start);

  // The dialog procedure's side (public for the procedure).
  void init_dialog(HWND dialog);
  void on_install();
  void on_cancel();
  void on_destroy();
  int on_copy_progress(int code, uint64_t arg, const std::wstring* path);

 private:
  LaunchSettings& settings();
  bool silent();
  HWND find_host();
  void cancel_request();
  // Sets the exit code a stopped sequence ends with and answers 9.
  int stop(int exit_code);
  int elevated_relaunch();
  int run_entries(MSIHANDLE* installer);
  void resolve_silent_command_lines(MSIHANDLE* installer);
  int engine_step();
  void restart_now();
  bool copy(const std::wstring& source, const std::wstring& target);
  void layout_for_downloads();
  HWND control(int id) const { return dialog_ ? GetDlgItem(dialog_, id) : nullptr; }

  CSetupPrereqMgr& mgr_;
  int mode_;
  bool register_resume_;
  bool needs_elevation_ = false;
  bool all_hidden_ = false;
  bool host_present_ = false;
  bool execute_none_ = false;
  bool current_hidden_ = false;
  bool busy_ = false;
  bool placing_ = false;
  bool cancel_ = false;
  bool laid_out_ = false;
  bool marquee_on_ = false;
  bool extraction_reported_ = false;
  std::wstring features_;
  std::wstring current_name_;
  std::wstring engine_package_;
  MSIHANDLE* installer_ = nullptr;
  HWND dialog_ = nullptr;
  HWND host_ = nullptr;
  LONG_PTR saved_bar_style_ = 0;
  int last_percent_ = -1;
  int handled_ = 0;
  ProgressCalculator calculator_;
  uint32_t copy_shift_ = 0;  // bits a count above 4 GiB is cut by for the calculator
  uint64_t copy_total_ = 0;
  DWORD last_text_tick_ = 0;
  std::wstring copy_source_;
  std::wstring copy_target_;
};

// The display name of a prerequisite: its .prq file name without folder and extension.
std::wstring prerequisite_display_name(const std::wstring& prq_path);
