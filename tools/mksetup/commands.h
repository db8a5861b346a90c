// The packing tool's commands; each returns the process exit code and reports a
// failure it cannot go on from by throwing Failure.
#pragma once
#include <string>
#include <vector>

#include "tool.h"

namespace mksetup {

// pack -l LAUNCHER -o OUTPUT [options] INPUT...; `args` after the command word.
int pack(const std::vector<std::string>& args);
int list(const fs::path& setup);
int extract(const fs::path& setup, const fs::path& folder, const std::vector<std::wstring>& names);
int verify(const fs::path& setup);
#ifdef QZ_MKSETUP_INIT
// init PACKAGE.msi [-o setup.ini] [--force]
int init(const std::vector<std::string>& args);
#endif

}  // namespace mksetup
