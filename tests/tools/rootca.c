/* rootca add|remove FILE.der: adds a test root certificate to the machine's Root
   store of the prefix, or removes it again (found by its SHA-1 hash). Prints
   "ok" or "error=<code>" and exits 0 or 1. */
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>

int wmain(int argc, wchar_t **argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: rootca add|remove FILE.der\n");
    return 2;
  }
  HANDLE f = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (f == INVALID_HANDLE_VALUE) { printf("error=%lu\n", GetLastError()); return 1; }
  static BYTE der[65536];
  DWORD size = 0;
  BOOL read = ReadFile(f, der, sizeof der, &size, NULL);
  CloseHandle(f);
  if (!read) { printf("error=%lu\n", GetLastError()); return 1; }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) { printf("error=%lu\n", GetLastError()); return 1; }
  BOOL ok;
  if (lstrcmpW(argv[1], L"add") == 0) {
    ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, size, CERT_STORE_ADD_REPLACE_EXISTING, NULL);
  } else {
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der, size);
    ok = wanted != NULL;
    if (ok) {
      BYTE hash[20];
      DWORD n = sizeof hash;
      CRYPT_HASH_BLOB blob = {n, hash};
      ok = CertGetCertificateContextProperty(wanted, CERT_SHA1_HASH_PROP_ID, hash, &n);
      PCCERT_CONTEXT found = ok ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, NULL) : NULL;
      /* Already gone counts as removed. */
      if (found) ok = CertDeleteCertificateFromStore(found);
      CertFreeCertificateContext(wanted);
    }
  }
  DWORD e = ok ? 0 : GetLastError();
  CertCloseStore(store, 0);
  if (!ok) { printf("error=%lu\n", e); return 1; }
  printf("ok\n");
  return 0;
}
