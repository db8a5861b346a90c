// File copy with progress, from a local or network path or an Internet address.
#include <vector>

#include "support/handles.h"
#include "support/kfile.h"
#include "support/support_rules.h"
#include "support/utils.h"
#include "support/zstring.h"

namespace qz {
namespace {

constexpr DWORD kDefaultBlock = 32768;
constexpr DWORD kMaxBlock = 16u << 20;  // a larger request is cut to this, not allocated

CopyProgressFn g_progress = nullptr;
void* g_progress_context = nullptr;
UrlSourceOpener g_url_opener = nullptr;

int announce(int code, uint64_t arg, const std::wstring* path = nullptr) {
  return g_progress ? g_progress(code, arg, path, g_progress_context) : kCopyContinue;
}

class LocalSource : public CopySource {
 public:
  explicit LocalSource(HANDLE h) : file_(h) {}
  bool read(void* buffer, DWORD size, DWORD* got) override {
    return ReadFile(file_.get(), buffer, size, got, nullptr) != FALSE;
  }
  uint64_t size() override {
    LARGE_INTEGER size;
    return GetFileSizeEx(file_.get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  }
  bool times(FILETIME* creation, FILETIME* access, FILETIME* write) override {
    return GetFileTime(file_.get(), creation, access, write) != FALSE;
  }

 private:
  file_handle file_;
};

std::unique_ptr<CopySource> open_source(const std::wstring& source) {
  if (rules::is_internet_address(source)) return OpenUrlCopySource(source);
  // No write sharing: a target that is the source itself cannot be opened over it.
  HANDLE h = kfile::create_file(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<LocalSource>(h);
}

}  // namespace

void set_copy_progress(CopyProgressFn fn, void* context) {
  g_progress = fn;
  g_progress_context = context;
}

std::unique_ptr<CopySource> OpenUrlCopySource(const std::wstring& url) {
  if (g_url_opener) return g_url_opener(url);
  SetLastError(ERROR_NOT_SUPPORTED);  // no Internet transport installed
  return nullptr;
}

void set_url_source_opener(UrlSourceOpener opener) { g_url_opener = opener; }

bool CopyFileWithProgress(const std::wstring& source, const std::wstring& target, DWORD block_size, bool keep_times) {
  clear_last_failure();
  zpath folder = zpath(target).folder();
  if (!folder.empty()) {
    if (!CreateFolderTree(folder)) return false;
    if (!PathExists(folder, kPathFolder)) {
      record_failure(ERROR_PATH_NOT_FOUND, folder);
      return false;
    }
  }
  announce(kCopySource, 0, &source);
  announce(kCopyTarget, 0, &target);
  if (block_size == 0) block_size = kDefaultBlock;
  if (block_size > kMaxBlock) block_size = kMaxBlock;
  std::vector<unsigned char> buffer(block_size);

  for (;;) {
    clear_last_failure();
    std::unique_ptr<CopySource> input = open_source(source);
    if (!input) {
      record_failure(GetLastError(), source);
      return false;
    }
    FILETIME created{}, accessed{}, written{};
    bool have_times = keep_times && input->times(&created, &accessed, &written);
    uint64_t total = input->size();
    if (g_progress) announce(kCopyTotal, total);
    // Asked before the target is opened, so an abort here leaves an existing target as it was.
    if (announce(kCopyStart, 0) == kCopyAbort) {
      record_failure(ERROR_CANCELLED, target);
      SetLastError(ERROR_CANCELLED);
      return false;
    }
    file_handle output(kfile::create_file(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) {
      record_failure(GetLastError(), target);
      return false;
    }

    uint64_t copied = 0;
    bool complete = false;
    DWORD error = 0;
    std::wstring failed_path = target;
    for (;;) {
      DWORD got = 0;
      if (!input->read(buffer.data(), block_size, &got)) {
        error = GetLastError();
        failed_path = source;
        break;
      }
      if (got == 0) {
        // A source that ends before its announced size (a cut connection) is not a copy.
        complete = copied >= total;
        if (!complete) {
          error = ERROR_HANDLE_EOF;
          failed_path = source;
        }
        break;
      }
      DWORD put = 0;
      if (!WriteFile(output.get(), buffer.data(), got, &put, nullptr) || put != got) {
        error = GetLastError();
        if (error == 0) error = ERROR_WRITE_FAULT;  // a short write without an error
        break;
      }
      copied += got;
      if (announce(kCopyBlock, copied) == kCopyAbort) {
        error = ERROR_CANCELLED;
        break;
      }
    }
    if (complete && have_times) SetFileTime(output.get(), &created, &accessed, &written);
    if (!output.close() && complete) {
      complete = false;
      error = GetLastError();
    }
    input.reset();
    if (!complete) {
      kfile::delete_file(target.c_str());  // never leave a truncated file that looks like the real one
      record_failure(error, failed_path);
    }
    int answer = announce(complete ? kCopyDone : kCopyFailed, copied);
    if (answer == kCopyAgain) continue;
    if (!complete) SetLastError(error);
    return complete;
  }
}

}  // namespace qz
