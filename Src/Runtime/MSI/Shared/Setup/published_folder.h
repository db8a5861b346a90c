// The named block that tells other programs the run's temporary folder: 2048
// bytes of pagefile-backed shared memory named by the product code, holding the
// folder as UTF-16 without terminator, the rest zero.
#pragma once
#include <windows.h>

#include <string>

class PublishedFolder {
 public:
  static constexpr DWORD kSize = 2048;

  PublishedFolder() = default;
  PublishedFolder(const PublishedFolder&) = delete;
  PublishedFolder& operator=(const PublishedFolder&) = delete;
  ~PublishedFolder() { close(); }

  // Creates (or opens) the block `name` and writes `folder` into it, cut to the
  // block; the handle stays open until close. A block published before is closed.
  void publish(const std::wstring& name, const std::wstring& folder);
  void close();
  // A block is published now. The launcher only publishes and closes; this is for
  // callers that must know, and for the tests.
  bool is_open() const { return handle_ != nullptr; }

 private:
  HANDLE handle_ = nullptr;
};
