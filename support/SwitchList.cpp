// portable
#include "support/SwitchList.h"

#include "support/zstring.h"

std::vector<std::wstring> tokenize_command_line(const std::wstring& text) {
  std::vector<std::wstring> out;
  size_t i = 0, n = text.size();
  while (i < n) {
    while (i < n && text[i] == L' ') ++i;
    if (i >= n) break;
    std::wstring tok;
    bool quoted = false;
    while (i < n && (quoted || text[i] != L' ')) {
      if (text[i] == L'"') quoted = !quoted;
      tok.push_back(text[i++]);
    }
    out.push_back(std::move(tok));
  }
  return out;
}

void SwitchList::set_text(std::wstring text) {
  text_ = std::move(text);
  tokens_.clear();
  consumed_.clear();
  parsed_ = false;
}

void SwitchList::parse() {
  if (parsed_) return;
  tokens_ = tokenize_command_line(text_);
  consumed_.assign(tokens_.size(), 0);
  parsed_ = true;
}

const std::vector<std::wstring>& SwitchList::tokens() {
  parse();
  return tokens_;
}

size_t SwitchList::count() {
  parse();
  return tokens_.size();
}

bool SwitchList::find(const std::wstring& name, std::wstring* value, bool exact, bool consume) {
  parse();
  for (size_t i = 0; i < tokens_.size(); ++i) {
    const std::wstring& t = tokens_[i];
    if (t.empty() || (t[0] != L'/' && t[0] != L'-')) continue;
    if (t.size() - 1 < name.size()) continue;
    if (!wide_iequals(std::wstring_view(t).substr(1, name.size()), name)) continue;
    std::wstring rest = t.substr(1 + name.size());
    if (exact && !rest.empty()) continue;
    if (value) *value = rest;
    consumed_[i] = consume ? 1 : 0;
    return true;
  }
  return false;
}

bool SwitchList::find(const std::wstring& name, std::optional<std::wstring>& value, bool exact, bool consume) {
  std::wstring v;
  if (!find(name, &v, exact, consume)) {
    value.reset();
    return false;
  }
  value = std::move(v);
  return true;
}

std::wstring SwitchList::remaining() const {
  if (!parsed_) return text_;
  std::wstring out;
  for (size_t i = 0; i < tokens_.size(); ++i) {
    if (consumed_[i]) continue;
    if (!out.empty()) out.push_back(L' ');
    out += tokens_[i];
  }
  return out;
}
