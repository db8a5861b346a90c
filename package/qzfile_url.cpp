// portable
// Internet addresses for qz::file. The Internet transport replaces this body: it
// reads the address (agent "toys::file"; reload, keep-connection and no-cache) into
// `body` and returns 0, or returns its error.
#include "package/qzfile.h"

namespace qz {

uint32_t open_internet_file(const std::wstring& url, Bytes& body) {
  body.clear();
  return kErrorNotSupported;
}

}  // namespace qz
