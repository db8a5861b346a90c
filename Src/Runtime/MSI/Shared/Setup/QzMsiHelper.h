// The bridge to the product's script engine library (QZSetup.dll): the setup of
// script-driven packages, the run after a restart and the removal as part of a
// major upgrade go through it, and the engine's runtime files are unpacked for
// the package.
#pragma once
#include <windows.h>

#include <string>

class Session;

class QzMsiHelper {
 public:
  // The launcher's folder joined with QZSetup.dll.
  static std::wstring default_location(const std::wstring& launcher_path);
  // The engine library for a script-driven installation: the stream's member
  // extracted into the temporary folder, else the one beside the launcher. True
  // when the file exists; *path is the one tried last. Reports nothing.
  static bool locate_engine(Session& session, std::wstring* path);
  // The engine's runtime files from the package's Binary table into a new folder
  // of the run under its temporary folder (*folder; empty, and the folder gone,
  // when there are none or the script mode wants none). Everything written is
  // recorded for the clean-up. Failures are logged only.
  static bool extract_runtime_files(Session& session, const std::wstring& package_path, std::wstring* folder);

  // Loads the library at once (qz::load_library_beside: the search by name is the
  // system folder's alone in every role, so its dependencies are looked for beside
  // it and in the system folder); on failure the result code becomes 1670 and the
  // error is reported (initialise then answers false).
  explicit QzMsiHelper(const std::wstring& library);
  ~QzMsiHelper();
  QzMsiHelper(const QzMsiHelper&) = delete;
  QzMsiHelper& operator=(const QzMsiHelper&) = delete;

  // The library is loaded and exports RunQZMSISetup (else 1670, reported).
  bool initialise();
  // The installation through the engine (the package path, or the product code
  // when [Startup] Source is 0); the engine's answer, 0 without the entry point.
  int run_setup(Session& session, const std::wstring& package_path);
  // The run after a restart, with the whole command-line text: the engine gets
  // [Startup] ProductCode of the setup.ini beside the launcher. 0 without the
  // entry point.
  int run_from_settings(const std::wstring& command_line);
  // The arguments are passed through as given; 0 without the entry point.
  int major_upgrade_removal(const std::wstring& product_code, int first, int second, const std::wstring& text);

 private:
  std::wstring path_;
  HMODULE module_ = nullptr;
};
