// mksetup: the setup author's packing tool. Appends a type-4 setup stream to a
// launcher executable, lists the members of a setup executable and extracts them.
// Builds natively (Linux) and as a Windows console program; the byte format comes
// from package/stream_format.h and members are read back through the launcher's own
// decoder (package/member_decode.h); file access here is plain std::fstream.
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#include <process.h>
#include <sys/utime.h>
#else
#include <fcntl.h>
#include <locale.h>
#include <unistd.h>
#include <wctype.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "package/member_decode.h"
#ifdef _WIN32
#include "package/stream.h"
#endif
#include "package/stream_format.h"
#include "support/zstring.h"

namespace fs = std::filesystem;
using namespace qzstream;

namespace {

const char kUsage[] =
    "usage:\n"
    "  mksetup pack -l LAUNCHER -o OUTPUT [--level N] [member options] INPUT...\n"
    "      INPUT is a file, a folder (its files, in name order) or @LIST, a text file\n"
    "      with one member per line: PATH, optionally a tab and option words\n"
    "      (compress, store, always-compress, scramble=none|whole|blocks|both, name=NAME).\n"
    "      Member options apply to the inputs after them:\n"
    "        --compress         compress; a member that does not shrink is stored (default)\n"
    "        --always-compress  compress even when the member does not shrink\n"
    "        --store            store uncompressed\n"
    "        --scramble MODE    none, whole (file), blocks (1024-byte blocks, default), both\n"
    "      Whole-file scrambling and scrambled stored members are keyed with the name in\n"
    "      the ANSI code page of the system that runs the setup: they need an ASCII name.\n"
    "  mksetup list SETUP\n"
    "  mksetup extract SETUP FOLDER [NAME...]\n";

struct Failure {
  std::string message;
};

[[noreturn]] void fail(const std::string& m) { throw Failure{m}; }

// Paths and names: wide text inside the tool, the platform's form at the edges.
fs::path to_path(const std::wstring& w) {
#ifdef _WIN32
  return fs::path(w);
#else
  return fs::path(utf8_encode(w));
#endif
}
std::wstring from_path(const fs::path& p) {
#ifdef _WIN32
  return p.wstring();
#else
  return utf8_decode(p.string());
#endif
}
fs::path upath(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }
std::string shown(const std::wstring& w) { return utf8_encode(w); }
std::string shown(const fs::path& p) { return shown(from_path(p)); }

// A name in the ANSI code page, as the launcher's thread converts it for the keys of
// stored and whole-file scrambled members. A Linux build has no ANSI code page:
// Windows-1252 stands in, which only matters for members another packer made.
std::string ansi_of(const std::wstring& w) {
#ifdef _WIN32
  return ansi_member_name(w);
#else
  std::string s;
  cp1252_encode(w, s);
  return s;
#endif
}

#ifdef _WIN32
constexpr AnsiDecoder kAnsiDecoder = &member_name_from_ansi;
#else
constexpr AnsiDecoder kAnsiDecoder = nullptr;  // type-1 names shown as Latin-1
#endif

bool is_ascii(const std::wstring& w) {
  return std::all_of(w.begin(), w.end(), [](wchar_t c) { return static_cast<uint32_t>(c) < 0x80; });
}

// The name as the launcher's member map folds it (ASCII and Latin-1 letters).
std::wstring launcher_fold(const std::wstring& w) {
  std::wstring f(w);
  for (auto& c : f) c = wide_lower(c);
  return f;
}

// The name with every letter case-mapped as a Windows file system compares names.
std::wstring unicode_fold(const std::wstring& w) {
  std::wstring f(w);
#ifdef _WIN32
  if (!f.empty()) {
    CharUpperBuffW(f.data(), static_cast<DWORD>(f.size()));
    CharLowerBuffW(f.data(), static_cast<DWORD>(f.size()));
  }
#else
  static const locale_t utf8 = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return l ? l : newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
  }();
  if (!utf8) fail("no UTF-8 locale (C.UTF-8) to compare member names ignoring case");
  for (auto& c : f) c = static_cast<wchar_t>(towlower_l(towupper_l(static_cast<wint_t>(c), utf8), utf8));
#endif
  return f;
}

class FileSource : public ByteSource {
 public:
  explicit FileSource(const fs::path& p) : f_(p, std::ios::binary) {
    if (!f_) fail("cannot open " + shown(p) + ": " + std::strerror(errno));
    f_.seekg(0, std::ios::end);
    size_ = static_cast<uint64_t>(f_.tellg());
  }
  size_t read_at(uint64_t offset, void* buffer, size_t count) override {
    if (offset >= size_) return 0;
    f_.clear();
    f_.seekg(static_cast<std::streamoff>(offset));
    f_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(std::min<uint64_t>(count, size_ - offset)));
    return static_cast<size_t>(f_.gcount());
  }
  uint64_t size() override { return size_; }

 private:
  std::ifstream f_;
  uint64_t size_ = 0;
};

constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ull;

uint64_t filetime_of(int64_t seconds, int64_t nanoseconds) {
  return kUnixEpochAsFiletime + static_cast<uint64_t>(seconds) * 10000000ull + static_cast<uint64_t>(nanoseconds / 100);
}

struct Times {
  uint64_t creation = 0, write = 0, access = 0;
};

Times file_times(const fs::path& p) {
  Times t;
#ifdef _WIN32
  struct _stat64 st;
  if (_wstat64(p.c_str(), &st) == 0) {
    t.creation = filetime_of(st.st_ctime, 0);  // creation time on Windows
    t.write = filetime_of(st.st_mtime, 0);
    t.access = filetime_of(st.st_atime, 0);
  }
#else
  struct stat st;
  if (stat(p.c_str(), &st) == 0) {
    t.write = filetime_of(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    t.access = filetime_of(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    t.creation = t.write;  // Linux keeps no creation time we can read portably
  }
#endif
  return t;
}

// Restores last-write and last-access times (whole seconds on Windows).
void set_file_times(const fs::path& p, uint64_t write, uint64_t access) {
  if (write < kUnixEpochAsFiletime) return;
  if (access < kUnixEpochAsFiletime) access = write;
  const uint64_t w = write - kUnixEpochAsFiletime, a = access - kUnixEpochAsFiletime;
#ifdef _WIN32
  struct __utimbuf64 t;
  t.actime = static_cast<__time64_t>(a / 10000000ull);
  t.modtime = static_cast<__time64_t>(w / 10000000ull);
  _wutime64(p.c_str(), &t);
#else
  struct timespec t[2];
  t[0].tv_sec = static_cast<time_t>(a / 10000000ull);
  t[0].tv_nsec = static_cast<long>(a % 10000000ull * 100);
  t[1].tv_sec = static_cast<time_t>(w / 10000000ull);
  t[1].tv_nsec = static_cast<long>(w % 10000000ull * 100);
  utimensat(AT_FDCWD, p.c_str(), t, 0);
#endif
}

std::string format_filetime(uint64_t ft) {
  if (ft < kUnixEpochAsFiletime) return ft ? "before-1970" : "-";
  time_t s = static_cast<time_t>((ft - kUnixEpochAsFiletime) / 10000000ull);
  struct tm tmv;
#ifdef _WIN32
  gmtime_s(&tmv, &s);
#else
  gmtime_r(&s, &tmv);
#endif
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tmv);
  return buf;
}

// ---------------------------------------------------------------- packing

enum class Compress { IfSmaller, Always, Never };

struct MemberSpec {
  fs::path source;
  std::wstring name;
  Compress compress = Compress::IfSmaller;
  uint32_t scramble = kFlagScrambleBlocks;
};

struct Options {
  Compress compress = Compress::IfSmaller;
  uint32_t scramble = kFlagScrambleBlocks;
};

uint32_t parse_scramble(const std::string& mode) {
  if (mode == "none") return 0;
  if (mode == "whole") return kFlagScrambleWhole;
  if (mode == "blocks") return kFlagScrambleBlocks;
  if (mode == "both") return kFlagScrambleWhole | kFlagScrambleBlocks;
  fail("unknown scramble mode '" + mode + "' (none, whole, blocks or both)");
}

void add_file(std::vector<MemberSpec>& out, const fs::path& p, const Options& o, std::wstring name = {}) {
  MemberSpec m;
  m.source = p;
  m.name = name.empty() ? from_path(p.filename()) : name;
  m.compress = o.compress;
  m.scramble = o.scramble;
  out.push_back(std::move(m));
}

void add_input(std::vector<MemberSpec>& out, const std::string& arg, const Options& o);

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
      else if (w.rfind("name=", 0) == 0) name = utf8_decode(w.substr(5));
      else fail(shown(list) + ":" + std::to_string(number) + ": unknown option '" + w + "'");
    }
    fs::path p = upath(path);
    if (p.is_relative()) p = list.parent_path() / p;
    if (!name.empty()) {
      if (!fs::is_regular_file(p)) fail(shown(list) + ":" + std::to_string(number) + ": not a file: " + path);
      add_file(out, p, o, name);
    } else {
      add_input(out, utf8_encode(from_path(p)), o);
    }
  }
}

void add_input(std::vector<MemberSpec>& out, const std::string& arg, const Options& o) {
  if (!arg.empty() && arg[0] == '@') return add_list_file(out, upath(arg.substr(1)), o);
  fs::path p = upath(arg);
  std::error_code ec;
  if (fs::is_directory(p, ec)) {
    std::vector<fs::path> files;
    for (auto& e : fs::directory_iterator(p))
      if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (auto& f : files) add_file(out, f, o);
  } else if (fs::is_regular_file(p, ec)) {
    add_file(out, p, o);
  } else {
    fail("no such file or folder: " + arg);
  }
}

// The launcher must end where its PE image ends: the stream is looked for there.
void check_launcher(const fs::path& launcher) {
  FileSource src(launcher);
  uint32_t error = 0;
  uint32_t end = pe_stream_start(src, false, &error);
  if (error) fail("launcher " + shown(launcher) + " is not a Windows PE image");
  if (end != src.size()) {
    std::string why = "launcher " + shown(launcher) + " does not end at its PE image end (the image ends at byte " +
                      std::to_string(end) + ", the file has " + std::to_string(src.size()) + " bytes). ";
    if (pe_stream_start(src, true) != end)
      why += "It is signed: pack the unsigned launcher and sign the result afterwards.";
    else
      why += "Data follows the image (a symbol table from an unstripped build, or a stream already appended): "
             "use a stripped launcher without a stream.";
    fail(why);
  }
}

fs::path temporary_beside(const fs::path& p) {
#ifdef _WIN32
  const int pid = _getpid();
#else
  const int pid = static_cast<int>(getpid());
#endif
  fs::path t = p;
  t += ".mksetup-" + std::to_string(pid) + ".tmp";
  return t;
}

// The setup is written under a temporary name beside the output and takes the
// output's name only when complete: a pack that fails leaves no file that looks like
// a setup (and an older output as it was).
class Output {
 public:
  explicit Output(const fs::path& p)
      : final_(p), path_(temporary_beside(p)), f_(path_, std::ios::binary | std::ios::trunc | std::ios::out) {
    if (!f_) fail("cannot create " + shown(path_) + ": " + std::strerror(errno));
  }
  ~Output() {
    if (committed_) return;
    f_.close();
    std::error_code ec;
    fs::remove(path_, ec);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  void write(const void* data, size_t n) {
    f_.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
    if (!f_) fail("cannot write " + shown(path_));
  }
  uint64_t tell() { return static_cast<uint64_t>(f_.tellp()); }
  void seek(uint64_t at) { f_.seekp(static_cast<std::streamoff>(at)); }
  // Cuts the file at `size` (a member stored after all may have left compressed
  // bytes behind) and gives it the output's name.
  void commit(uint64_t size) {
    f_.close();
    if (!f_) fail("cannot write " + shown(path_));
    std::error_code ec;
    fs::resize_file(path_, size, ec);
    if (!ec) fs::rename(path_, final_, ec);
    if (ec) fail("cannot write " + shown(final_) + ": " + ec.message());
    committed_ = true;
  }

 private:
  fs::path final_, path_;
  std::ofstream f_;
  bool committed_ = false;
};

struct Packed {
  uint32_t stored = 0;
  bool compressed = false;
};

constexpr size_t kReadChunk = 1 << 16;

// Writes one member's stored bytes at the output's position.
Packed write_member_data(Output& out, const MemberSpec& m, bool compress, const std::string& ansi_key, int level) {
  std::ifstream in(m.source, std::ios::binary);
  if (!in) fail("cannot open " + shown(m.source));
  // The keys the reader derives for the member (the stream is written as type 4).
  const MemberKeys keys = member_keys(4, m.scramble, 0, compress, utf8_encode(m.name), ansi_key);
  const bool blocks = (m.scramble & kFlagScrambleBlocks) != 0;
  const bool whole = keys.whole;
  ScrambleKey whole_key(keys.whole_key);
  ScrambleKey block_key(keys.coding.block_key);
  std::vector<uint8_t> buf(kReadChunk), zout(kReadChunk);
  uint64_t read_total = 0, stored = 0;
  auto emit = [&](uint8_t* p, size_t n) {
    if (blocks) block_key.scramble_blocks(p, n, stored);
    stored += n;
    if (stored > 0xFFFFFFFFull) fail("member " + shown(m.name) + " is 4 GiB or larger");
    out.write(p, n);
  };
  z_stream z{};
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(nullptr, deflateEnd);
  if (compress) {
    if (deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) fail("zlib cannot start");
    guard.reset(&z);
  }
  for (;;) {
    in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(buf.size()));
    size_t n = static_cast<size_t>(in.gcount());
    // A failed read must not pass for the end of the file: the member would be cut short.
    if (in.bad()) fail("cannot read " + shown(m.source));
    if (whole) whole_key.scramble(buf.data(), n, static_cast<size_t>(read_total));
    read_total += n;
    const bool last = n < buf.size();
    if (!compress) {
      if (n) emit(buf.data(), n);
    } else {
      z.next_in = buf.data();
      z.avail_in = static_cast<uInt>(n);
      int r;
      do {
        z.next_out = zout.data();
        z.avail_out = static_cast<uInt>(zout.size());
        r = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        if (r == Z_STREAM_ERROR) fail("zlib failed on " + shown(m.source));
        emit(zout.data(), zout.size() - z.avail_out);
      } while (z.avail_out == 0 || (last && r != Z_STREAM_END));
    }
    if (last) break;
  }
  if (read_total > 0xFFFFFFFFull) fail("member " + shown(m.name) + " is 4 GiB or larger");
  return {static_cast<uint32_t>(stored), compress};
}

int pack(int argc, char** argv, int i) {
  fs::path launcher, output;
  int level = Z_DEFAULT_COMPRESSION;
  Options o;
  std::vector<MemberSpec> members;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) fail("option " + a + " needs a value");
      return argv[++i];
    };
    if (a == "-l" || a == "--launcher") launcher = upath(value());
    else if (a == "-o" || a == "--output") output = upath(value());
    else if (a == "--level") level = std::stoi(value());
    else if (a == "--compress") o.compress = Compress::IfSmaller;
    else if (a == "--always-compress") o.compress = Compress::Always;
    else if (a == "--store") o.compress = Compress::Never;
    else if (a == "--scramble") o.scramble = parse_scramble(value());
    else if (a.size() > 1 && a[0] == '-' && a[1] == '-') fail("unknown option " + a);
    else add_input(members, a, o);
  }
  if (launcher.empty() || output.empty()) fail("pack needs -l LAUNCHER and -o OUTPUT");
  if (level < -1 || level > 9) fail("--level must be 0 to 9");
  if (members.empty()) fail("no members given");
  if (members.size() > 0xFFFF) fail("at most 65535 members fit in a stream");
  // Everything that can be refused is refused before anything is written.
  std::map<std::wstring, std::wstring> launcher_names, system_names;
  for (auto& m : members) {
    if (!is_safe_member_name(m.name))
      fail("member name '" + shown(m.name) + "' is not a plain Windows file name (separator, colon, '..', "
           "reserved device name, trailing dot or blank, or too long)");
    // The launcher keeps only the first of two names it folds alike, and two names a
    // Windows file system folds alike would be extracted into one file.
    for (auto [names, folded] : {std::pair{&launcher_names, launcher_fold(m.name)}, {&system_names, unicode_fold(m.name)}}) {
      auto [it, added] = names->emplace(folded, m.name);
      if (!added)
        fail(it->second == m.name ? "two members are named '" + shown(m.name) + "'"
                                  : "members '" + shown(it->second) + "' and '" + shown(m.name) +
                                        "' differ only in letter case, and Windows and the launcher take them for "
                                        "one name");
    }
    const bool whole = (m.scramble & kFlagScrambleWhole) && !(m.scramble & kFlagScrambleBlocks);
    if (!is_ascii(m.name) && (whole || (m.scramble && m.compress == Compress::Never)))
      fail("member '" + shown(m.name) + "': whole-file scrambling and scrambled stored members are keyed with the "
           "name in the ANSI code page of the system that runs the setup, which differs between systems, so only an "
           "ASCII name is read back right everywhere; compress it with block scrambling or leave it unscrambled");
  }
  check_launcher(launcher);
  std::error_code ec;
  if (fs::exists(output, ec) && fs::equivalent(output, launcher, ec)) fail("the output must not be the launcher");

  Output out(output);
  {
    std::ifstream l(launcher, std::ios::binary);
    std::vector<char> buf(kReadChunk);
    while (l.read(buf.data(), buf.size()) || l.gcount()) out.write(buf.data(), static_cast<size_t>(l.gcount()));
  }
  const uint64_t start = out.tell();
  auto header = build_stream_header(static_cast<uint16_t>(members.size()));
  out.write(header.data(), header.size());
  for (auto& m : members) {
    // ANSI keys are used for ASCII names only (checked above), which read the same in
    // every ANSI code page.
    const bool ascii = is_ascii(m.name);
    const std::string ansi = ascii ? utf8_encode(m.name) : std::string();
    const bool scrambled = m.scramble != 0;
    const std::string name16 = utf16le_encode(m.name);
    EntryInfo e;
    Times t = file_times(m.source);
    e.creation_time = t.creation;
    e.last_write_time = t.write;
    e.last_access_time = t.access;
    e.flags = m.scramble;
    const uint64_t entry_at = out.tell();
    auto eh = build_entry_header(e, static_cast<uint32_t>(name16.size()));
    out.write(eh.data(), eh.size());
    out.write(name16.data(), name16.size());
    const uint64_t data_at = out.tell();
    const uint64_t original = fs::file_size(m.source);
    Packed p = write_member_data(out, m, m.compress != Compress::Never, ansi, level);
    // A member that does not shrink is stored, unless its stored form would need an
    // ANSI key its name cannot give: then it stays compressed (keyed with UTF-8).
    if (p.compressed && m.compress == Compress::IfSmaller && p.stored >= original && (ascii || !scrambled)) {
      out.seek(data_at);
      p = write_member_data(out, m, false, ansi, level);
    }
    if (data_at + p.stored > 0xFFFFFFFFull) fail("the setup would reach 4 GiB, more than a stream can address");
    e.stored_size = p.stored;
    e.compressed = p.compressed ? 1 : 0;
    const uint64_t end = data_at + p.stored;
    out.seek(entry_at);
    eh = build_entry_header(e, static_cast<uint32_t>(name16.size()));
    out.write(eh.data(), eh.size());
    out.seek(end);
  }
  const uint64_t total = out.tell();
  out.commit(total);
  std::cout << "packed " << members.size() << " members into " << shown(output) << " (stream at " << start << ", "
            << total << " bytes)\n";
  return 0;
}

// ---------------------------------------------------------------- reading

struct Opened {
  std::unique_ptr<FileSource> src;
  Located where;
  Directory dir;
};

Opened open_setup(const fs::path& p) {
  Opened o;
  o.src = std::make_unique<FileSource>(p);
  o.where = locate_stream(*o.src);
  if (o.where.error) fail(shown(p) + " is not a Windows PE image");
  if (!o.where.header.valid) fail("no setup stream in " + shown(p));
  o.dir = read_directory(*o.src, o.where.start, kAnsiDecoder);
  return o;
}

int list(const fs::path& setup) {
  Opened o = open_setup(setup);
  std::cout << "stream at " << o.where.start << ", type " << o.dir.header.type << ", " << o.dir.header.count
            << " members\n";
  std::cout << "name\tstored\tflags\tcompressed\tcreated\tlast-write\tlast-access\n";
  for (auto& e : o.dir.entries)
    std::cout << shown(e.name) << '\t' << e.stored_size << '\t' << e.flags << '\t' << e.compressed << '\t'
              << format_filetime(e.creation_time) << '\t' << format_filetime(e.last_write_time) << '\t'
              << format_filetime(e.last_access_time) << '\n';
  if (o.dir.error) {
    std::cerr << "the directory ends after " << o.dir.entries.size() << " of " << o.dir.header.count
              << " members (truncated or damaged)\n";
    return 1;
  }
  return 0;
}

// Writes one member to `target` as the launcher would; false (and nothing left
// behind) on failure.
bool extract_member(ByteSource& src, const EntryInfo& e, const fs::path& target) {
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::cerr << "cannot create " << shown(target) << "\n";
    return false;
  }
  const MemberKeys keys = member_keys(e.type, e.flags, e.stored_size, e.compressed != 0, utf8_encode(e.name),
                                      e.type == 1 ? e.narrow_name : ansi_of(e.name));
  const ScrambleKey whole_key(keys.whole_key);
  uint64_t read_at = e.data_offset, written = 0;
  std::vector<uint8_t> piece;
  const DecodeResult r = decode_member(
      keys.coding,
      [&](uint8_t* buffer, size_t count) {
        const size_t got = src.read_at(read_at, buffer, count);
        read_at += got;
        return got;
      },
      [&](const uint8_t* data, size_t size) {
        if (keys.whole) {  // the launcher undoes this over the written file; here on the way
          piece.assign(data, data + size);
          whole_key.descramble(piece.data(), size, static_cast<size_t>(written));
          data = piece.data();
        }
        written += size;
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return static_cast<bool>(out);
      },
      {});
  out.close();
  std::string why;
  switch (r.status) {
    case DecodeStatus::kDone: if (!out) why = "cannot write " + shown(target); break;
    case DecodeStatus::kEndsEarly: why = "its stored bytes end early"; break;
    case DecodeStatus::kWriteFailed: why = "cannot write " + shown(target); break;
    case DecodeStatus::kZlibError: why = "damaged compressed data (zlib error " + std::to_string(r.zlib_code) + ")"; break;
    case DecodeStatus::kCancelled: why = "cancelled"; break;
  }
  if (!why.empty()) {
    std::cerr << "member " << shown(e.name) << " failed: " << why << "\n";
    std::error_code ec;
    fs::remove(target, ec);
    return false;
  }
  // As the launcher does: only an inflated member gets its times back.
  if (e.compressed) set_file_times(target, e.last_write_time, e.last_access_time);
  return true;
}

int extract(const fs::path& setup, const fs::path& folder, const std::vector<std::wstring>& names) {
  Opened o = open_setup(setup);
  fs::create_directories(folder);
  // The members the launcher sees: the first of the names it folds alike.
  std::map<std::wstring, const EntryInfo*> members;
  std::vector<const EntryInfo*> chosen;
  for (auto& e : o.dir.entries)
    if (members.emplace(launcher_fold(e.name), &e).second && names.empty()) chosen.push_back(&e);
  int failures = 0;
  for (auto& n : names) {
    auto it = members.find(launcher_fold(n));
    if (it == members.end()) {
      std::cerr << "no member named " << shown(n) << "\n";
      ++failures;
    } else if (std::find(chosen.begin(), chosen.end(), it->second) == chosen.end()) {
      chosen.push_back(it->second);
    }
  }
  for (const EntryInfo* e : chosen) {
    if (!is_safe_member_name(e->name)) {
      std::cerr << "refusing member '" << shown(e->name) << "': not a plain file name\n";
      ++failures;
    } else if (extract_member(*o.src, *e, folder / to_path(e->name))) {
      std::cout << "extracted " << shown(e->name) << "\n";
    } else {
      ++failures;
    }
  }
  if (o.dir.error) {
    std::cerr << "the directory ends after " << o.dir.entries.size() << " of " << o.dir.header.count << " members\n";
    ++failures;
  }
  return failures ? 1 : 0;
}

int run(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << kUsage;
    return 2;
  }
  std::string cmd = argv[1];
  if (cmd == "pack") return pack(argc, argv, 2);
  if (cmd == "list" && argc == 3) return list(upath(argv[2]));
  if (cmd == "extract" && argc >= 4) {
    std::vector<std::wstring> names;
    for (int i = 4; i < argc; ++i) names.push_back(utf8_decode(argv[i]));
    return extract(upath(argv[2]), upath(argv[3]), names);
  }
  std::cerr << kUsage;
  return 2;
}

}  // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16 and are handed on as UTF-8, the tool's narrow form.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(utf8_encode(wargv[i]));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  try {
    return run(argc, argv.data());
  } catch (const Failure& f) {
    std::cerr << "mksetup: " << f.message << "\n";
  } catch (const std::exception& e) {
    std::cerr << "mksetup: " << e.what() << "\n";
  }
  return 1;
}
#else
int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const Failure& f) {
    std::cerr << "mksetup: " << f.message << "\n";
  } catch (const std::exception& e) {
    std::cerr << "mksetup: " << e.what() << "\n";
  }
  return 1;
}
#endif
