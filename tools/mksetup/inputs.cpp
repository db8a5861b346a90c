#include "inputs.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <memory>

namespace mksetup {

namespace {

bool is_link(const fs::path& p) {
#ifdef _WIN32
  const DWORD a = GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
#else
  struct stat st;
  return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
#endif
}

// Where a path finally leads, every link on the way followed; empty when it leads
// nowhere.
fs::path real_path(const fs::path& p) {
#ifdef _WIN32
  HANDLE h = CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::wstring out(32768, L'\0');
  const DWORD n = GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()), FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= out.size()) return {};
  out.resize(n);
  return fs::path(out);
#else
  std::unique_ptr<char, decltype(&free)> r(realpath(p.c_str(), nullptr), &free);
  return r ? fs::path(r.get()) : fs::path();
#endif
}

bool lies_inside(const fs::path& path, const fs::path& folder) {
  auto f = folder.begin(), p = path.begin();
  for (; f != folder.end(); ++f, ++p) {
    if (p == path.end()) return false;
#ifdef _WIN32
    if (unicode_fold(f->wstring()) != unicode_fold(p->wstring())) return false;
#else
    if (*f != *p) return false;
#endif
  }
  return p != path.end();
}

void add_file(std::vector<MemberSpec>& out, const fs::path& p, const Options& o, std::wstring name = {}) {
  MemberSpec m;
  m.source = p;
  m.name = name.empty() ? from_path(p.filename()) : name;
  m.options = o;
  out.push_back(std::move(m));
}

void add_folder(std::vector<MemberSpec>& out, const fs::path& folder, const Options& o) {
  const fs::path real_folder = real_path(folder);
  if (real_folder.empty()) fail("cannot read the folder " + shown(folder));
  std::vector<std::pair<fs::path, fs::path>> files;  // the entry, and the file it reads
  for (auto& e : fs::directory_iterator(folder)) {
    fs::path source = e.path();
    if (is_link(source)) {
      // A link planted in a shared input folder must not pack a file from elsewhere
      // (another user's, or the system's) into the setup.
      source = real_path(e.path());
      if (source.empty() || !lies_inside(source, real_folder))
        fail("'" + shown(e.path().filename()) + "' in " + shown(folder) +
             " is a link that leads outside the folder: not packed (name the file itself to pack it)");
    }
    std::error_code ec;
    if (fs::is_regular_file(source, ec)) files.emplace_back(e.path(), source);
  }
  std::sort(files.begin(), files.end());
  for (auto& [entry, source] : files) add_file(out, source, o, from_path(entry.filename()));
}

void add_list_file(std::vector<MemberSpec>& out, const fs::path& list, const Options& defaults) {
  std::ifstream in(list);
  if (!in) fail("cannot open the list " + shown(list));
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    Options o = defaults;
    std::wstring name;
    std::string path = line, words;
    if (auto tab = line.find('\t'); tab != std::string::npos) {
      path = line.substr(0, tab);
      words = line.substr(tab + 1);
    }
    size_t pos = 0;
    while (pos < words.size()) {
      size_t end = words.find(' ', pos);
      if (end == std::string::npos) end = words.size();
      std::string w = words.substr(pos, end - pos);
      pos = end + 1;
      if (w.empty()) continue;
      if (w == "compress") o.compress = Compress::IfSmaller;
      else if (w == "always-compress") o.compress = Compress::Always;
      else if (w == "store") o.compress = Compress::Never;
      else if (w.rfind("scramble=", 0) == 0) o.scramble = parse_scramble(w.substr(9));
      else if (w.rfind("name=", 0) == 0) name = qzstream::utf8_decode(w.substr(5));
      else fail(shown(list) + ":" + std::to_string(number) + ": unknown option '" + w + "'");
    }
    fs::path p = upath(path);
    if (p.is_relative()) p = list.parent_path() / p;
    if (!name.empty()) {
      if (!fs::is_regular_file(p)) fail(shown(list) + ":" + std::to_string(number) + ": not a file: " + path);
      add_file(out, p, o, name);
    } else {
      add_input(out, qzstream::utf8_encode(from_path(p)), o);
    }
  }
}

}  // namespace

uint32_t parse_scramble(const std::string& mode) {
  using namespace qzstream;
  if (mode == "none") return 0;
  if (mode == "whole") return kFlagScrambleWhole;
  if (mode == "blocks") return kFlagScrambleBlocks;
  if (mode == "both") return kFlagScrambleWhole | kFlagScrambleBlocks;
  fail("unknown scramble mode '" + mode + "' (none, whole, blocks or both)");
}

void add_input(std::vector<MemberSpec>& out, const std::string& arg, const Options& o) {
  if (!arg.empty() && arg[0] == '@') return add_list_file(out, upath(arg.substr(1)), o);
  fs::path p = upath(arg);
  std::error_code ec;
  if (fs::is_directory(p, ec)) add_folder(out, p, o);
  else if (fs::is_regular_file(p, ec)) add_file(out, p, o);
  else fail("no such file or folder: " + arg);
}

}  // namespace mksetup
