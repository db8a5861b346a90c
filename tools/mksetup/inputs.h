// The members a pack is given: files, folders (their files in name order) and
// list files, each with the member options in force where it appears.
#pragma once
#include <string>
#include <vector>

#include "tool.h"

namespace mksetup {

enum class Compress { IfSmaller, Always, Never };

struct Options {
  Compress compress = Compress::IfSmaller;
  uint32_t scramble = qzstream::kFlagScrambleBlocks;
};

struct MemberSpec {
  fs::path source;
  std::wstring name;
  Options options;
};

// "none", "whole", "blocks" or "both" as entry flags.
uint32_t parse_scramble(const std::string& mode);

// Adds what one argument names (a file, a folder or @LIST). A folder's entry that
// is a link leading outside the folder is refused by name; one that stays inside
// is read where it leads.
void add_input(std::vector<MemberSpec>& out, const std::string& arg, const Options& options);

}  // namespace mksetup
