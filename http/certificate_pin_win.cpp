#include "http/certificate_pin.h"

#include <vector>

#include "http/http_text.h"

namespace {

constexpr WORD kPinnedCertificateId = 132;

// Revocation, unknown CA, wrong usage, name and date: everything the
// platform would judge about the server's certificate (0x3380).
constexpr DWORD kIgnoreCertificateChecks =
    SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
    SECURITY_FLAG_IGNORE_WRONG_USAGE | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
static_assert(kIgnoreCertificateChecks == 0x3380);

// The chain the server presented on `hRequest`, or an empty owner when the
// platform has none: no handshake with the server took place.
UniqueCertChain ServerChain(HINTERNET hRequest) {
  PCCERT_CHAIN_CONTEXT rawChain = nullptr;
  DWORD size = sizeof(rawChain);
  if (!InternetQueryOptionW(hRequest, INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, &rawChain,
                            &size)) {
    return UniqueCertChain();
  }
  return UniqueCertChain(rawChain);
}

}  // namespace

UniqueCertContext LoadPinnedCertificate() {
  // Found by type and id alone, in whatever language it was stored under.
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(kPinnedCertificateId), L"CERTIFICATE");
  if (resource == nullptr) return {};
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (loaded == nullptr) return {};
  const DWORD size = SizeofResource(nullptr, resource);
  const auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
  if (bytes == nullptr || size == 0) return {};
  return UniqueCertContext(
      CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, bytes, size));
}

void PreparePin(HINTERNET hRequest) {
  // When the current flags cannot be read, the ignore flags are written on
  // their own: what matters is that all five end up set.
  DWORD flags = 0;
  DWORD size = sizeof(flags);
  if (!InternetQueryOptionW(hRequest, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) flags = 0;
  flags |= kIgnoreCertificateChecks;
  InternetSetOptionW(hRequest, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
}

bool CheckPin(HINTERNET hRequest, PCCERT_CONTEXT pinned) {
  if (pinned == nullptr) return false;
  const UniqueCertChain chain = ServerChain(hRequest);
  if (!chain) return false;

  // The server's own certificate is the first element of the first simple
  // chain; what follows it is what the platform found or was sent as its
  // issuers, and a copy of the pinned certificate there proves nothing.
  std::vector<ByteSpan> certificates;
  const CERT_SIMPLE_CHAIN* simple = chain.Get()->cChain > 0 ? chain.Get()->rgpChain[0] : nullptr;
  if (simple != nullptr) {
    for (DWORD e = 0; e < simple->cElement; ++e) {
      const CERT_CHAIN_ELEMENT* element = simple->rgpElement[e];
      if (element == nullptr || element->pCertContext == nullptr) break;
      certificates.push_back(
          {element->pCertContext->pbCertEncoded, element->pCertContext->cbCertEncoded});
    }
  }
  return LeafIsPinned(certificates, {pinned->pbCertEncoded, pinned->cbCertEncoded});
}

bool HasServerChain(HINTERNET hRequest) { return ServerChain(hRequest).IsValid(); }
