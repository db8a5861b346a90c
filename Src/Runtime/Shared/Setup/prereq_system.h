// portable
// What the prerequisite rules ask of the running system: its version and
// processor, registry values, folders, files and their versions, the app-package
// helper, the prerequisite file itself and the debug log. The Windows answers
// live in prereq_system_win.cpp; tests feed their own facts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace prq {

// Version record of the system, read once per prerequisite object. The extended
// part (service-pack major number, product type) is zero when it cannot be read.
struct OsFacts {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t platform_id = 0;
  std::wstring csd_version;
  uint32_t service_pack_major = 0;
  uint32_t product_type = 0;
};

// The machine's native processor.
struct ArchFacts {
  bool x64 = false;
  bool itanium = false;
  bool arm32 = false;
  bool arm64 = false;
  bool x86_family64() const { return x64 || itanium; }
  bool any64() const { return x86_family64() || arm64; }
};

// A version as two 32-bit words: (part1 << 16 | part2, part3 << 16 | part4).
struct PackedVersion {
  uint32_t high = 0;
  uint32_t low = 0;
  auto operator<=>(const PackedVersion&) const = default;
};

// The registry view a key is opened through: the process's own (no WOW64 flag),
// or the 32-bit or 64-bit one asked for explicitly.
enum class RegView { kDefault, k32, k64 };

// Index into kRootKeyNames (prereq_rules.h).
using RootKey = int;

struct RegValue {
  bool key_opened = false;
  bool found = false;
  uint32_t type = 0;  // REG_SZ 1, REG_EXPAND_SZ 2, REG_DWORD 4, ...
  std::vector<uint8_t> data;
};

struct FileFacts {
  bool is_file = false;  // exists and is not a folder
  uint64_t size = 0;
  uint64_t local_write_time = 0;  // last write in local time, high half first
};

struct ProcessRun {
  bool launched = false;     // the shell accepted the launch
  bool has_process = false;  // and handed back a process
  uint32_t exit_code = 0;
  uint32_t last_error = 0;  // when not launched
  intptr_t instance = 0;    // the shell's instance result
};

enum class Folder { kWindows, kSystem, kLocalAppData, kCurrent };

class PrereqSystem {
 public:
  virtual OsFacts os() = 0;
  virtual ArchFacts architecture() = 0;
  virtual uint16_t ui_language() = 0;

  virtual bool key_exists(RootKey root, const std::wstring& key, RegView view) = 0;
  virtual RegValue query_value(RootKey root, const std::wstring& key, const std::wstring& name, RegView view) = 0;

  // As the system gives it; empty when the system cannot say.
  virtual std::wstring folder(Folder which) = 0;
  virtual std::wstring expand_environment(const std::wstring& text) = 0;

  virtual FileFacts file(const std::wstring& path) = 0;
  // The whole file, refused (false) above `limit` bytes; `error` says why.
  virtual bool read_file(const std::wstring& path, size_t limit, std::vector<uint8_t>* bytes, uint32_t* error) = 0;
  virtual bool module_loaded(const std::wstring& path) = 0;
  // A new temporary file holding a copy of `path`; empty when it cannot be made.
  virtual std::wstring copy_to_temporary(const std::wstring& path) = 0;
  virtual void delete_file(const std::wstring& path) = 0;
  // The fixed file version of the version resource; 0.0.0.0 when there is none.
  virtual PackedVersion file_version(const std::wstring& path) = 0;

  // File-system redirection of a 32-bit process on a 64-bit system; this 64-bit
  // program is never redirected, so off() normally reports false. It is true
  // when it switched redirection off; only then is restore() called.
  virtual bool redirection_off() = 0;
  virtual void redirection_restore() = 0;

  // Starts `file` hidden through the shell and waits for it, keeping this
  // thread's windows painting.
  virtual ProcessRun run_hidden(const std::wstring& file, const std::wstring& parameters) = 0;

  // One debug-log line from `source` at `line`.
  virtual void log(const wchar_t* source, int line, const std::wstring& text) = 0;

 protected:
  ~PrereqSystem() = default;
};

// Switches redirection off for the rest of a condition and restores it after.
class RedirectionGuard {
 public:
  explicit RedirectionGuard(PrereqSystem& system) : system_(system) {}
  ~RedirectionGuard() {
    if (off_) system_.redirection_restore();
  }
  RedirectionGuard(const RedirectionGuard&) = delete;
  RedirectionGuard& operator=(const RedirectionGuard&) = delete;
  void switch_off() {
    if (!off_) off_ = system_.redirection_off();
  }

 private:
  PrereqSystem& system_;
  bool off_ = false;
};

}  // namespace prq
