// Signature checks: the package's signer against the launcher's own, and files
// against the certificate their settings name (CertKey), in this process or in a
// child launcher started with /g.
#pragma once
#include <string>

#include "package/SetupPrereqMgrCallback.h"

// The package signer gate: true when the launch may go on (the launcher carries
// no valid signature, so there is nothing to compare, or both files are signed
// by the same signer).
bool signer_gate_passes(const std::wstring& launcher_path, const std::wstring& package_path);

// The verdict for `file` against the certificate in `certificate_file`: 0 the
// file is acceptable, 1621 it is not. Interactive runs (not `silent`) may offer
// the system's Authenticode confirmation.
int verify_against_certificate(const std::wstring& file, const std::wstring& certificate_file, bool silent);

// The /g child mode: `command` is the text after the launcher's path ("/g <file>
// /g <certificate>", optionally ending in /s or -s). The verdict, which the
// launcher exits with.
int signature_check_command(const std::wstring& command);

// The second check of a downloaded package: its section's CertKey, verified in a
// child launcher. True when nothing is named or the check passes; false (result
// code and message set) otherwise.
bool recheck_downloaded_package(CSetupPrereqMgrCallback& session, const std::wstring& package_name);
