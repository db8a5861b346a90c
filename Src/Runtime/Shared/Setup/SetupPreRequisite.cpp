// portable
#include "SetupPreRequisite.h"

#include "package/LaunchSettings.h"
#include "package/text_encoding.h"
#include "prereq_rules.h"

namespace {

const wchar_t kLogSource[] = L"Src\\Runtime\\Shared\\Setup\\SetupPreRequisite";
const wchar_t kTraceStart[] = L"PrereqEngine: ";
// A description is a few KiB; anything this large is not one and is not read.
constexpr size_t kMaxPrqBytes = 8u << 20;

// A byte order mark chooses UTF-8 or UTF-16; without one the text is UTF-8.
std::wstring decode_prq(const std::vector<uint8_t>& bytes) {
  qz::ByteView view(bytes.data(), bytes.size());
  qz::DetectedEncoding e = qz::detect_encoding(view);
  int32_t page = e.code_page == qz::kCodePageAnsi ? qz::kCodePageUtf8 : e.code_page;
  return qz::decode_text(view.subspan(e.bom_size), page, qz::latin1_decode);
}

std::wstring joined(std::initializer_list<std::wstring_view> values) {
  std::wstring out;
  bool first = true;
  for (std::wstring_view v : values) {
    if (!first) out.push_back(L',');
    first = false;
    out.append(v);
  }
  return out;
}

}  // namespace

CSetupPreRequisite::CSetupPreRequisite(void* progress_window, void* status_window, bool* cancel,
                                       LaunchSettings* settings, int kind, prq::PrereqSystem& system)
    : system_(system),
      progress_window_(progress_window),
      status_window_(status_window),
      cancel_(cancel),
      settings_(settings),
      os_(system.os()),
      arch_(system.architecture()),
      ui_language_(system.ui_language()),
      conditions_(system, os_, arch_),
      trace_(kTraceStart) {
  f_.kind = kind;
  f_.package_manager = kind == prq::kKindPackageManager;
}

void CSetupPreRequisite::log(int line, const std::wstring& text) { system_.log(kLogSource, line, text); }

void CSetupPreRequisite::LoadPrq(const std::wstring& path, bool evaluate, const std::wstring& override_command_line) {
  evaluate_ = evaluate;
  // A replacement .prq of the same name keeps the command lines the manager resolved.
  bool keep_command_lines = !f_.alt_prq_url.empty() && prq::same_file_name(path, f_.prq_path);
  f_.prq_path = path;
  if (!system_.file(path).is_file) return;
  std::vector<uint8_t> bytes;
  uint32_t error = 0;
  if (!system_.read_file(path, kMaxPrqBytes, &bytes, &error)) {
    log(__LINE__, L"Prerequisite file " + path + L" could not be read, error " + std::to_wstring(error));
    bytes.clear();
  }
  reset(keep_command_lines);
  std::wstring text = decode_prq(bytes);
  try {
    sax::Parser::parse(*this, text);
  } catch (...) {
    // What was read so far stays; a broken description is no reason to stop setup.
  }
  if (!override_command_line.empty()) f_.cmdline = f_.cmdline_silent = override_command_line;
}

void CSetupPreRequisite::reset(bool keep_command_lines) {
  trace_ = kTraceStart;
  f_.has_os_condition = false;
  f_.os_condition_matched = false;
  f_.conditions_held = true;
  f_.files.clear();
  f_.id.clear();
  f_.execute_file.clear();
  f_.reboot_codes.clear();
  f_.force_silent.clear();
  f_.alt_prq_url.clear();
  f_.dependencies.clear();
  if (!keep_command_lines) {
    f_.cmdline.clear();
    f_.cmdline_silent.clear();
  }
}

bool CSetupPreRequisite::IsNeeded() const {
  if (f_.has_os_condition && !f_.os_condition_matched) return false;
  return f_.conditions_held;
}

bool CSetupPreRequisite::HasFailed() const { return f_.has_condition && IsNeeded(); }

bool CSetupPreRequisite::EvaluateCondition(int type, int comparison, const std::wstring& path,
                                           const std::wstring& file_name, const std::wstring& bits,
                                           const std::wstring& return_value) {
  std::wstring helper = settings_ ? settings_->app_package_helper : std::wstring();
  return conditions_.evaluate({type, comparison, path, file_name, bits, return_value}, helper,
                              f_.kind == prq::kKindAppBundle);
}

std::wstring CSetupPreRequisite::ExpandPathVariables(const std::wstring& path, prq::RedirectionGuard& guard) {
  return conditions_.expand_path(path, guard);
}

void CSetupPreRequisite::trace_result(bool ok) {
  trace_.append(ok ? L" -- Successful" : L" -- Failed!");
  flush_trace();
}

void CSetupPreRequisite::flush_trace() {
  log(__LINE__, trace_);
  trace_ = kTraceStart;
}

std::wstring CSetupPreRequisite::local_file(size_t i) const {
  return i < f_.files.size() ? f_.files[i].local_file : std::wstring();
}
std::wstring CSetupPreRequisite::url(size_t i) const { return i < f_.files.size() ? f_.files[i].url : std::wstring(); }
std::wstring CSetupPreRequisite::checksum(size_t i) const {
  return i < f_.files.size() ? f_.files[i].checksum : std::wstring();
}

std::wstring CSetupPreRequisite::folder_name() const { return prq::folder_name(f_.id); }
std::wstring CSetupPreRequisite::placed_file_name(size_t i) const { return prq::placed_file_name(local_file(i)); }
std::wstring CSetupPreRequisite::member_name(size_t i) const { return prq::member_name(f_.id, local_file(i)); }
std::wstring CSetupPreRequisite::alternative_prq_name() const { return prq::alternative_prq_name(f_.alt_prq_url); }

// ---- elements ------------------------------------------------------------------

void CSetupPreRequisite::startElement(std::wstring_view name, const sax::AttributeList& a) {
  if (name == L"operatingsystemcondition") {
    if (evaluate_ && !f_.os_condition_matched) operating_system_condition(a);
  } else if (name == L"condition") {
    if (evaluate_) condition(a);
  } else if (name == L"file") {
    if (!f_.package_manager) file(a);
  } else if (name == L"properties") {
    properties(a);
  } else if (name == L"execute") {
    if (!f_.package_manager) execute(a);
  } else if (name == L"dependency") {
    if (!f_.package_manager) dependency(a);
  } else if (name == L"behavior") {
    behavior(a);
  } else if (name == L"wpmpackage") {
    wpm_package(a);
  }
}

void CSetupPreRequisite::operating_system_condition(const sax::AttributeList& a) {
  f_.has_os_condition = true;
  trace_.append(L"operatingsystemcondition,");
  std::wstring values;
  bool ok = prq::os_condition_matches(a, os_, arch_, ui_language_, values);
  trace_.append(values.empty() ? values : values.substr(1));
  if (ok) f_.os_condition_matched = true;
  trace_result(ok);
}

void CSetupPreRequisite::condition(const sax::AttributeList& a) {
  f_.has_condition = true;
  std::wstring type = a.getValue(L"Type"), comparison = a.getValue(L"Comparison"), path = a.getValue(L"Path"),
               file_name = a.getValue(L"FileName"), bits = a.getValue(L"Bits"),
               return_value = a.getValue(L"ReturnValue");
  trace_.append(L"condition,").append(joined({type, comparison, path, file_name, bits, return_value}));
  bool ok = EvaluateCondition(prq::parse_int(type), prq::parse_int(comparison), path, file_name, bits, return_value);
  if (!ok) f_.conditions_held = false;
  trace_result(ok);
}

void CSetupPreRequisite::file(const sax::AttributeList& a) {
  PrerequisiteFile entry{a.getValue(L"LocalFile"), a.getValue(L"URL"), a.getValue(L"CheckSum")};
  trace_.append(L"file,").append(joined({entry.checksum, entry.local_file, entry.url, L"", L"", L""}));
  if (prq::placed_file_name(entry.local_file).empty())
    log(__LINE__, L"Prerequisite file '" + entry.local_file + L"' names no file of its own; it will not be placed");
  f_.files.push_back(std::move(entry));
  trace_result(true);
}

void CSetupPreRequisite::properties(const sax::AttributeList& a) {
  f_.id = a.getValue(L"Id");
  f_.alt_prq_url = a.getValue(L"AltPrqURL");
  trace_.append(L"properties,").append(joined({f_.id, f_.alt_prq_url}));
  if (prq::folder_name(f_.id).empty())
    log(__LINE__, L"Prerequisite identifier '" + f_.id + L"' cannot name a folder; its files will not be placed");
  trace_result(true);
}

void CSetupPreRequisite::execute(const sax::AttributeList& a) {
  std::wstring file = a.getValue(L"file"), cmdline = a.getValue(L"cmdline"),
               silent = a.getValue(L"cmdlinesilent");
  f_.execute_file = file;
  // The first non-empty command line of the file wins.
  if (f_.cmdline.empty()) f_.cmdline = system_.expand_environment(cmdline);
  if (f_.cmdline_silent.empty()) f_.cmdline_silent = system_.expand_environment(silent);
  f_.reboot_codes = a.getValue(L"returncodetoreboot");
  f_.force_silent = a.getValue(L"forcesilent");
  f_.requires_msi_engine = a.getValue(L"requiresmsiengine") == L"1";
  // The trace shows the texts as written: expanded ones may carry the environment's values.
  trace_.append(L"execute,").append(joined({file, cmdline, silent, f_.reboot_codes, f_.force_silent, L""}));
  trace_result(true);
}

void CSetupPreRequisite::dependency(const sax::AttributeList& a) {
  f_.dependencies.push_back(a.getValue(L"File"));
  trace_.append(L"dependency,").append(f_.dependencies.back());
  trace_result(true);
}

void CSetupPreRequisite::behavior(const sax::AttributeList& a) {
  // Zero or missing leaves a setting as it is: these can only be switched on or changed.
  struct Setting {
    const wchar_t* name;
    bool* flag;
    int* number;
  };
  const Setting settings[] = {
      {L"Optional", &f_.optional, nullptr},      {L"Reboot", nullptr, &f_.reboot_action},
      {L"Failure", nullptr, &f_.failure_action}, {L"Lua", &f_.limited_user, nullptr},
      {L"Hidden", &f_.hidden, nullptr},          {L"MsiProgress", &f_.msi_progress, nullptr},
      {L"IgnoreTmpRename", &f_.ignore_tmp_rename, nullptr},
  };
  trace_.append(L"behavior");
  for (const Setting& s : settings) {
    std::wstring text = a.getValue(s.name);
    trace_.append(L",").append(text);
    int value = prq::parse_int(text);
    if (value == 0) continue;
    if (s.flag) *s.flag = true;
    if (s.number) *s.number = value;
  }
  trace_result(true);
}

void CSetupPreRequisite::wpm_package(const sax::AttributeList& a) {
  std::wstring install = a.getValue(L"InstallWPMPackage"), version_type = a.getValue(L"versiontype");
  if (prq::parse_int(install) != 0) f_.package_manager = true;
  f_.pinned_version = prq::parse_int(version_type) != 0;
  f_.package_name = a.getValue(L"name");
  f_.specific_version = a.getValue(L"specificversion");
  f_.parameters = a.getValue(L"parameters");
  trace_.append(L"wpmpackage,")
      .append(joined({install, version_type, f_.package_name, f_.specific_version, f_.parameters}));
  bool ok = true;
  if (evaluate_) {
    // Also an operating-system condition: the package manager exists on Windows 10 clients only.
    f_.has_os_condition = true;
    ok = prq::package_manager_platform(os_);
    if (ok) f_.os_condition_matched = true;
  }
  trace_result(ok);
}
