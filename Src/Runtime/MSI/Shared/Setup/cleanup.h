// The run's deletion list "_QZMSIDEL.INI" in the temporary folder, and
// DeleteAction, which works it off at the end.
//
// Whoever puts a file or folder into the temporary folder that must go at the
// end records it here. Removal is conservative about folders: only a folder the
// run made itself (recorded with record_created_folder when it was created, or
// lying inside such a folder) is removed together with its contents. Any other
// folder only loses the files the run recorded and is left in place, even when
// it becomes empty. A removal with contents never follows a junction or symbolic
// link; it removes the link itself. An entry whose path passes through a link
// below the temporary folder is not touched at all: it names the link's far end.
// Nor is an entry that does not lie below the temporary folder (by the rule of
// cleanup_rules::lies_below): it leaves the list unused.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// [Files] <last component of path> = path
void record_file(const std::wstring& path);
// The same for several files, in one write of the list.
void record_files(const std::vector<std::wstring>& paths);
// [Files] key = path
void record_file_as(const std::wstring& path, const std::wstring& key);
// [Folders] <last component of path> = path
void record_folder(const std::wstring& path);
// The run has just made `path` (a folder that did not exist before): it may go
// with everything in it. Kept for this process and, with `pass_on`, in [Created]
// of the list for a later process working in the same temporary folder (the
// relaunched copy).
void record_created_folder(const std::wstring& path, bool pass_on = true);
// The folders this process knows the run has made.
std::vector<std::wstring> created_folders();
// Removes `folder` when it is empty and the run made it; true when it went.
bool remove_made_folder(const std::wstring& folder);

// The run has moved on from `folder` to another temporary folder (/e names the one
// a run before a restart left). The clean-up works off `folder` too, after the
// run's own, so the copy of the launcher made there for this run does not stay.
void record_left_temp_folder(const std::wstring& folder);

// The deletion list's full path ("" while there is no temporary folder).
std::wstring deletion_list_path();

// Works the deletion list of the process's temporary folder off from the message
// loop of a hidden window: the first pass at once, the next one at once while
// passes shorten the list, and one timer period after a pass that found something
// still in use; after ten such waited passes what is still listed stays.
class DeleteAction {
 public:
  static constexpr UINT kPassInterval = 1000;  // ms
  static constexpr int kMaxPasses = 10;        // waited passes

  DeleteAction() = default;
  virtual ~DeleteAction() = default;
  DeleteAction(const DeleteAction&) = delete;
  DeleteAction& operator=(const DeleteAction&) = delete;

  // Runs the passes until one reports done. False only when the window could not
  // be made; the passes then run on a plain timed wait at the same pace.
  bool run(HINSTANCE module);
  // One pass; true when the clean-up is done.
  bool pass();

  // The passes after which the next one waited (or would wait) for the timer.
  int passes() const { return passes_; }
  // Whether the pass just made wants a timer period before the next one.
  bool wait_before_next() const { return wait_; }
  // Tests shorten the wait between passes.
  void set_pass_interval(UINT ms) { interval_ = ms ? ms : 1; }
  UINT pass_interval() const { return interval_; }

 private:
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void step(HWND window);
  bool counted(bool shortened, bool in_use);
  void finish(bool launcher_inside);

  HINSTANCE module_ = nullptr;
  int passes_ = 0;
  bool wait_ = false;
  UINT interval_ = kPassInterval;
};

// When a clean-up found the running launcher inside the folder it cleans, the
// command interpreter that removes the folder after the launcher has ended; the
// entry starts it as its very last step (nothing when no clean-up asked for it).
void start_pending_self_removal();
// DeleteAction::run for the process's module, for the temporary folder and then for
// each folder the run left; the exit paths of the launcher call this. The test
// launchers may shorten the wait between passes (test_hooks.h).
void process_deletion_list();
