#include "http/http_request.h"

#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "http/certificate_pin.h"
#include "platform/slim_lock.h"

namespace {

// The security flag is added for https requests.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
static_assert(kRequestFlags == 0x80200000);

// Let the platform answer an authentication challenge with its own dialog.
constexpr DWORD kErrorDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                    FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                    FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;

constexpr DWORD kStatusCapacity = 1024;

// How often one request is sent again with what the user typed; the
// platform asks each time, so this only bounds a platform that would not.
constexpr int kCredentialRounds = 10;
constexpr DWORD kLocationCapacity = 10240;

// What a body that ended before its Content-Length is reported with: the
// platform's read succeeded, but the data ran out.
constexpr DWORD kBodyCutShort = ERROR_HANDLE_EOF;

// What a body sink that refused or stopped the body is reported with.
constexpr DWORD kSinkStopped = ERROR_CANCELLED;

// A zero-filled block from the process heap, freed when the owner goes.
struct HeapTraits {
  using Type = void*;
  static constexpr Type Empty() noexcept { return nullptr; }
  static void Close(Type block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
};
using UniqueHeapBlock = UniqueHandle<HeapTraits>;

// The body in one block of the process heap, sized by the Content-Length:
// what a request without a sink of its caller's delivers.
class BlockSink : public IHttpBodySink {
 public:
  bool BeginBody(DWORD length) override {
    m_block.Reset(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, length));
    m_size = length;
    return m_block.IsValid();
  }
  bool TakeBody(const void* data, DWORD size) override {
    if (size > m_size - m_filled) return false;
    memcpy(static_cast<BYTE*>(m_block.Get()) + m_filled, data, size);
    m_filled += size;
    return true;
  }
  const void* Data() const noexcept { return m_block.Get(); }
  void Release() noexcept { m_block.Reset(); }

 private:
  UniqueHeapBlock m_block;
  DWORD m_size = 0;
  DWORD m_filled = 0;
};

// A component of the cracked URL as its own string. The parser hands out
// pointers into the URL text with a length, not terminated strings.
std::string Component(const char* text, DWORD length) {
  return text == nullptr ? std::string() : std::string(text, length);
}

// Reads header `query` of the response as text into `buffer`, zero-filled
// first. On failure the thread's last error is the platform's, untouched.
bool QueryText(HINTERNET hRequest, DWORD query, char* buffer, DWORD capacity) {
  memset(buffer, 0, capacity);
  DWORD size = capacity;
  DWORD index = 0;
  return HttpQueryInfoA(hRequest, query, buffer, &size, &index) != FALSE;
}

// True when the platform's parser takes `location` as a whole URL.
bool IsAbsoluteUrl(const char* location) {
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = 1;
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  return InternetCrackUrlA(location, static_cast<DWORD>(strlen(location)), 0, &parts) != FALSE;
}

// The most of a refused answer's body that is read away before the request
// is sent again; a larger one is not worth a second attempt.
constexpr DWORD kRefusedBodyLimit = 1024 * 1024;

// Reads the rest of the answer on `hRequest` and forgets it, so that the
// same handle can be sent again. False when it could not be read whole.
bool DiscardBody(HINTERNET hRequest) {
  char piece[4096];
  DWORD total = 0;
  for (;;) {
    DWORD read = 0;
    if (!InternetReadFile(hRequest, piece, sizeof piece, &read)) return false;
    if (read == 0) return true;
    total += read;
    if (total > kRefusedBodyLimit) return false;
  }
}

// The proxy's user name and password as the user typed them into the
// platform's prompt, kept for the rest of the process: all its requests go
// through the same proxy, whose password is asked once. A server's own
// credentials are not kept, since a download may go to another host.
class ProxyCredentials {
 public:
  // Before a request is sent: what the user gave for an earlier request.
  void Apply(HINTERNET hRequest) {
    const std::lock_guard<SlimLock> hold(m_lock);
    if (m_user.empty()) return;
    InternetSetOptionA(hRequest, INTERNET_OPTION_PROXY_USERNAME, m_user.data(),
                       static_cast<DWORD>(m_user.size()));
    InternetSetOptionA(hRequest, INTERNET_OPTION_PROXY_PASSWORD, m_password.data(),
                       static_cast<DWORD>(m_password.size()));
  }
  // After the prompt was answered: the platform keeps what was typed on the
  // request or, as Wine does, on its root handle.
  void Take(HINTERNET hRoot, HINTERNET hRequest) {
    std::string user = Option(hRequest, INTERNET_OPTION_PROXY_USERNAME);
    std::string password = Option(hRequest, INTERNET_OPTION_PROXY_PASSWORD);
    if (user.empty()) {
      user = Option(hRoot, INTERNET_OPTION_PROXY_USERNAME);
      password = Option(hRoot, INTERNET_OPTION_PROXY_PASSWORD);
    }
    if (user.empty()) return;
    const std::lock_guard<SlimLock> hold(m_lock);
    Wipe(m_password);
    m_user = std::move(user);
    m_password = std::move(password);
  }

 private:
  static void Wipe(std::string& text) {
    if (!text.empty()) SecureZeroMemory(text.data(), text.size());
    text.clear();
  }

  static std::string Option(HINTERNET handle, DWORD option) {
    char text[512] = {};
    DWORD size = sizeof text;
    std::string value;
    if (InternetQueryOptionA(handle, option, text, &size))
      value.assign(text, strnlen(text, sizeof text));
    SecureZeroMemory(text, sizeof text);
    return value;
  }

  SlimLock m_lock;
  std::string m_user;
  std::string m_password;
};

ProxyCredentials g_proxyCredentials;

// Who asks for a password in the answer on `hRequest`: a proxy (407) or the
// server (401), each with its challenge header; nobody otherwise. A 407 or
// 401 without the header cannot be answered (and Wine's prompt crashes on
// a bare 407).
enum class Challenger { Nobody, Proxy, Server };
Challenger ChallengerOf(HINTERNET hRequest) {
  char status[kStatusCapacity];
  if (!QueryText(hRequest, HTTP_QUERY_STATUS_CODE, status, sizeof status)) {
    return Challenger::Nobody;
  }
  const bool proxy = StatusIs(status, "407");
  if (!proxy && !StatusIs(status, "401")) return Challenger::Nobody;
  // Only whether the header is there; a long one does not fit and says so.
  char challenge[256];
  const bool asked =
      QueryText(hRequest, proxy ? HTTP_QUERY_PROXY_AUTHENTICATE : HTTP_QUERY_WWW_AUTHENTICATE,
                challenge, sizeof challenge) ||
      GetLastError() == ERROR_INSUFFICIENT_BUFFER;
  if (!asked) return Challenger::Nobody;
  return proxy ? Challenger::Proxy : Challenger::Server;
}

// The platform's credential prompt, which it shows only for a 401 or 407.
// When the user answered it, the platform has stored the credentials on
// `hRequest` itself: that same handle, with the refused answer read away,
// is sent again and carries them (a new handle would know none of them).
// False when there is nothing to send again: no challenge, or cancelled.
bool AnswerChallenge(HINTERNET hRoot, HINTERNET hRequest) {
  if (InternetErrorDlg(GetDesktopWindow(), hRequest, ERROR_SUCCESS, kErrorDialogFlags, nullptr) !=
      ERROR_INTERNET_FORCE_RETRY) {
    return false;
  }
  g_proxyCredentials.Take(hRoot, hRequest);
  return DiscardBody(hRequest);
}

}  // namespace

bool CrackRequestUrl(const std::string& url, URL_COMPONENTSA& parts) {
  // Lengths of 1 ask the parser for pointers into the URL text; no
  // extra-info length, so a query stays part of the path.
  memset(&parts, 0, sizeof parts);
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = 1;
  parts.dwHostNameLength = 1;
  parts.dwUserNameLength = 1;
  parts.dwPasswordLength = 1;
  parts.dwUrlPathLength = 1;
  return InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) != FALSE;
}

HttpRequest::HttpRequest(IHttpCallback* callback, URL_COMPONENTSA urlParts, BOOL pinCertificate)
    : m_callback(callback), m_urlParts(urlParts) {
  if (pinCertificate) {
    m_certificate = LoadPinnedCertificate();
    m_certificateLoaded = m_certificate.IsValid();
  }
}

HttpRequest::~HttpRequest() = default;

void HttpRequest::SetLastInstalledUpdate(const char* value) {
  if (value == nullptr) return;
  m_headers["X-Last-Installed-Update"] = value;
}

void HttpRequest::SetHeader(const char* name, const char* value) {
  if (value == nullptr) return;
  m_headers[name] = value;
}

void HttpRequest::ReadResponseHeader(const char* name, HeaderReader reader, void* context) {
  m_responseHeader = name;
  m_headerReader = reader;
  m_headerContext = context;
}

void HttpRequest::HandResponseHeader(HINTERNET hRequest) const {
  // HTTP_QUERY_CUSTOM takes the header's name in the buffer it fills.
  char value[kResponseHeaderLimit + 1] = {};
  if (m_responseHeader.size() >= sizeof value) return;
  memcpy(value, m_responseHeader.c_str(), m_responseHeader.size());
  DWORD size = kResponseHeaderLimit;
  DWORD index = 0;
  if (!HttpQueryInfoA(hRequest, HTTP_QUERY_CUSTOM, value, &size, &index) ||
      size > kResponseHeaderLimit)
    return;
  value[size] = '\0';
  m_headerReader(value, m_headerContext);
}

bool HttpRequest::IsSecure() const { return m_urlParts.nScheme == INTERNET_SCHEME_HTTPS; }

int HttpRequest::Send() {
  // The owners close in reverse order of opening: request, connection, root.
  const UniqueInternetHandle hRoot(
      InternetOpenA("Updater", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!hRoot) {
    const DWORD error = GetLastError();
    m_callback->OnError(OpenFailed, error);
    return 0;
  }

  const std::string serverName = Component(m_urlParts.lpszHostName, m_urlParts.dwHostNameLength);
  const std::string userName = Component(m_urlParts.lpszUserName, m_urlParts.dwUserNameLength);
  const std::string password = Component(m_urlParts.lpszPassword, m_urlParts.dwPasswordLength);
  const UniqueInternetHandle hConnection(
      InternetConnectA(hRoot.Get(), serverName.c_str(), m_urlParts.nPort,
                       userName.empty() ? nullptr : userName.c_str(),
                       password.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
  if (!hConnection) {
    const DWORD error = GetLastError();
    m_callback->OnError(ConnectFailed, error);
    return 0;
  }

  // The path runs to the end of the URL, so a query goes with it unchanged.
  const char* object = m_urlParts.lpszUrlPath != nullptr && *m_urlParts.lpszUrlPath != '\0'
                           ? m_urlParts.lpszUrlPath
                           : "/";
  // A body that goes to a sink is an installer: the platform's cache would
  // keep a second copy of it in the user's profile.
  const DWORD flags = kRequestFlags | (IsSecure() ? INTERNET_FLAG_SECURE : 0) |
                      (m_bodySink != nullptr ? INTERNET_FLAG_NO_CACHE_WRITE : 0);
  const UniqueInternetHandle hRequest(
      HttpOpenRequestA(hConnection.Get(), "GET", object, nullptr, nullptr, nullptr, flags, 0));
  if (!hRequest) {
    const DWORD error = GetLastError();
    m_callback->OnError(OpenRequestFailed, error);
    return 0;
  }

  return Exchange(hRoot.Get(), hRequest.Get(), serverName);
}

int HttpRequest::Exchange(HINTERNET hRoot, HINTERNET hRequest, const std::string& serverName) {
  const bool pinned = m_certificateLoaded && IsSecure();
  if (pinned) PreparePin(hRequest);
  g_proxyCredentials.Apply(hRequest);

  const std::string headerText = ExtraHeaderText(m_headers);
  for (int round = 0;; ++round) {
    if (!HttpSendRequestA(hRequest, headerText.c_str(), static_cast<DWORD>(headerText.size()),
                          nullptr, 0)) {
      const DWORD error = GetLastError();
      m_callback->OnError(SendFailed, error);
      return 0;
    }
    // The one answer that needs no pin: the user's proxy asking for its
    // password before it opens the tunnel, so before any handshake with the
    // server (there is no chain). Nothing of it is the server's, so only
    // then is it read before the pin.
    const bool tunnelRefused =
        pinned && !HasServerChain(hRequest) && ChallengerOf(hRequest) == Challenger::Proxy;
    // Otherwise the request has been sent by now, but nothing of the answer
    // is used, nor any prompt shown for it, unless the server presented the
    // pinned certificate: pinning switched the platform's own checks off,
    // so any server completed the handshake, and one that asks for a
    // password must not get what the user types.
    if (pinned && !tunnelRefused && !CheckPin(hRequest, m_certificate.Get())) {
      m_callback->OnError(CertificateMismatch, 0);
      return 0;
    }
    // A server may ask for a password only over https, where the platform
    // or the pin has made sure which server it is: over plain http anyone
    // on the way could ask, and would read what the user types. The user's
    // own proxy may always ask.
    const Challenger challenger = ChallengerOf(hRequest);
    if (round == kCredentialRounds || challenger == Challenger::Nobody ||
        (challenger == Challenger::Server && !IsSecure()) || !AnswerChallenge(hRoot, hRequest)) {
      break;
    }
  }

  char status[kStatusCapacity];
  if (!QueryText(hRequest, HTTP_QUERY_STATUS_CODE, status, sizeof(status))) {
    const DWORD error = GetLastError();
    m_callback->OnError(QueryInfoFailed, error);
    return 0;
  }
  if (m_headerReader != nullptr && (status[0] == '2' || status[0] == '3'))
    HandResponseHeader(hRequest);
  if (StatusIs(status, "200")) return DeliverBody(hRequest);
  // A 303 is handed on as a 302: either names where the installer is.
  if (StatusIs(status, "302") || StatusIs(status, "303")) {
    return DeliverLocation(hRequest, serverName);
  }
  m_callback->OnError(UnexpectedStatus, static_cast<DWORD>(ParseLeadingNumber(status)));
  return 0;
}

int HttpRequest::DeliverBody(HINTERNET hRequest) {
  char text[kStatusCapacity];
  if (!QueryText(hRequest, HTTP_QUERY_CONTENT_LENGTH, text, sizeof(text))) {
    const DWORD error = GetLastError();
    m_callback->OnError(QueryInfoFailed, error);
    return 0;
  }

  // A length no block can have is refused before any memory is touched.
  uint32_t length = 0;
  if (!BodyBlockSize(ParseLeadingNumber(text), length)) {
    m_callback->OnError(ReadFailed, ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }

  BlockSink block;
  IHttpBodySink& sink = m_bodySink != nullptr ? *m_bodySink : block;
  if (!sink.BeginBody(length)) {
    // HeapAlloc does not set the last error when it fails.
    m_callback->OnError(ReadFailed, &sink == &block ? ERROR_NOT_ENOUGH_MEMORY : kSinkStopped);
    return 0;
  }
  DWORD error = 0;
  if (!ReadBody(hRequest, length, sink, error)) {
    block.Release();
    m_callback->OnError(ReadFailed, error);
    return 0;
  }

  const HttpResponse response = {m_urlParts.lpszUrlPath != nullptr ? m_urlParts.lpszUrlPath : "",
                                 length, block.Data()};
  return m_callback->OnResponse(200, &response);
}

bool HttpRequest::ReadBody(HINTERNET hRequest, DWORD length, IHttpBodySink& sink, DWORD& error) {
  // A fixed piece at a time, whatever the length, and released before the
  // callback: nothing of the body stays in memory while an installer runs.
  const DWORD pieceSize = length < kBodyPieceSize ? length : kBodyPieceSize;
  const UniqueHeapBlock piece(pieceSize != 0 ? HeapAlloc(GetProcessHeap(), 0, pieceSize) : nullptr);
  if (pieceSize != 0 && !piece) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  // One read may return less than asked for; read until the Content-Length
  // is reached, and never beyond it. A body that ends early is a failure: a
  // truncated installer must never be delivered as a whole one.
  DWORD total = 0;
  while (total < length) {
    const DWORD wanted = length - total < pieceSize ? length - total : pieceSize;
    DWORD read = 0;
    if (!InternetReadFile(hRequest, piece.Get(), wanted, &read)) {
      error = GetLastError();
      return false;
    }
    if (read == 0) {
      error = kBodyCutShort;
      return false;
    }
    if (!sink.TakeBody(piece.Get(), read)) {
      error = kSinkStopped;
      return false;
    }
    total += read;
  }
  return true;
}

int HttpRequest::DeliverLocation(HINTERNET hRequest, const std::string& serverName) {
  std::string location(kLocationCapacity, '\0');
  if (!QueryText(hRequest, HTTP_QUERY_LOCATION, location.data(), kLocationCapacity)) {
    const DWORD error = GetLastError();
    m_callback->OnError(QueryInfoFailed, error);
    return 0;
  }
  location.resize(strlen(location.c_str()));

  const std::string target =
      IsAbsoluteUrl(location.c_str())
          ? location
          : AbsoluteLocation(IsSecure(), serverName, m_urlParts.nPort, location);
  const HttpResponse response = {target.c_str(), 0, nullptr};
  return m_callback->OnResponse(302, &response);
}
