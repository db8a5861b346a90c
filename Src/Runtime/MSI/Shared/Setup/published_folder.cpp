#include "published_folder.h"

#include <cstring>

#include "support/debuglog.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\published_folder";

void PublishedFolder::publish(const std::wstring& name, const std::wstring& folder) {
  HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, name.c_str());
  if (!h) {
    QZ_LOG(L"Could not publish the temporary folder under %s (%d)", name.c_str(), static_cast<int>(GetLastError()));
    return;
  }
  if (void* view = MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, kSize)) {
    // UTF-16 without terminator; the rest zero (an older block of the same name may hold more).
    size_t bytes = folder.size() * sizeof(wchar_t) < kSize ? folder.size() * sizeof(wchar_t) : kSize;
    memcpy(view, folder.data(), bytes);
    memset(static_cast<char*>(view) + bytes, 0, kSize - bytes);
    UnmapViewOfFile(view);
  }
  close();
  handle_ = h;
}

void PublishedFolder::close() {
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
}
