// A file put in place of whatever a name holds, never written through it. The
// bytes go into a new file under a fresh name in the same folder (created new: an
// entry already under that name, a planted link included, is never opened); once
// complete, the file takes its final name by its own handle, which replaces the
// entry there as an entry (a link is replaced, its target stays untouched).
#pragma once
#include <windows.h>

#include <string>

#include "support/handles.h"

namespace qz {

class new_file {
 public:
  new_file() = default;
  ~new_file() { discard(); }
  new_file(const new_file&) = delete;
  new_file& operator=(const new_file&) = delete;

  // Creates the file beside `path`, open for reading and writing. Others may read
  // it while it is written, and write it too with `share_write`; nobody can delete
  // or rename it. False with the thread's last error.
  bool create(const std::wstring& path, bool share_write = false);
  HANDLE get() const { return h_.get(); }
  // Gives the file its final name; false (last error set) when that fails, and the
  // file is deleted.
  bool commit();
  // Deletes the file unless it was committed; closes it either way.
  void discard();
  // The open handle, for a committed file (closing it is the caller's).
  file_handle release() { return std::move(h_); }

 private:
  file_handle h_;
  std::wstring path_;
  bool committed_ = false;
};

// Everything `source` holds, read from its start, into a new file `target` (never
// written through an entry already there). The committed file's handle, still
// open for writing; null, with nothing left behind and the last error set, when
// the copy could not be made whole.
file_handle copy_to_new_file(HANDLE source, const std::wstring& target);

}  // namespace qz
