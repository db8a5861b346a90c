// Owning wrappers for the system handles the support utilities use.
#pragma once
#include <windows.h>

#include <utility>

namespace qz {

// A file handle; INVALID_HANDLE_VALUE is kept as null. Closing keeps the thread's
// last error, so a failure can be reported after its handles are released.
class file_handle {
 public:
  file_handle() = default;
  explicit file_handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~file_handle() { reset(); }
  file_handle(file_handle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  file_handle& operator=(file_handle&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  file_handle(const file_handle&) = delete;
  file_handle& operator=(const file_handle&) = delete;
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  // Closes now; false when CloseHandle failed.
  bool close() {
    if (!h_) return true;
    BOOL ok = CloseHandle(h_);
    h_ = nullptr;
    return ok != FALSE;
  }
  void reset() {
    if (h_) {
      DWORD keep = GetLastError();
      CloseHandle(h_);
      SetLastError(keep);
      h_ = nullptr;
    }
  }

 private:
  HANDLE h_ = nullptr;
};

// A loaded library, freed with the object.
class module_handle {
 public:
  module_handle() = default;
  explicit module_handle(HMODULE m) : m_(m) {}
  ~module_handle() { reset(); }
  module_handle(module_handle&& o) noexcept : m_(std::exchange(o.m_, nullptr)) {}
  module_handle& operator=(module_handle&& o) noexcept {
    if (this != &o) {
      reset();
      m_ = std::exchange(o.m_, nullptr);
    }
    return *this;
  }
  module_handle(const module_handle&) = delete;
  module_handle& operator=(const module_handle&) = delete;
  HMODULE get() const { return m_; }
  explicit operator bool() const { return m_ != nullptr; }
  void reset() {
    if (m_) {
      DWORD keep = GetLastError();
      FreeLibrary(m_);
      SetLastError(keep);
      m_ = nullptr;
    }
  }

 private:
  HMODULE m_ = nullptr;
};

// A mutex this process may hold: released (when held) and closed with the object.
class mutex_handle {
 public:
  mutex_handle() = default;
  ~mutex_handle() { reset(); }
  mutex_handle(const mutex_handle&) = delete;
  mutex_handle& operator=(const mutex_handle&) = delete;
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  // Takes over a mutex this thread owns.
  void adopt_owned(HANDLE h) {
    reset();
    h_ = h;
  }
  void reset() {
    if (h_) {
      ReleaseMutex(h_);
      CloseHandle(h_);
      h_ = nullptr;
    }
  }

 private:
  HANDLE h_ = nullptr;
};

// A GDI object (font, brush, bitmap, palette), deleted with the object.
template <typename T>
class gdi_object {
 public:
  gdi_object() = default;
  explicit gdi_object(T o) : o_(o) {}
  ~gdi_object() { reset(); }
  gdi_object(const gdi_object&) = delete;
  gdi_object& operator=(const gdi_object&) = delete;
  T get() const { return o_; }
  explicit operator bool() const { return o_ != nullptr; }
  void reset(T o = nullptr) {
    if (o_) DeleteObject(o_);
    o_ = o;
  }

 private:
  T o_ = nullptr;
};

class find_handle {
 public:
  explicit find_handle(HANDLE h) : h_(h) {}
  ~find_handle() {
    if (h_ != INVALID_HANDLE_VALUE) {
      DWORD keep = GetLastError();
      FindClose(h_);
      SetLastError(keep);
    }
  }
  find_handle(const find_handle&) = delete;
  find_handle& operator=(const find_handle&) = delete;
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

class reg_key {
 public:
  reg_key() = default;
  ~reg_key() {
    if (k_) RegCloseKey(k_);
  }
  reg_key(const reg_key&) = delete;
  reg_key& operator=(const reg_key&) = delete;
  HKEY get() const { return k_; }
  HKEY* receive() { return &k_; }

 private:
  HKEY k_ = nullptr;
};

// A block from LocalAlloc (security descriptors, FormatMessage text).
template <typename T>
class local_ptr {
 public:
  local_ptr() = default;
  ~local_ptr() {
    if (p_) LocalFree(p_);
  }
  local_ptr(const local_ptr&) = delete;
  local_ptr& operator=(const local_ptr&) = delete;
  T get() const { return p_; }
  T* receive() { return &p_; }

 private:
  T p_ = nullptr;
};

}  // namespace qz
