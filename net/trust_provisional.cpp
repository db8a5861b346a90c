// Provisional body of the signature checks. No signature can be read yet, so
// every check fails closed: a setup that asks for the signer comparison is
// refused and no file is trusted. The signature checks replace this file.
#include "net/trust.h"

#include "support/debuglog.h"
#include "support/error_codes.h"

static const wchar_t kLogSource[] = L"net\\trust";

bool signer_gate_passes(const std::wstring&, const std::wstring&) {
  QZ_LOG(L"Signatures cannot be compared in this build: the package is refused");
  return false;
}

int verify_against_certificate(const std::wstring& file, const std::wstring&, bool) {
  QZ_LOG(L"Signatures cannot be checked in this build: %s is not trusted", file.c_str());
  return err::kNotTrusted;
}

int signature_check_command(const std::wstring& command) {
  QZ_LOG(L"Signature check requested, not available in this build: %s", command.c_str());
  return err::kNotTrusted;
}

// No file is ever downloaded in this build, so no downloaded package is rechecked.
bool recheck_downloaded_package(CSetupPrereqMgrCallback&, const std::wstring&) { return true; }
