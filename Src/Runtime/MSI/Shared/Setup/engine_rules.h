// portable
// The pure rules of the bridge to the script engine library: what the launcher
// does with the engine's answer, the arguments it hands over, which Binary rows
// carry an engine, and the folder the engine's resources go to.
#pragma once
#include <string>
#include <string_view>

namespace engine_rules {

// What follows an answer of the engine's RunQZMSISetup.
struct Effect {
  bool restart = false;  // schedule the installation after a restart (answer -8)
  unsigned message = 0;  // the numbered message reported; 0 for none
};
Effect result_effect(int result);

// The language the engine gets: 0 unless the setup offers two languages or more.
int engine_language(int ui_language, size_t supported_languages);
// The setup name the engine gets: "setup.exe" when the engine travels in the
// launcher's stream, otherwise the launcher's path, at most 1024 characters.
std::wstring setup_name(bool engine_in_stream, std::wstring_view launcher_path);
// The forwarded command line asks for a removal (the initialisation says so).
bool remove_only(std::wstring_view forwarded_command_line);

// A Binary row whose name begins with QZSetup.dll or QZSetup64.dll (case matters)
// carries an engine; *is64 tells which.
bool is_engine_row(std::wstring_view name, bool* is64);

// A GUID in braces: "{" 8-4-4-4-12 hexadecimal digits "}".
bool is_braced_guid(std::wstring_view text);
// The engine's resource folder name from its TempPathGuid: the 32-bit engine's is
// the first nine characters and "}", the 64-bit engine's "{" and the last nine.
// False for anything but a GUID in braces: the name becomes a folder, so a
// separator, ".." or a drive in it would place the resources elsewhere.
bool resource_folder_name(std::wstring_view temp_path_guid, bool is64, std::wstring* name);

// The first argument of RunQZMSISetup and its product-code flag: the package path
// when [Startup] Source is not 0 (flag 0), else the product code (flag 1).
struct Target {
  std::wstring text;
  int is_product_code = 0;
};
Target setup_target(int source, const std::wstring& package_path, const std::wstring& product_code);

}  // namespace engine_rules
