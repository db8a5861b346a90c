// Provisional body of the Internet transport: no address can be opened, so a
// file or copy source on the Internet fails as not supported. The transport
// replaces this file.
#include "net/internet.h"

#include <windows.h>

#include "package/qzfile.h"

namespace qz {

uint32_t read_internet_file(const std::wstring&, std::vector<uint8_t>& body) {
  body.clear();
  return kErrorNotSupported;
}

std::unique_ptr<CopySource> open_url_copy_source(const std::wstring&) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return nullptr;
}

void install_internet_transport() {
  set_url_source_opener(&open_url_copy_source);
  set_internet_file_reader(&read_internet_file);
}

}  // namespace qz
