// Signature checks through WinTrust and CryptoAPI (both bound on first use; a
// system without them verifies nothing, so every check fails closed): the
// package's signer against the launcher's own, and files against the certificate
// their settings name (CertKey), in this process or in a child launcher started
// with /g.
//
// What is checked is what is used: every check first holds its file (qz::hold_file:
// nobody may write, rename or delete it, others may still read and run it) and a
// file that passes stays held for the rest of the run (qzproc::keep_file_hold),
// until the clean-up lets go of it. Nothing is ever started before its verdict.
// Chains are trusted as far as WinTrust trusts them; revocation is never asked.
#pragma once
#include <windows.h>

#include <string>

#include "package/SetupPrereqMgrCallback.h"

// True when both files carry an embedded PKCS #7 signature whose signer
// certificates are equal. A file without one makes it false.
bool signers_equal(const std::wstring& a, const std::wstring& b);

// WinTrust's status for the file's Authenticode signature: 0 when valid, else the
// failure (TRUST_E_NOSIGNATURE 0x800B0100, TRUST_E_BAD_DIGEST 0x80096010, ...).
LONG signature_status(const std::wstring& file);

// The package signer gate: true when the launch may go on, because the launcher's
// file (`launcher_path`) carries no valid signature, so there is nothing to
// compare, or because both files are validly signed by the same signer. A package
// that passes stays held.
bool signer_gate_passes(const std::wstring& launcher_path, const std::wstring& package_path);

// The verdict for `file` against the certificate in `certificate_file` (a
// serialized certificate store element): 0 the file is acceptable, 1621 it is
// not. A file that is not signed with exactly that certificate is offered to the
// system's Authenticode confirmation, owned by `owner`, unless `silent`; accepting
// it there makes it acceptable. Any failure along the way is a 1621.
int verify_against_certificate(const std::wstring& file, const std::wstring& certificate_file, bool silent,
                               HWND owner = nullptr);

// Reads CertKey of the settings section `section` (the file's name as the settings
// hold it). Empty: true and *certificate_path empty (nothing to verify). Otherwise
// the member it names is extracted from the launcher's stream into the temporary
// folder: true with *certificate_path set to it; false, with the extraction error
// (1152) reported, when the name is no plain member name, is not in the stream or
// cannot be extracted.
bool lookup_cert_key(CSetupPrereqMgrCallback& session, const std::wstring& section,
                     std::wstring* certificate_path);

// The check of a downloaded file against the certificate lookup_cert_key gave,
// in this process or (`in_child_process`) in a child launcher whose exit code is
// the verdict. Silent runs (/s or /auto) never ask. False when the file is not
// acceptable: a silent run's result code becomes 1621 and nothing is shown;
// otherwise the result code becomes the verdict and message 1621 is reported with
// the file's name. Whoever wrote `file` must have closed its handles first: a file
// that cannot be held is not acceptable.
bool check_downloaded_file(CSetupPrereqMgrCallback& session, const std::wstring& file,
                           const std::wstring& certificate_path, bool in_child_process);

// The launcher's starter of a program it waits for (its exit code; 0xCCCCCCCC when
// it could not start). The core hands it over at start: the checks sit below the
// core and run a checking copy of the launcher through it. Without one, a check in
// a child fails closed.
using WaitingLauncher = int (*)(const std::wstring& command_line, bool show);
void set_waiting_launcher(WaitingLauncher launcher);

// The /g child mode: `command` is the whole one-shot text ("/g <file> /g
// <certificate>", optionally ending in /s or -s). The verdict, which the launcher
// exits with; a text without a file or a certificate is a 1621.
int signature_check_command(const std::wstring& command);

// The second check of a package the run downloaded (`package_path`), against the
// CertKey of its section `package_name`, in a child launcher. True when no
// certificate is named or the check passes; false (result code set, reported as
// check_downloaded_file does) otherwise.
bool recheck_downloaded_package(CSetupPrereqMgrCallback& session, const std::wstring& package_name,
                                const std::wstring& package_path);
