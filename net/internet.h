// The Internet transport as the rest of the launcher reaches it: the file object
// reads whole http, https and ftp addresses through it, and the file copy takes
// them as a source. The launcher's start installs it into both.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/utils.h"

namespace qz {

// Reads the address whole into `body`: 0, or the error.
uint32_t read_internet_file(const std::wstring& url, std::vector<uint8_t>& body);
// A copy source over the address; null with the thread's last error set.
std::unique_ptr<CopySource> open_url_copy_source(const std::wstring& url);
// Hands both to the file object and the file copy.
void install_internet_transport();

}  // namespace qz
