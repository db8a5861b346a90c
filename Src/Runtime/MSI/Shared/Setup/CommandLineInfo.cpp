#include "CommandLineInfo.h"

#include <windows.h>
#include <shellapi.h>

#include "session.h"

CommandLineInfo::CommandLineInfo(int argc, const wchar_t* const* argv) {
  for (int i = 0; argv && i < argc; ++i) args_.emplace_back(argv[i] ? argv[i] : L"");
}

CommandLineInfo CommandLineInfo::from_text(const wchar_t* command_line) {
  CommandLineInfo info;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(command_line ? command_line : L"", &argc);
  if (!argv) return info;
  for (int i = 0; i < argc; ++i) info.args_.emplace_back(argv[i]);
  LocalFree(argv);
  return info;
}

CommandLineInfo::~CommandLineInfo() = default;

bool CommandLineInfo::for_each_switch(const Handler& handler, Session& session) const {
  bool answer = true;
  for (size_t i = 1; i < args_.size(); ++i) {
    const std::wstring& arg = args_[i];
    if (arg.empty() || (arg[0] != L'/' && arg[0] != L'-')) {
      report_invalid_command_line(session);
      return false;
    }
    answer = handler(session, arg.substr(1));
    if (!answer) break;
  }
  return answer;
}
