// The installer's SHA-256 and the publisher's word on it, with the
// platform's CNG (SHA-256 and ECDSA P-256): the signed release statement or
// the detached signature, each fetched from beside the installer under the
// installer's own rules. bcrypt.dll is loaded when the first body arrives,
// so a run that downloads nothing never maps it.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "http/http_request.h"
#include "platform/system_library.h"
#include "workflow/installer_launch.h"
#include "workflow/installer_signature.h"
#include "workflow/publisher_key.h"
#include "workflow/release_statement.h"

namespace {

constexpr DWORD kHashPieceSize = 64 * 1024;

// The CNG functions, from the system folder's bcrypt.dll.
class Cng {
 public:
  Cng() {
    m_module = LoadSystemLibrary(L"bcrypt.dll");
    if (m_module == nullptr) return;
    m_loaded = Bind(OpenAlgorithmProvider, "BCryptOpenAlgorithmProvider") &&
               Bind(CloseAlgorithmProvider, "BCryptCloseAlgorithmProvider") &&
               Bind(CreateHash, "BCryptCreateHash") && Bind(HashData, "BCryptHashData") &&
               Bind(FinishHash, "BCryptFinishHash") && Bind(DestroyHash, "BCryptDestroyHash") &&
               Bind(ImportKeyPair, "BCryptImportKeyPair") &&
               Bind(VerifySignature, "BCryptVerifySignature") &&
               Bind(DestroyKey, "BCryptDestroyKey");
  }
  ~Cng() {
    if (m_module) ::FreeLibrary(m_module);
  }
  Cng(const Cng&) = delete;
  Cng& operator=(const Cng&) = delete;

  bool Loaded() const noexcept { return m_loaded; }

  decltype(&::BCryptOpenAlgorithmProvider) OpenAlgorithmProvider = nullptr;
  decltype(&::BCryptCloseAlgorithmProvider) CloseAlgorithmProvider = nullptr;
  decltype(&::BCryptCreateHash) CreateHash = nullptr;
  decltype(&::BCryptHashData) HashData = nullptr;
  decltype(&::BCryptFinishHash) FinishHash = nullptr;
  decltype(&::BCryptDestroyHash) DestroyHash = nullptr;
  decltype(&::BCryptImportKeyPair) ImportKeyPair = nullptr;
  decltype(&::BCryptVerifySignature) VerifySignature = nullptr;
  decltype(&::BCryptDestroyKey) DestroyKey = nullptr;

 private:
  template <class Function>
  bool Bind(Function& function, const char* name) {
    function =
        reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(m_module, name)));
    return function != nullptr;
  }

  HMODULE m_module = nullptr;
  bool m_loaded = false;
};

// The CNG objects of one check, released in reverse order of their making.
struct CngObjects {
  explicit CngObjects(const Cng& cng) : cng(cng) {}
  ~CngObjects() {
    if (hash) cng.DestroyHash(hash);
    if (key) cng.DestroyKey(key);
    if (hashAlgorithm) cng.CloseAlgorithmProvider(hashAlgorithm, 0);
    if (signatureAlgorithm) cng.CloseAlgorithmProvider(signatureAlgorithm, 0);
  }
  CngObjects(const CngObjects&) = delete;
  CngObjects& operator=(const CngObjects&) = delete;

  const Cng& cng;
  BCRYPT_ALG_HANDLE hashAlgorithm = nullptr;
  BCRYPT_ALG_HANDLE signatureAlgorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

bool VerifyDigest(CngObjects& objects, const std::uint8_t (&digest)[kDigestSize],
                  const std::uint8_t (&signature)[kRawSignatureSize], const std::uint8_t* key) {
  const Cng& cng = objects.cng;
  struct {
    BCRYPT_ECCKEY_BLOB header;
    UCHAR point[kPublisherKeySize];
  } blob;
  blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  blob.header.cbKey = kPublisherKeySize / 2;
  std::memcpy(blob.point, key, kPublisherKeySize);
  if (!Succeeded(cng.OpenAlgorithmProvider(&objects.signatureAlgorithm, BCRYPT_ECDSA_P256_ALGORITHM,
                                           nullptr, 0)) ||
      !Succeeded(cng.ImportKeyPair(objects.signatureAlgorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                   &objects.key, reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0)))
    return false;
  UCHAR hash[kDigestSize];
  UCHAR raw[kRawSignatureSize];
  std::memcpy(hash, digest, sizeof hash);
  std::memcpy(raw, signature, sizeof raw);
  return cng.VerifySignature(objects.key, nullptr, hash, sizeof hash, raw, sizeof raw, 0) == 0;
}

// The answer to a request for a file beside the installer: only a whole 200
// of at most `limit` bytes is kept. A redirect is not followed.
class BesideDownload : public IHttpCallback, public IHttpBodySink {
 public:
  explicit BesideDownload(std::size_t limit) : m_limit(limit) {}
  bool BeginBody(DWORD length) override {
    if (length > m_limit) return false;
    m_bytes.clear();
    m_bytes.reserve(length);
    return true;
  }
  bool TakeBody(const void* data, DWORD size) override {
    if (size > m_limit - m_bytes.size()) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), bytes, bytes + size);
    return true;
  }
  int OnResponse(int status, const HttpResponse*) override {
    m_received = status == 200;
    return 0;
  }
  int OnError(int, DWORD) override { return 0; }

  // The file, once a whole 200 arrived.
  bool Received() const noexcept { return m_received; }
  std::vector<std::uint8_t>& Bytes() noexcept { return m_bytes; }

 private:
  std::size_t m_limit;
  std::vector<std::uint8_t> m_bytes;
  bool m_received = false;
};

bool FetchBeside(const std::string& installerUrl, const char* suffix, BOOL pinCertificate,
                 std::size_t limit, std::vector<std::uint8_t>& bytes) {
  const std::string url = BesideInstallerUrl(installerUrl, suffix);
  URL_COMPONENTSA parts;
  if (!CrackRequestUrl(url, parts)) return false;
  BesideDownload download(limit);
  HttpRequest request(&download, parts, pinCertificate);
  request.SetBodySink(&download);
  request.Send();
  if (!download.Received()) return false;
  bytes.swap(download.Bytes());
  return true;
}

// True when the DER signature fetched from beside the installer with
// `suffix` verifies over `digest` with `key`.
bool SignedBeside(const std::string& installerUrl, const char* suffix, BOOL pinCertificate,
                  const std::uint8_t (&digest)[kDigestSize], const std::uint8_t* key) {
  std::vector<std::uint8_t> der;
  std::uint8_t signature[kRawSignatureSize];
  if (!FetchBeside(installerUrl, suffix, pinCertificate, kSignatureLimit, der) ||
      !RawSignatureFromDer(der.data(), der.size(), signature))
    return false;
  const Cng cng;
  if (!cng.Loaded()) return false;
  CngObjects objects(cng);
  return VerifyDigest(objects, digest, signature, key);
}

}  // namespace

struct Sha256Digest::State {
  Cng cng;
  CngObjects objects{cng};
};

Sha256Digest::Sha256Digest() = default;
Sha256Digest::~Sha256Digest() = default;

bool Sha256Digest::Begin() {
  m_state.reset(new (std::nothrow) State);
  if (!m_state || !m_state->cng.Loaded() ||
      !Succeeded(m_state->cng.OpenAlgorithmProvider(&m_state->objects.hashAlgorithm,
                                                    BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !Succeeded(m_state->cng.CreateHash(m_state->objects.hashAlgorithm, &m_state->objects.hash,
                                         nullptr, 0, nullptr, 0, 0))) {
    m_state.reset();
    return false;
  }
  return true;
}

bool Sha256Digest::Add(const void* data, DWORD size) {
  return m_state && Succeeded(m_state->cng.HashData(
                        m_state->objects.hash, static_cast<PUCHAR>(const_cast<void*>(data)), size, 0));
}

bool Sha256Digest::Finish(std::uint8_t (&digest)[kDigestSize]) {
  const bool finished =
      m_state && Succeeded(m_state->cng.FinishHash(m_state->objects.hash, digest, kDigestSize, 0));
  m_state.reset();
  return finished;
}

bool HashFile(HANDLE file, std::uint8_t (&digest)[kDigestSize]) {
  Sha256Digest sha;
  const std::unique_ptr<UCHAR[]> piece(new (std::nothrow) UCHAR[kHashPieceSize]);
  if (!piece || !sha.Begin()) return false;
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file, piece.get(), kHashPieceSize, &read, nullptr)) return false;
    if (read == 0) break;
    if (!sha.Add(piece.get(), read)) return false;
  }
  return sha.Finish(digest);
}

bool InstallerSignedByPublisher(const std::string& installerUrl, BOOL pinCertificate,
                                const std::uint8_t (&digest)[kDigestSize],
                                const std::uint8_t* key) {
  return SignedBeside(installerUrl, ".sig", pinCertificate, digest, key);
}

bool FetchReleaseStatement(const std::string& installerUrl, BOOL pinCertificate,
                           const std::uint8_t* key, ReleaseStatement& statement) {
  std::vector<std::uint8_t> bytes;
  if (!FetchBeside(installerUrl, ".release", pinCertificate, kReleaseStatementLimit, bytes))
    return false;
  // Signed over the statement's own bytes: the digest is of what was
  // received, and only those bytes are read.
  Sha256Digest sha;
  std::uint8_t digest[kDigestSize];
  if (!sha.Begin() || !sha.Add(bytes.data(), static_cast<DWORD>(bytes.size())) ||
      !sha.Finish(digest))
    return false;
  return SignedBeside(installerUrl, ".release.sig", pinCertificate, digest, key) &&
         ParseReleaseStatement(bytes.data(), bytes.size(), statement);
}
