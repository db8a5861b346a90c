// portable
// A machine made of tables for the prerequisite rules: version, processor,
// registry (one table per view, the process's own view included, so a test sees
// which view was asked for), folders, environment, files with versions and
// contents, the helper's answer, and the log lines written.
#pragma once
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "prereq_system.h"
#include "support/zstring.h"

class FakeSystem : public prq::PrereqSystem {
 public:
  static constexpr prq::RootKey kMachine = 2, kUser = 1;

  prq::OsFacts os_facts{10, 0, 19045, 2, L"", 0, 1};
  prq::ArchFacts arch{true, false, false, false};
  uint16_t language = 1033;
  std::map<prq::Folder, std::wstring> folders{{prq::Folder::kWindows, L"C:\\Windows"},
                                              {prq::Folder::kSystem, L"C:\\Windows\\System32"},
                                              {prq::Folder::kLocalAppData, L"C:\\Users\\u\\AppData\\Local"},
                                              {prq::Folder::kCurrent, L"C:\\Work"}};
  std::map<std::wstring, std::wstring> environment;  // name (lower case) -> value

  struct File {
    prq::FileFacts facts;
    prq::PackedVersion version;
    std::vector<uint8_t> bytes;
  };
  std::map<std::wstring, File> files;  // lower-case path
  std::set<std::wstring> modules;      // lower-case paths of loaded modules
  bool unreadable = false;

  prq::ProcessRun helper_answer{true, true, 0, 0, 42};
  std::vector<std::wstring> launches;  // "file|parameters"
  std::vector<std::wstring> deleted;
  int redirection_offs = 0, redirection_restores = 0;
  bool wow64 = true;
  std::vector<std::wstring> lines;

  void add_key(prq::RootKey root, const std::wstring& key, prq::RegView view = prq::RegView::kDefault) {
    keys_.insert({root, lower(key), view});
  }
  void set_value(prq::RootKey root, const std::wstring& key, const std::wstring& name, uint32_t type,
                 std::vector<uint8_t> data, prq::RegView view = prq::RegView::kDefault) {
    add_key(root, key, view);
    values_[{root, lower(key), lower(name), view}] = {true, true, type, std::move(data)};
  }
  void set_string(prq::RootKey root, const std::wstring& key, const std::wstring& name, const std::wstring& text,
                  prq::RegView view = prq::RegView::kDefault) {
    std::vector<uint8_t> d;
    for (wchar_t c : text + L'\0') {
      d.push_back(static_cast<uint8_t>(c & 0xFF));
      d.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    set_value(root, key, name, 1, d, view);
  }
  void set_dword(prq::RootKey root, const std::wstring& key, const std::wstring& name, uint32_t v,
                 prq::RegView view = prq::RegView::kDefault) {
    set_value(root, key, name, 4, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}, view);
  }
  void add_file(const std::wstring& path, prq::PackedVersion version = {}, uint64_t time = 0, uint64_t size = 100) {
    files[lower(path)] = {{true, size, time}, version, {}};
  }
  void add_text_file(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    files[lower(path)] = {{true, bytes.size(), 0}, {}, bytes};
  }

  prq::OsFacts os() override { return os_facts; }
  prq::ArchFacts architecture() override { return arch; }
  uint16_t ui_language() override { return language; }
  bool key_exists(prq::RootKey root, const std::wstring& key, prq::RegView view) override {
    return keys_.count({root, lower(key), view}) > 0;
  }
  prq::RegValue query_value(prq::RootKey root, const std::wstring& key, const std::wstring& name,
                            prq::RegView view) override {
    auto it = values_.find({root, lower(key), lower(name), view});
    if (it != values_.end()) return it->second;
    prq::RegValue v;
    v.key_opened = keys_.count({root, lower(key), view}) > 0;
    return v;
  }
  std::wstring folder(prq::Folder which) override { return folders[which]; }
  std::wstring expand_environment(const std::wstring& text) override {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
      size_t end = text[i] == L'%' ? text.find(L'%', i + 1) : std::wstring::npos;
      auto it = end == std::wstring::npos ? environment.end() : environment.find(lower(text.substr(i + 1, end - i - 1)));
      if (it == environment.end()) {
        out.push_back(text[i]);
        continue;
      }
      out += it->second;
      i = end;
    }
    return out;
  }
  prq::FileFacts file(const std::wstring& path) override {
    auto it = files.find(lower(path));
    return it == files.end() ? prq::FileFacts{} : it->second.facts;
  }
  bool read_file(const std::wstring& path, size_t limit, std::vector<uint8_t>* bytes, uint32_t* error) override {
    auto it = files.find(lower(path));
    if (unreadable || it == files.end() || it->second.bytes.size() > limit) {
      *error = 5;
      return false;
    }
    *bytes = it->second.bytes;
    return true;
  }
  bool module_loaded(const std::wstring& path) override { return modules.count(lower(path)) > 0; }
  std::wstring copy_to_temporary(const std::wstring& path) override {
    std::wstring copy = L"C:\\Temp\\_qzcopy.tmp";
    files[lower(copy)] = files[lower(path)];
    return copy;
  }
  void delete_file(const std::wstring& path) override {
    deleted.push_back(path);
    files.erase(lower(path));
  }
  prq::PackedVersion file_version(const std::wstring& path) override {
    auto it = files.find(lower(path));
    return it == files.end() ? prq::PackedVersion{} : it->second.version;
  }
  bool redirection_off() override {
    if (!wow64) return false;
    ++redirection_offs;
    return true;
  }
  void redirection_restore() override { ++redirection_restores; }
  prq::ProcessRun run_hidden(const std::wstring& file, const std::wstring& parameters) override {
    launches.push_back(file + L"|" + parameters);
    return helper_answer;
  }
  void log(const wchar_t*, int, const std::wstring& text) override { lines.push_back(text); }

  static std::wstring lower(std::wstring s) {
    for (wchar_t& c : s) c = wide_lower(c);
    return s;
  }

 private:
  std::set<std::tuple<prq::RootKey, std::wstring, prq::RegView>> keys_;
  std::map<std::tuple<prq::RootKey, std::wstring, std::wstring, prq::RegView>, prq::RegValue> values_;
};

inline std::vector<uint8_t> utf8_bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
