// mksetup list and extract: the members of a setup as the launcher sees them.
#include <algorithm>
#include <iostream>
#include <map>

#include "commands.h"
#include "new_file.h"
#include "progress.h"
#include "setup_reader.h"

namespace mksetup {

using namespace qzstream;

namespace {

// Writes one member to `target` as the launcher would; false (and nothing left
// behind) on failure. The member is written to a new file and then takes the
// target's name, so a link in the target folder is replaced, never written through.
bool extract_member(ByteSource& src, const EntryInfo& e, const fs::path& target, Progress& progress) {
  try {
    NewFile out(target);
    const DecodeResult r = decode_entry(
        src, e,
        [&](const uint8_t* data, size_t size) {
          out.write(data, size);
          return true;
        },
        &progress);
    if (const std::string why = decode_problem(r); !why.empty()) {
      progress.clear();
      std::cerr << "member " << shown(e.name) << " failed: " << why << "\n";
      return false;
    }
    // As the launcher does: only an inflated member gets its times back.
    if (e.compressed) out.set_times(e.last_write_time, e.last_access_time);
    out.commit();
    return true;
  } catch (const Failure& f) {
    progress.clear();
    std::cerr << "member " << shown(e.name) << " failed: " << f.message << "\n";
    return false;
  }
}

}  // namespace

int list(const fs::path& setup) {
  OpenedSetup o = open_setup(setup);
  std::cout << "stream at " << o.where.start << ", type " << o.directory.header.type << ", "
            << o.directory.header.count << " members\n";
  std::cout << "name\tstored\tflags\tcompressed\tcreated\tlast-write\tlast-access\n";
  for (auto& e : o.directory.entries)
    std::cout << shown(e.name) << '\t' << e.stored_size << '\t' << e.flags << '\t' << e.compressed << '\t'
              << format_filetime(e.creation_time) << '\t' << format_filetime(e.last_write_time) << '\t'
              << format_filetime(e.last_access_time) << '\n';
  if (o.directory.error) {
    std::cerr << "the directory ends after " << o.directory.entries.size() << " of " << o.directory.header.count
              << " members (truncated or damaged)\n";
    return 1;
  }
  return 0;
}

int extract(const fs::path& setup, const fs::path& folder, const std::vector<std::wstring>& names) {
  OpenedSetup o = open_setup(setup);
  fs::create_directories(folder);
  // The members the launcher sees: the first of the names it folds alike.
  std::map<std::wstring, const EntryInfo*> members;
  std::vector<const EntryInfo*> chosen;
  for (auto& e : o.directory.entries)
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
  uint64_t bytes = 0;
  for (const EntryInfo* e : chosen) bytes += e->stored_size;
  Progress progress("extracting", bytes, chosen.size());
  for (const EntryInfo* e : chosen) {
    progress.next_member();
    if (!is_safe_member_name(e->name)) {
      progress.clear();
      std::cerr << "refusing member '" << shown(e->name) << "': not a plain file name\n";
      ++failures;
    } else if (extract_member(*o.source, *e, folder / to_path(e->name), progress)) {
      progress.clear();
      std::cout << "extracted " << shown(e->name) << "\n";
    } else {
      ++failures;
    }
  }
  if (o.directory.error) {
    std::cerr << "the directory ends after " << o.directory.entries.size() << " of " << o.directory.header.count
              << " members\n";
    ++failures;
  }
  return failures ? 1 : 0;
}

}  // namespace mksetup
