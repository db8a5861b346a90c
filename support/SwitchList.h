// portable
// Tokenizer over one command-line text, with switch lookup and the text that is
// left once the looked-up switches are consumed.
#pragma once
#include <optional>
#include <string>
#include <vector>

class SwitchList {
 public:
  SwitchList() = default;
  explicit SwitchList(std::wstring text) : text_(std::move(text)) {}

  void set_text(std::wstring text);
  const std::wstring& text() const { return text_; }

  // Finds the first token "/name..." or "-name..." (name compared without regard
  // to case over its length). With exact, a token with a non-empty value is passed
  // over. On a match the value (the rest of the token) goes to *value when given,
  // the token's consumed flag is set to `consume`, and the result is true.
  bool find(const std::wstring& name, std::wstring* value = nullptr, bool exact = false, bool consume = false);
  bool find(const std::wstring& name, std::optional<std::wstring>& value, bool exact = false, bool consume = false);

  // Tokens not consumed, joined by single blanks; the whole text when never tokenized.
  std::wstring remaining() const;

  const std::vector<std::wstring>& tokens();
  size_t count();

 private:
  void parse();

  std::wstring text_;
  std::vector<std::wstring> tokens_;
  std::vector<int> consumed_;
  bool parsed_ = false;
};

// Splits a command-line text into tokens: a token runs to the first blank outside
// double quotes; quotes stay part of the token; only U+0020 separates.
std::vector<std::wstring> tokenize_command_line(const std::wstring& text);
