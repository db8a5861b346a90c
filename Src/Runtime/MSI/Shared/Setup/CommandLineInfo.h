// The process argument vector as the shell's splitter produces it (quotes already
// removed), walked switch by switch for the session.
#pragma once
#include <functional>
#include <string>
#include <vector>

class Session;

class CommandLineInfo {
 public:
  // Copies argv[0..argc).
  CommandLineInfo(int argc, const wchar_t* const* argv);
  // Splits a command-line text with CommandLineToArgvW.
  static CommandLineInfo from_text(const wchar_t* command_line);
  virtual ~CommandLineInfo();

  int count() const { return static_cast<int>(args_.size()); }
  const std::vector<std::wstring>& arguments() const { return args_; }

  using Handler = std::function<bool(Session&, const std::wstring&)>;
  // For each argument after the program path: one that begins with neither a slash
  // nor a hyphen shows the usage message and ends the walk with false; otherwise
  // the handler gets the text after the switch character and a false answer ends
  // the walk. The result is the last answer (true without arguments).
  bool for_each_switch(const Handler& handler, Session& session) const;

 private:
  CommandLineInfo() = default;
  std::vector<std::wstring> args_;
};
