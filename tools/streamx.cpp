// streamx: a Windows console front end over the launcher's own STREAM reader, for
// tests and benchmarks: lists a setup executable's members and extracts them exactly
// as the launcher does.
//   streamx list SETUP
//   streamx extract SETUP NAME TARGET [--cancel-at N] [--stats] [--thread-locale HEXLCID]
//   streamx all SETUP FOLDER
// Exit code 0 when the operation succeeded, 1 when it failed, 2 on bad usage.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "package/stream.h"

namespace {

void out(const std::string& s) { fwrite(s.data(), 1, s.size(), stdout); }
std::string u8(const std::wstring& w) { return qzstream::utf8_encode(w); }

class Recorder : public IStreamProgress {
 public:
  long long cancel_at = -1;
  unsigned calls = 0;
  uint32_t last_done = 0, last_total = 0;
  bool progress(uint32_t done, uint32_t total) override {
    ++calls;
    last_done = done;
    last_total = total;
    return cancel_at >= 0 && done >= cancel_at;
  }
  void show_status(int kind, const zString& name) override {
    out("status " + std::to_string(kind) + " " + u8(name) + "\n");
  }
};

struct Memory {
  size_t working = 0, peak = 0, private_bytes = 0;
};

Memory memory() {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  Memory m;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c)) {
    m.working = c.WorkingSetSize;
    m.peak = c.PeakWorkingSetSize;
    m.private_bytes = c.PeakPagefileUsage;
  }
  return m;
}

void choose(const StreamEntry& member, void* context, zpath& target) {
  target = static_cast<zpath*>(context)->join(member.name);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  std::wstring cmd = argv[1];
  zpath setup(argv[2]);
  if (cmd == L"list") {
    STREAM s(setup);
    out("valid=" + std::to_string(s.is_valid()) + " type=" + std::to_string(s.stream_type()) +
        " start=" + std::to_string(s.stream_start()) + " total=" + std::to_string(s.total_size()) +
        " count=" + std::to_string(s.entries().size()) + " error=" + std::to_string(s.last_error()) + "\n");
    for (auto& [name, e] : s.entries())
      out(u8(e.name) + "\t" + std::to_string(e.stored_size) + "\t" + std::to_string(e.flags) + "\t" +
          std::to_string(e.compressed) + "\n");
    return s.is_valid() ? 0 : 1;
  }
  if (cmd == L"extract" && argc >= 5) {
    Recorder rec;
    bool stats = false;
    for (int i = 5; i < argc; ++i) {
      std::wstring a = argv[i];
      if (a == L"--cancel-at" && i + 1 < argc) rec.cancel_at = _wtoi64(argv[++i]);
      else if (a == L"--stats") stats = true;
      else if (a == L"--thread-locale" && i + 1 < argc) SetThreadLocale(wcstoul(argv[++i], nullptr, 16));
    }
    const Memory before = memory();
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    bool ok;
    uint32_t stored = 0;
    {
      STREAM s(setup);
      if (auto* e = s.find(argv[3])) stored = e->stored_size;
      ok = s.extract(argv[3], zpath(argv[4]), &rec);
    }
    QueryPerformanceCounter(&t1);
    const Memory after = memory();
    out(std::string("result=") + (ok ? "ok" : "failed") + " progress_calls=" + std::to_string(rec.calls) +
        " last_done=" + std::to_string(rec.last_done) + " last_total=" + std::to_string(rec.last_total) +
        " stored=" + std::to_string(stored) + "\n");
    if (stats) {
      double seconds = double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);
      WIN32_FILE_ATTRIBUTE_DATA a{};
      GetFileAttributesExW(argv[4], GetFileExInfoStandard, &a);
      unsigned long long size = (static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
      char line[256];
      snprintf(line, sizeof line, "seconds=%.3f bytes=%llu start_ws=%zu peak_ws=%zu peak_above_start=%zu\n", seconds,
               size, before.working, after.peak, after.peak > before.working ? after.peak - before.working : 0);
      out(line);
    }
    return ok ? 0 : 1;
  }
  if (cmd == L"all" && argc >= 4) {
    zpath folder(argv[3]);
    STREAM s(setup);
    Recorder rec;
    bool ok = s.extract_all(&choose, &folder, &rec);
    out(std::string("result=") + (ok ? "ok" : "failed") + "\n");
    return ok ? 0 : 1;
  }
  return 2;
}
