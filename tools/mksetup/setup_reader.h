// Reading a built setup the way the launcher does: the stream located by the
// launcher's own rules, its directory, and members decoded by the launcher's
// decoder (the whole-file pass undone on the way instead of over the written file).
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "package/member_decode.h"
#include "tool.h"

namespace mksetup {

class Progress;

struct OpenedSetup {
  std::unique_ptr<FileSource> source;
  qzstream::Located where;
  qzstream::Directory directory;
};
// Fails when the file is no PE image or carries no stream.
OpenedSetup open_setup(const fs::path& setup);

// Decodes one member into `write`; counts its stored bytes into `progress` when given.
qzstream::DecodeResult decode_entry(qzstream::ByteSource& source, const qzstream::EntryInfo& entry,
                                    const qzstream::MemberWrite& write, Progress* progress);

// Why a decode failed, in words ("" when it did not).
std::string decode_problem(const qzstream::DecodeResult& result);

}  // namespace mksetup
