#include "net/trust.h"

#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstring>
#include <vector>

#include "net/trust_rules.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/stream_format.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/error_codes.h"
#include "support/hold.h"
#include "support/process_state.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"net\\trust";

namespace {

constexpr DWORD kEncodings = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// WinTrust and CryptoAPI, bound by name on first use: a system without them has
// nothing to verify with, and every check then fails closed.
struct TrustApi {
  decltype(&WinVerifyTrust) verify = nullptr;
  decltype(&WTHelperProvDataFromStateData) provider_data = nullptr;
  decltype(&WTHelperGetProvSignerFromChain) signer_from_chain = nullptr;
  decltype(&WTHelperGetProvCertFromChain) cert_from_chain = nullptr;
  decltype(&CryptQueryObject) query_object = nullptr;
  decltype(&CryptMsgGetParam) msg_param = nullptr;
  decltype(&CryptMsgClose) msg_close = nullptr;
  decltype(&CertCloseStore) close_store = nullptr;
  decltype(&CertFindCertificateInStore) find_certificate = nullptr;
  decltype(&CertFreeCertificateContext) free_certificate = nullptr;
  decltype(&CertFreeCRLContext) free_crl = nullptr;
  decltype(&CertFreeCTLContext) free_ctl = nullptr;
  decltype(&CertCompareCertificate) compare = nullptr;
  decltype(&CertAddSerializedElementToStore) add_serialized = nullptr;

  TrustApi() {
    bind(verify, L"wintrust.dll", "WinVerifyTrust");
    bind(provider_data, L"wintrust.dll", "WTHelperProvDataFromStateData");
    bind(signer_from_chain, L"wintrust.dll", "WTHelperGetProvSignerFromChain");
    bind(cert_from_chain, L"wintrust.dll", "WTHelperGetProvCertFromChain");
    bind(query_object, L"crypt32.dll", "CryptQueryObject");
    bind(msg_param, L"crypt32.dll", "CryptMsgGetParam");
    bind(msg_close, L"crypt32.dll", "CryptMsgClose");
    bind(close_store, L"crypt32.dll", "CertCloseStore");
    bind(find_certificate, L"crypt32.dll", "CertFindCertificateInStore");
    bind(free_certificate, L"crypt32.dll", "CertFreeCertificateContext");
    bind(free_crl, L"crypt32.dll", "CertFreeCRLContext");
    bind(free_ctl, L"crypt32.dll", "CertFreeCTLContext");
    bind(compare, L"crypt32.dll", "CertCompareCertificate");
    bind(add_serialized, L"crypt32.dll", "CertAddSerializedElementToStore");
  }
  bool usable() const { return usable_; }

 private:
  template <typename F>
  void bind(F& f, const wchar_t* library, const char* name) {
    f = qz::bound<F>(qz::bind_system_export(library, name));
    if (!f) {
      const std::wstring entry(name, name + strlen(name));
      if (usable_) QZ_LOG(L"%s of %s is not available (error %u): no signature can be checked", entry.c_str(), library,
                          static_cast<unsigned>(GetLastError()));
      usable_ = false;
    }
  }
  bool usable_ = true;
};

const TrustApi* api() {
  static const TrustApi a;
  return a.usable() ? &a : nullptr;
}

// The signer certificate of a file's embedded signature with the message and store
// it came from, all released together.
class SignerCertificate {
 public:
  explicit SignerCertificate(const TrustApi& a) : a_(a) {}
  ~SignerCertificate() {
    if (cert_) a_.free_certificate(cert_);
    if (store_) a_.close_store(store_, 0);
    if (msg_) a_.msg_close(msg_);
  }
  SignerCertificate(const SignerCertificate&) = delete;
  SignerCertificate& operator=(const SignerCertificate&) = delete;

  bool read(const std::wstring& file) {
    DWORD encoding = 0, content = 0, format = 0;
    if (!a_.query_object(CERT_QUERY_OBJECT_FILE, file.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                         CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content, &format, &store_, &msg_, nullptr))
      return false;
    DWORD size = 0;
    if (!a_.msg_param(msg_, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size < sizeof(CMSG_SIGNER_INFO)) return false;
    std::vector<unsigned char> buffer(size);
    if (!a_.msg_param(msg_, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) return false;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
    CERT_INFO wanted{};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    cert_ = a_.find_certificate(store_, kEncodings, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
    return cert_ != nullptr;
  }
  PCCERT_CONTEXT get() const { return cert_; }

 private:
  const TrustApi& a_;
  HCERTSTORE store_ = nullptr;
  HCRYPTMSG msg_ = nullptr;
  PCCERT_CONTEXT cert_ = nullptr;
};

WINTRUST_DATA file_trust_data(WINTRUST_FILE_INFO& info, const std::wstring& file, HANDLE held, DWORD state_action) {
  info = WINTRUST_FILE_INFO{};
  info.cbStruct = sizeof(info);
  info.pcwszFilePath = file.c_str();
  info.hFile = held;  // WinTrust reads through the held handle, the file that will be used
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = state_action;
  data.dwProvFlags = WTD_SAFER_FLAG | WTD_REVOCATION_CHECK_NONE;
  return data;
}

HWND no_window() { return static_cast<HWND>(INVALID_HANDLE_VALUE); }

LONG status_of(const TrustApi& a, const std::wstring& file, HANDLE held) {
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO info;
  WINTRUST_DATA data = file_trust_data(info, file, held, WTD_STATEACTION_IGNORE);
  return a.verify(no_window(), &action, &data);
}

// The certificate file's bytes, read whole; false when it cannot be read or is
// larger than any certificate element.
bool read_certificate_file(const std::wstring& path, std::vector<unsigned char>* bytes) {
  qz::file_handle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!f || !GetFileSizeEx(f.get(), &size) || size.QuadPart <= 0 ||
      size.QuadPart > static_cast<LONGLONG>(trust_rules::kMaxCertificateBytes))
    return false;
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  return ReadFile(f.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) && got == bytes->size();
}

// True when the serialized element in `certificate_file` is a certificate equal
// to `signing`.
bool matches_certificate_file(const TrustApi& a, PCCERT_CONTEXT signing, const std::wstring& certificate_file) {
  std::vector<unsigned char> bytes;
  if (!read_certificate_file(certificate_file, &bytes)) {
    QZ_LOG(L"The certificate file %s cannot be read (error %u)", certificate_file.c_str(),
           static_cast<unsigned>(GetLastError()));
    return false;
  }
  DWORD type = 0;
  const void* context = nullptr;
  if (!a.add_serialized(nullptr, bytes.data(), static_cast<DWORD>(bytes.size()), CERT_STORE_ADD_ALWAYS, 0,
                        CERT_STORE_ALL_CONTEXT_FLAG, &type, &context) ||
      !context) {
    QZ_LOG(L"%s holds no certificate element (error 0x%08X)", certificate_file.c_str(),
           static_cast<unsigned>(GetLastError()));
    return false;
  }
  bool equal = false;
  switch (type) {
    case CERT_STORE_CERTIFICATE_CONTEXT: {
      auto cert = static_cast<PCCERT_CONTEXT>(context);
      equal = a.compare(X509_ASN_ENCODING, cert->pCertInfo, signing->pCertInfo) != FALSE;
      a.free_certificate(cert);
      break;
    }
    case CERT_STORE_CRL_CONTEXT:
      a.free_crl(static_cast<PCCRL_CONTEXT>(context));
      break;
    case CERT_STORE_CTL_CONTEXT:
      a.free_ctl(static_cast<PCCTL_CONTEXT>(context));
      break;
    default:
      break;  // an unknown kind of context is left alone rather than freed wrongly
  }
  return equal;
}

// Step 1: a valid signature whose signing certificate is the expected one. The
// WinTrust state is closed whatever happens in between.
bool signed_with(const TrustApi& a, const std::wstring& file, HANDLE held, const std::wstring& certificate_file) {
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO info;
  WINTRUST_DATA data = file_trust_data(info, file, held, WTD_STATEACTION_VERIFY);
  const LONG status = a.verify(no_window(), &action, &data);
  bool match = false;
  try {
    if (status != 0) {
      QZ_LOG(L"%s has no valid signature (0x%08X)", file.c_str(), static_cast<unsigned>(status));
    } else {
      CRYPT_PROVIDER_DATA* provider = a.provider_data(data.hWVTStateData);
      CRYPT_PROVIDER_SGNR* signer = provider ? a.signer_from_chain(provider, 0, FALSE, 0) : nullptr;
      CRYPT_PROVIDER_CERT* cert = signer ? a.cert_from_chain(signer, 0) : nullptr;
      if (!cert || !cert->pCert)
        QZ_LOG(L"The signature of %s names no signing certificate", file.c_str());
      else
        match = matches_certificate_file(a, cert->pCert, certificate_file);
      if (cert && cert->pCert && !match)
        QZ_LOG(L"%s is not signed with the certificate in %s", file.c_str(), certificate_file.c_str());
    }
  } catch (...) {
    match = false;
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  a.verify(no_window(), &action, &data);
  return match;
}

// Step 2: the system's Authenticode confirmation; true when the user accepted.
bool confirmed(const TrustApi& a, const std::wstring& file, HWND owner) {
  GUID action = WIN_SPUB_ACTION_PUBLISHED_SOFTWARE;
  GUID subject_type = WIN_TRUST_SUBJTYPE_CABINET;
  WIN_TRUST_SUBJECT_FILE subject{nullptr, file.c_str()};
  WIN_TRUST_ACTDATA_CONTEXT_WITH_SUBJECT context{nullptr, &subject_type, &subject};
  const LONG status = a.verify(owner, &action, &context);
  QZ_LOG(L"Authenticode confirmation for %s: 0x%08X", file.c_str(), static_cast<unsigned>(status));
  return status == 0;
}

bool silent_run(const LaunchSettings& settings) { return settings.silent || settings.auto_; }

// The verdict reported: the result code, and unless silent the message.
void report_failure(CSetupPrereqMgrCallback& session, const std::wstring& file, int verdict, bool silent) {
  const trust_rules::Failure f = trust_rules::failure_of(verdict, silent);
  if (f.message) report_message(session.get_launch_settings(), static_cast<unsigned>(f.message),
                                trust_rules::shown_name(file));
  qzproc::set_exit_code(f.result_code);
}

// The check in a child launcher, the file held here from before the child starts.
WaitingLauncher g_waiting_launcher = nullptr;

int child_verdict(const std::wstring& file, const std::wstring& certificate_path, bool silent) {
  qz::file_handle hold = qz::hold_file(file);
  if (!hold) {
    QZ_LOG(L"%s cannot be held for its check (error %u)", file.c_str(), static_cast<unsigned>(GetLastError()));
    return err::kNotTrusted;
  }
  const std::wstring command =
      trust_rules::signature_command_line(qzproc::own_file_name(), file, certificate_path, silent);
  if (command.empty()) {
    QZ_LOG(L"%s cannot be named to a checking launcher (a slash or outer blank in a path)", file.c_str());
    return err::kNotTrusted;
  }
  const int verdict = g_waiting_launcher ? g_waiting_launcher(command, true) : static_cast<int>(0xCCCCCCCCu);
  QZ_LOG(L"The checking launcher's verdict for %s: %d", file.c_str(), verdict);
  if (verdict == 0) qzproc::keep_file_hold(std::move(hold));
  return verdict;
}

}  // namespace

bool signers_equal(const std::wstring& a, const std::wstring& b) {
  const TrustApi* t = api();
  if (!t) return false;
  try {
    SignerCertificate first(*t), second(*t);
    if (!first.read(a) || !second.read(b)) return false;
    return t->compare(X509_ASN_ENCODING, first.get()->pCertInfo, second.get()->pCertInfo) != FALSE;
  } catch (...) {
    return false;
  }
}

LONG signature_status(const std::wstring& file) {
  const TrustApi* t = api();
  return t ? status_of(*t, file, nullptr) : static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN);
}

bool signer_gate_passes(const std::wstring& launcher_path, const std::wstring& package_path) {
  const TrustApi* t = api();
  // Without WinTrust the launcher's own signature cannot be read either; refused,
  // since a gate that is asked for must not open by itself.
  if (!t) return false;
  const LONG own = status_of(*t, launcher_path, nullptr);
  if (own != 0) {
    QZ_LOG(L"The launcher carries no valid signature (0x%08X): the package's signer is not compared",
           static_cast<unsigned>(own));
    return true;
  }
  qz::file_handle hold = qz::hold_file(package_path);
  if (!hold) {
    QZ_LOG(L"The package %s cannot be held for its check (error %u)", package_path.c_str(),
           static_cast<unsigned>(GetLastError()));
    return false;
  }
  const LONG package = status_of(*t, package_path, hold.get());
  if (package != 0) {
    QZ_LOG(L"The package %s has no valid signature (0x%08X)", package_path.c_str(), static_cast<unsigned>(package));
    return false;
  }
  if (!signers_equal(launcher_path, package_path)) {
    QZ_LOG(L"The package %s is signed by another signer than the launcher", package_path.c_str());
    return false;
  }
  QZ_LOG(L"The package %s is signed by the launcher's own signer", package_path.c_str());
  qzproc::keep_file_hold(std::move(hold));
  return true;
}

int verify_against_certificate(const std::wstring& file, const std::wstring& certificate_file, bool silent,
                               HWND owner) {
  QZ_LOG(L"Verifying %s against the certificate %s", file.c_str(), certificate_file.c_str());
  const TrustApi* t = api();
  if (!t) return err::kNotTrusted;
  qz::file_handle hold = qz::hold_file(file);
  if (!hold) {
    QZ_LOG(L"%s cannot be held for its check (error %u)", file.c_str(), static_cast<unsigned>(GetLastError()));
    return err::kNotTrusted;
  }
  bool ok = false;
  try {
    ok = signed_with(*t, file, hold.get(), certificate_file);
  } catch (...) {
    ok = false;
  }
  if (!ok) {
    if (silent) return err::kNotTrusted;
    try {
      ok = confirmed(*t, file, owner);
    } catch (...) {
      ok = false;
    }
  }
  if (!ok) return err::kNotTrusted;
  qzproc::keep_file_hold(std::move(hold));
  return 0;
}

bool lookup_cert_key(CSetupPrereqMgrCallback& session, const std::wstring& section, std::wstring* certificate_path) {
  certificate_path->clear();
  const std::wstring name = session.get_setting(section, L"CertKey", L"");
  if (name.empty()) return true;
  // The name is joined to the temporary folder: it must stay inside it.
  if (!qzstream::is_safe_member_name(name) || !session.stream_contains(name) || qzproc::temp_folder().empty()) {
    QZ_LOG(L"The certificate '%s' of [%s] is not a member of the setup", name.c_str(), section.c_str());
    report_error(session.get_launch_settings(), err::kExtractionFailed, name);
    return false;
  }
  const std::wstring target = zpath(qzproc::temp_folder()).join(name);
  if (!session.extract_member(name, true, true, &target, true)) return false;
  *certificate_path = target;
  return true;
}

bool check_downloaded_file(CSetupPrereqMgrCallback& session, const std::wstring& file,
                           const std::wstring& certificate_path, bool in_child_process) {
  const bool silent = silent_run(session.get_launch_settings());
  const int verdict = in_child_process ? child_verdict(file, certificate_path, silent)
                                       : verify_against_certificate(file, certificate_path, silent,
                                                                    session.get_setup_dialog());
  if (verdict == 0) return true;
  report_failure(session, file, verdict, silent);
  return false;
}

int signature_check_command(const std::wstring& command) {
  const trust_rules::SignatureCommand c = trust_rules::parse_signature_command(command);
  if (!c.valid) {
    QZ_LOG(L"The signature check names no file or no certificate: %s", command.c_str());
    return err::kNotTrusted;
  }
  const int verdict = verify_against_certificate(c.file, c.certificate, c.silent);
  QZ_LOG(L"Signature check of %s: %d", c.file.c_str(), verdict);
  return verdict;
}

bool recheck_downloaded_package(CSetupPrereqMgrCallback& session, const std::wstring& package_name,
                                const std::wstring& package_path) {
  std::wstring certificate;
  if (!lookup_cert_key(session, package_name, &certificate)) return false;
  if (certificate.empty()) return true;
  return check_downloaded_file(session, package_path, certificate, true);
}

void set_waiting_launcher(WaitingLauncher launcher) { g_waiting_launcher = launcher; }
