// portable
// One prerequisite as its .prq file describes it: the file's elements read into
// fields, its conditions evaluated against the system while loading, and the
// decision whether it is needed. The reader is sax::Parser with this object as
// its handler; only start tags carry meaning.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "prereq_conditions.h"
#include "prereq_section.h"
#include "prereq_system.h"
#include "xml/sax_parser.h"

struct LaunchSettings;

struct PrerequisiteFile {
  std::wstring local_file;
  std::wstring url;
  std::wstring checksum;
  bool operator==(const PrerequisiteFile&) const = default;
};

// Everything a .prq file and the runs of its prerequisite set.
struct PrerequisiteFields {
  std::wstring prq_path;  // of the file last loaded
  // Decisions.
  bool has_os_condition = false;
  bool os_condition_matched = false;
  bool has_condition = false;
  bool conditions_held = true;
  // `behavior`, `execute` and `wpmpackage` settings.
  bool hidden = false;
  bool msi_progress = false;
  bool optional = false;
  bool limited_user = false;  // `Lua`: runs without administrative rights
  bool requires_msi_engine = false;
  bool package_manager = false;
  bool pinned_version = false;  // `versiontype`
  bool ignore_tmp_rename = false;
  bool reboot_needed = false;  // set by the run
  int reboot_action = 1;
  int failure_action = 1;
  int kind = prq::kKindOrdinary;
  std::vector<PrerequisiteFile> files;
  std::vector<std::wstring> dependencies;
  std::wstring id;
  std::wstring alt_prq_url;
  std::wstring execute_file;
  std::wstring cmdline;
  std::wstring cmdline_silent;
  std::wstring reboot_codes;  // `returncodetoreboot`
  std::wstring force_silent;
  std::wstring package_name;
  std::wstring specific_version;
  std::wstring parameters;
  std::wstring data_file_location;  // the folder the last run took its files from
  bool operator==(const PrerequisiteFields&) const = default;
};

class CSetupPreRequisite : public sax::DocumentHandler {
 public:
  // The windows (HWND) and the cancel flag may be null; `settings` gives the
  // app-package helper's path. Kind 1 makes a package-manager prerequisite.
  // `system` answers every question about the machine and outlives the object.
  CSetupPreRequisite(void* progress_window, void* status_window, bool* cancel, LaunchSettings* settings, int kind,
                     prq::PrereqSystem& system);

  // Reads one .prq file, evaluating its conditions when `evaluate` is set. A
  // missing file leaves the object as it was; malformed text is read as far as
  // it goes. A non-empty override becomes both command lines.
  void LoadPrq(const std::wstring& path, bool evaluate, const std::wstring& override_command_line);

  // No operating-system condition or one that matched, and every condition held.
  bool IsNeeded() const;
  // After a run: the file has a condition and still calls for the prerequisite.
  bool HasFailed() const;

  bool EvaluateCondition(int type, int comparison, const std::wstring& path, const std::wstring& file_name,
                         const std::wstring& bits, const std::wstring& return_value);
  std::wstring ExpandPathVariables(const std::wstring& path, prq::RedirectionGuard& guard);

  const PrerequisiteFields& fields() const { return f_; }
  const prq::OsFacts& os_version() const { return os_; }
  void set_reboot_needed(bool needed) { f_.reboot_needed = needed; }
  void set_ignore_tmp_rename(bool ignore) { f_.ignore_tmp_rename = ignore; }
  void set_data_file_location(const std::wstring& folder) { f_.data_file_location = folder; }

  // The file list by index; empty strings past its end.
  size_t file_count() const { return f_.files.size(); }
  std::wstring local_file(size_t i) const;
  std::wstring url(size_t i) const;
  std::wstring checksum(size_t i) const;

  // Names that become paths, each empty when it could name anything but one file
  // or folder inside the prerequisite's folder (see prq::folder_name and friends).
  std::wstring folder_name() const;
  std::wstring placed_file_name(size_t i) const;
  std::wstring member_name(size_t i) const;
  std::wstring alternative_prq_name() const;

  // The trace line: text appended, then a result that writes it to the log and
  // starts it again; flush_trace writes it without a result.
  void trace(std::wstring_view text) { trace_.append(text); }
  void trace_result(bool ok);
  void flush_trace();

  void* progress_window() const { return progress_window_; }
  void* status_window() const { return status_window_; }
  void* host_window() const { return host_window_; }
  void set_host_window(void* window) { host_window_ = window; }
  bool* cancel_flag() const { return cancel_; }
  LaunchSettings* settings() const { return settings_; }
  prq::PrereqSystem& system() const { return system_; }

  void startElement(std::wstring_view name, const sax::AttributeList& attributes) override;

 private:
  void reset(bool keep_command_lines);
  void operating_system_condition(const sax::AttributeList& a);
  void condition(const sax::AttributeList& a);
  void file(const sax::AttributeList& a);
  void properties(const sax::AttributeList& a);
  void execute(const sax::AttributeList& a);
  void dependency(const sax::AttributeList& a);
  void behavior(const sax::AttributeList& a);
  void wpm_package(const sax::AttributeList& a);
  void log(int line, const std::wstring& text);

  prq::PrereqSystem& system_;
  void* progress_window_;
  void* status_window_;
  void* host_window_ = nullptr;
  bool* cancel_;
  LaunchSettings* settings_;
  prq::OsFacts os_;
  prq::ArchFacts arch_;
  uint16_t ui_language_;
  prq::PrqConditions conditions_;
  PrerequisiteFields f_;
  bool evaluate_ = false;
  std::wstring trace_;
};
