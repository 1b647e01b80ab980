// The publisher's signature, checked on the saved installer before it is
// started: fetched from beside the installer under the installer's own
// rules, and verified with the platform's CNG (SHA-256 and ECDSA P-256).
// bcrypt.dll is loaded by the first check, so an exe without a key, and a
// run that starts nothing, never map it.
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

namespace {

constexpr DWORD kHashPieceSize = 64 * 1024;
constexpr ULONG kDigestSize = 32;

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

// SHA-256 of everything `file` holds from where it stands, read a piece at
// a time whatever its size.
bool HashFile(CngObjects& objects, HANDLE file, UCHAR (&digest)[kDigestSize]) {
  const Cng& cng = objects.cng;
  if (!Succeeded(
          cng.OpenAlgorithmProvider(&objects.hashAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !Succeeded(cng.CreateHash(objects.hashAlgorithm, &objects.hash, nullptr, 0, nullptr, 0, 0)))
    return false;
  const std::unique_ptr<UCHAR[]> piece(new (std::nothrow) UCHAR[kHashPieceSize]);
  if (!piece) return false;
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file, piece.get(), kHashPieceSize, &read, nullptr)) return false;
    if (read == 0) break;
    if (!Succeeded(cng.HashData(objects.hash, piece.get(), read, 0))) return false;
  }
  return Succeeded(cng.FinishHash(objects.hash, digest, kDigestSize, 0));
}

bool VerifyDigest(CngObjects& objects, const UCHAR (&digest)[kDigestSize],
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

// The answer to the signature's request: only a 200 of at most
// kSignatureLimit bytes is kept. A redirect is not followed.
class SignatureDownload : public IHttpCallback, public IHttpBodySink {
 public:
  bool BeginBody(DWORD length) override {
    if (length > kSignatureLimit) return false;
    m_bytes.clear();
    m_bytes.reserve(length);
    return true;
  }
  bool TakeBody(const void* data, DWORD size) override {
    if (size > kSignatureLimit - m_bytes.size()) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), bytes, bytes + size);
    return true;
  }
  int OnResponse(int status, const HttpResponse*) override {
    m_received = status == 200;
    return 0;
  }
  int OnError(int, DWORD) override { return 0; }

  // The signature, once a whole 200 arrived.
  bool Received() const noexcept { return m_received; }
  const std::vector<std::uint8_t>& Bytes() const noexcept { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
  bool m_received = false;
};

bool FetchSignature(const std::string& installerUrl, BOOL pinCertificate,
                    std::uint8_t (&signature)[kRawSignatureSize]) {
  const std::string url = SignatureUrl(installerUrl);
  URL_COMPONENTSA parts;
  if (!CrackRequestUrl(url, parts)) return false;
  SignatureDownload download;
  HttpRequest request(&download, parts, pinCertificate);
  request.SetBodySink(&download);
  request.Send();
  return download.Received() &&
         RawSignatureFromDer(download.Bytes().data(), download.Bytes().size(), signature);
}

}  // namespace

bool InstallerSignedByPublisher(const std::string& installerUrl, BOOL pinCertificate,
                                const std::wstring& path, const std::uint8_t* key,
                                UniqueFileHandle& held) {
  held.Reset();
  std::uint8_t signature[kRawSignatureSize];
  if (!FetchSignature(installerUrl, pinCertificate, signature)) return false;
  // Nobody may change the file from its check to its start; the installer
  // itself, and the platform starting it, only read it. A scanner that has
  // the fresh file open keeps this open from succeeding for a moment.
  UniqueFileHandle file;
  if (!RetryWhileHeld([&] {
        HANDLE opened = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (opened == INVALID_HANDLE_VALUE) return false;
        file.Reset(opened);
        return true;
      }))
    return false;
  const Cng cng;
  if (!cng.Loaded()) return false;
  CngObjects objects(cng);
  UCHAR digest[kDigestSize];
  if (!HashFile(objects, file.Get(), digest) || !VerifyDigest(objects, digest, signature, key))
    return false;
  held = std::move(file);
  return true;
}
