#include "http/http_request.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "http/certificate_pin.h"
#include "platform/slim_lock.h"

namespace {

// The security flag is added for https requests.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
static_assert(kRequestFlags == 0x80200000);

// The platform answers no challenge by itself: neither with the URL's
// password, nor with the proxy's, nor (on an intranet) with the logged-on
// user's. Only a handle that answers a challenge that qualified goes without
// it, carrying exactly the credentials chosen for that challenge.
constexpr DWORD kNoAuthentication = INTERNET_FLAG_NO_AUTH;

// Let the platform answer an authentication challenge with its own dialog.
constexpr DWORD kErrorDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                    FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                    FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;

// Set on every handle, so that Windows and Wine wait alike (Wine has no
// default at all). The receive time-out bounds every wait for the server,
// the head's included: a server that accepts and never answers is given up
// after it.
constexpr DWORD kConnectTimeoutMs = 30000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;

// What a body that came too slowly (BodyPace) is reported with: the same
// as the platform's own receive time-out.
constexpr DWORD kTooSlow = ERROR_INTERNET_TIMEOUT;

constexpr DWORD kStatusCapacity = 1024;

// How often one request is sent again with credentials; each answer of the
// user's is asked for, so this only bounds a platform that would not ask.
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

// The scheme the platform's parser reads in `location`, or
// INTERNET_SCHEME_UNKNOWN when it does not take it as a whole URL.
INTERNET_SCHEME AbsoluteUrlScheme(const char* location) {
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = 1;
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  if (!InternetCrackUrlA(location, static_cast<DWORD>(strlen(location)), 0, &parts)) {
    return INTERNET_SCHEME_UNKNOWN;
  }
  return parts.nScheme;
}

void SetTimeouts(HINTERNET handle) {
  const struct {
    DWORD option;
    DWORD ms;
  } timeouts[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs},
                  {INTERNET_OPTION_SEND_TIMEOUT, kSendTimeoutMs},
                  {INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs}};
  for (const auto& timeout : timeouts) {
    DWORD value = timeout.ms;
    InternetSetOptionW(handle, timeout.option, &value, sizeof value);
  }
}

// Empties `text` and overwrites every byte it held, the unused capacity too.
void Wipe(std::string& text) {
  text.resize(text.capacity());
  if (!text.empty()) SecureZeroMemory(text.data(), text.size());
  text.clear();
}

// A user name and password, wiped when replaced and when gone. Never moved:
// a moved short string leaves its bytes behind.
class Credentials {
 public:
  Credentials() = default;
  ~Credentials() { Clear(); }
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;

  bool Empty() const noexcept { return m_user.empty(); }
  void Clear() {
    Wipe(m_user);
    Wipe(m_password);
  }
  void CopyFrom(const Credentials& other) {
    Assign(other.m_user.data(), other.m_user.size(), other.m_password.data(),
           other.m_password.size());
  }
  void Assign(const char* user, size_t userSize, const char* password, size_t passwordSize) {
    Clear();
    if (user == nullptr || userSize == 0) return;
    m_user.assign(user, userSize);
    if (password != nullptr) m_password.assign(password, passwordSize);
  }
  // Reads `userOption` and `passwordOption` of `handle`: what the platform
  // stored from its prompt. False when there is no user name.
  bool ReadFrom(HINTERNET handle, DWORD userOption, DWORD passwordOption) {
    char user[512] = {};
    char password[512] = {};
    DWORD userSize = sizeof user - 1;
    DWORD passwordSize = sizeof password - 1;
    if (InternetQueryOptionA(handle, userOption, user, &userSize) &&
        InternetQueryOptionA(handle, passwordOption, password, &passwordSize)) {
      Assign(user, strnlen(user, sizeof user), password, strnlen(password, sizeof password));
    }
    SecureZeroMemory(user, sizeof user);
    SecureZeroMemory(password, sizeof password);
    return !Empty();
  }
  void SetOn(HINTERNET hRequest, DWORD userOption, DWORD passwordOption) const {
    if (Empty()) return;
    InternetSetOptionA(hRequest, userOption, const_cast<char*>(m_user.c_str()),
                       static_cast<DWORD>(m_user.size()));
    InternetSetOptionA(hRequest, passwordOption, const_cast<char*>(m_password.c_str()),
                       static_cast<DWORD>(m_password.size()));
  }

 private:
  std::string m_user;
  std::string m_password;
};

// The proxy's user name and password as the user typed them into the
// platform's prompt, kept for the rest of the process: all its requests go
// through the same proxy, whose password is asked once. They go only to
// that proxy, on a request it has refused for want of them. A server's own
// credentials are not kept, since a download may go to another host.
class KeptProxyCredentials {
 public:
  void CopyTo(Credentials& credentials) {
    const std::lock_guard<SlimLock> hold(m_lock);
    credentials.CopyFrom(m_credentials);
  }
  void Keep(const Credentials& credentials) {
    const std::lock_guard<SlimLock> hold(m_lock);
    m_credentials.CopyFrom(credentials);
  }
  void Forget() {
    const std::lock_guard<SlimLock> hold(m_lock);
    m_credentials.Clear();
  }

 private:
  SlimLock m_lock;
  Credentials m_credentials;
};

KeptProxyCredentials g_proxyCredentials;

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

// Host names are ASCII; anything else cannot match a bypass entry anyway.
std::string AsciiOf(const wchar_t* text) {
  std::string ascii;
  for (; text != nullptr && *text != L'\0'; ++text) {
    ascii += *text < 0x80 ? static_cast<char>(*text) : '\x7F';
  }
  return ascii;
}

// Whether the user's settings, as Internet Options holds them, send `host`
// through a proxy. With automatic configuration the platform decides by
// itself, and a proxy is assumed.
bool SettingsUseProxy(const std::string& host) {
  INTERNET_PER_CONN_OPTIONW options[2] = {};
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  options[1].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
  INTERNET_PER_CONN_OPTION_LISTW list = {};
  list.dwSize = sizeof list;
  list.dwOptionCount = 2;
  list.pOptions = options;
  DWORD size = sizeof list;
  if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
    return true;
  }
  const std::string bypass = AsciiOf(options[1].Value.pszValue);
  if (options[1].Value.pszValue != nullptr) GlobalFree(options[1].Value.pszValue);
  const DWORD flags = options[0].Value.dwValue;
  if (flags & (PROXY_TYPE_AUTO_PROXY_URL | PROXY_TYPE_AUTO_DETECT)) return true;
  return (flags & PROXY_TYPE_PROXY) != 0 && !ProxyBypassed(bypass, host);
}

// Whether the request on `hRequest`, for `host`, went through a proxy: as
// the platform says of the request itself, else as the root handle's
// settings (or the user's) have it, their bypass list included.
bool WentThroughProxy(HINTERNET hRoot, HINTERNET hRequest, const std::string& host) {
  INTERNET_DIAGNOSTIC_SOCKET_INFO socket = {};
  DWORD socketSize = sizeof socket;
  if (InternetQueryOptionW(hRequest, INTERNET_OPTION_DIAGNOSTIC_SOCKET_INFO, &socket,
                           &socketSize)) {
    return (socket.Flags & IDSI_FLAG_PROXY) != 0;
  }
  DWORD size = 0;
  InternetQueryOptionW(hRoot, INTERNET_OPTION_PROXY, nullptr, &size);
  if (size < sizeof(INTERNET_PROXY_INFO)) return SettingsUseProxy(host);
  // Aligned for the record the strings follow.
  std::vector<INTERNET_PROXY_INFO> buffer(size / sizeof(INTERNET_PROXY_INFO) + 1);
  size = static_cast<DWORD>(buffer.size() * sizeof(INTERNET_PROXY_INFO));
  if (!InternetQueryOptionW(hRoot, INTERNET_OPTION_PROXY, buffer.data(), &size)) {
    return SettingsUseProxy(host);
  }
  const INTERNET_PROXY_INFO& info = buffer[0];
  if (info.dwAccessType == INTERNET_OPEN_TYPE_DIRECT) return false;
  // A preconfigured handle says only that: the user's settings decide.
  if (info.dwAccessType != INTERNET_OPEN_TYPE_PROXY) return SettingsUseProxy(host);
  return !ProxyBypassed(AsciiOf(info.lpszProxyBypass), host);
}

// The platform's credential prompt for the challenge on `hRequest`. True
// when the user answered it; what was typed is then in `typed` when the
// platform lets it be read back (it may keep it on the request, or, as Wine
// does, on the connection or the root handle).
bool AskUser(HINTERNET hRoot, HINTERNET hRequest, Challenger challenger, Credentials& typed) {
  if (InternetErrorDlg(GetDesktopWindow(), hRequest, ERROR_SUCCESS, kErrorDialogFlags, nullptr) !=
      ERROR_INTERNET_FORCE_RETRY) {
    return false;
  }
  if (challenger == Challenger::Proxy) {
    if (!typed.ReadFrom(hRequest, INTERNET_OPTION_PROXY_USERNAME, INTERNET_OPTION_PROXY_PASSWORD)) {
      typed.ReadFrom(hRoot, INTERNET_OPTION_PROXY_USERNAME, INTERNET_OPTION_PROXY_PASSWORD);
    }
  } else {
    typed.ReadFrom(hRequest, INTERNET_OPTION_USERNAME, INTERNET_OPTION_PASSWORD);
  }
  return true;
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
  SetTimeouts(hRoot.Get());

  // The URL's user name and password are not given to the connection: the
  // platform would send them to whoever asks. They go only with a request
  // that answers a challenge of this server's that qualified.
  const std::string serverName = Component(m_urlParts.lpszHostName, m_urlParts.dwHostNameLength);
  const UniqueInternetHandle hConnection(InternetConnectA(hRoot.Get(), serverName.c_str(),
                                                          m_urlParts.nPort, nullptr, nullptr,
                                                          INTERNET_SERVICE_HTTP, 0, 0));
  if (!hConnection) {
    const DWORD error = GetLastError();
    m_callback->OnError(ConnectFailed, error);
    return 0;
  }
  return Exchange(hRoot.Get(), hConnection.Get(), serverName);
}

HINTERNET HttpRequest::OpenRequest(HINTERNET hConnection, bool answering) const {
  // The path runs to the end of the URL, so a query goes with it unchanged.
  const char* object = m_urlParts.lpszUrlPath != nullptr && *m_urlParts.lpszUrlPath != '\0'
                           ? m_urlParts.lpszUrlPath
                           : "/";
  // A body that goes to a sink is an installer: the platform's cache would
  // keep a second copy of it in the user's profile.
  const DWORD flags = kRequestFlags | (IsSecure() ? INTERNET_FLAG_SECURE : 0) |
                      (m_bodySink != nullptr ? INTERNET_FLAG_NO_CACHE_WRITE : 0) |
                      (answering ? 0 : kNoAuthentication);
  HINTERNET hRequest =
      HttpOpenRequestA(hConnection, "GET", object, nullptr, nullptr, nullptr, flags, 0);
  if (hRequest != nullptr) SetTimeouts(hRequest);
  return hRequest;
}

int HttpRequest::Exchange(HINTERNET hRoot, HINTERNET hConnection, const std::string& serverName) {
  const bool pinned = m_certificateLoaded && IsSecure();
  const std::string headerText = ExtraHeaderText(m_headers);
  // What the next handle answers the proxy's and the server's challenge
  // with; each is set only once that party has asked and qualified.
  Credentials proxy;
  Credentials server;
  bool answering = false;
  bool keptProxyTried = false;
  bool urlCredentialsTried = false;
  UniqueInternetHandle hRequest;
  for (int round = 0;; ++round) {
    // Each answer goes on a fresh handle: the platform's own state for the
    // refused one (what it would answer with) is dropped with it.
    hRequest.Reset(OpenRequest(hConnection, answering));
    if (!hRequest) {
      const DWORD error = GetLastError();
      m_callback->OnError(OpenRequestFailed, error);
      return 0;
    }
    if (pinned) PreparePin(hRequest.Get());
    proxy.SetOn(hRequest.Get(), INTERNET_OPTION_PROXY_USERNAME, INTERNET_OPTION_PROXY_PASSWORD);
    server.SetOn(hRequest.Get(), INTERNET_OPTION_USERNAME, INTERNET_OPTION_PASSWORD);
    if (!HttpSendRequestA(hRequest.Get(), headerText.c_str(), static_cast<DWORD>(headerText.size()),
                          nullptr, 0)) {
      const DWORD error = GetLastError();
      m_callback->OnError(SendFailed, error);
      return 0;
    }
    // Over https, no chain means that no handshake with the server took
    // place: the answer is the proxy's, to the tunnel. (A chain does not
    // prove the opposite: the platform may keep the one of an earlier
    // connection to the same server.)
    const bool serverChain = IsSecure() && HasServerChain(hRequest.Get());
    // The one answer that needs no pin: the user's proxy asking for its
    // password before it opens the tunnel. Nothing of it is the server's,
    // so only then is it read before the pin.
    const bool tunnelRefused =
        pinned && !serverChain && ChallengerOf(hRequest.Get()) == Challenger::Proxy;
    // Otherwise the request has been sent by now, but nothing of the answer
    // is used, nor any prompt shown for it, unless the server presented the
    // pinned certificate: pinning switched the platform's own checks off,
    // so any server completed the handshake.
    if (pinned && !tunnelRefused && !CheckPin(hRequest.Get(), m_certificate.Get())) {
      m_callback->OnError(CertificateMismatch, 0);
      return 0;
    }
    // A challenge qualifies from the user's configured proxy, on a request
    // that went through it (a 407 inside a pinned tunnel has passed the pin
    // as well), and from a server over https, where the pin or the
    // platform has made sure which server it is. Over plain http anyone on
    // the way could ask, and a 407 on a request that went to no proxy is
    // nobody's to answer.
    const Challenger challenger = ChallengerOf(hRequest.Get());
    const bool qualifies =
        (challenger == Challenger::Proxy && WentThroughProxy(hRoot, hRequest.Get(), serverName)) ||
        (challenger == Challenger::Server && IsSecure());
    if (!qualifies || round == kCredentialRounds) {
      // The proxy's password this request carried came back with a refusal
      // (some proxies refuse it with a 401): it is not offered again.
      if (!proxy.Empty() && challenger != Challenger::Nobody) g_proxyCredentials.Forget();
      break;
    }
    Credentials& answer = challenger == Challenger::Proxy ? proxy : server;
    // The same party asks again: what this handle carried was refused, and
    // a refused proxy password is not offered to any later request either.
    if (!answer.Empty()) {
      if (challenger == Challenger::Proxy) g_proxyCredentials.Forget();
      answer.Clear();
    }
    if (challenger == Challenger::Proxy && !keptProxyTried) {
      keptProxyTried = true;
      g_proxyCredentials.CopyTo(answer);
    } else if (challenger == Challenger::Server && !urlCredentialsTried) {
      urlCredentialsTried = true;
      answer.Assign(m_urlParts.lpszUserName, m_urlParts.dwUserNameLength, m_urlParts.lpszPassword,
                    m_urlParts.dwPasswordLength);
    }
    if (answer.Empty()) {
      // The prompt waits for the user, who may take longer than any limit
      // on the answer: the caller says whether it still wants one.
      if (!m_callback->OnChallenge() || !AskUser(hRoot, hRequest.Get(), challenger, answer)) {
        if (challenger == Challenger::Proxy) g_proxyCredentials.Forget();
        break;
      }
      if (challenger == Challenger::Proxy) g_proxyCredentials.Keep(answer);
    }
    answering = true;
  }

  char status[kStatusCapacity];
  if (!QueryText(hRequest.Get(), HTTP_QUERY_STATUS_CODE, status, sizeof(status))) {
    const DWORD error = GetLastError();
    m_callback->OnError(QueryInfoFailed, error);
    return 0;
  }
  if (m_headerReader != nullptr && (status[0] == '2' || status[0] == '3'))
    HandResponseHeader(hRequest.Get());
  if (StatusIs(status, "200")) return DeliverBody(hRequest.Get());
  // A 303 is handed on as a 302: either names where the installer is.
  if (StatusIs(status, "302") || StatusIs(status, "303")) {
    return DeliverLocation(hRequest.Get(), serverName);
  }
  m_callback->OnError(UnexpectedStatus, static_cast<DWORD>(ParseLeadingNumber(status)));
  return 0;
}

void HttpRequest::ForgetKeptCredentials() { g_proxyCredentials.Forget(); }

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
  // Read until the Content-Length is reached, and never beyond it. A body
  // that ends early is a failure: a truncated installer must never be
  // delivered as a whole one. Only what has arrived is read, so that each
  // read returns at once and the pace is judged here, between reads; the
  // platform's receive time-out bounds the wait for the next byte.
  BodyPace pace(GetTickCount64());
  DWORD total = 0;
  while (total < length) {
    DWORD available = 0;
    if (!InternetQueryDataAvailable(hRequest, &available, 0, 0)) {
      error = GetLastError();
      return false;
    }
    if (available == 0) {
      error = kBodyCutShort;
      return false;
    }
    DWORD wanted = length - total < pieceSize ? length - total : pieceSize;
    if (available < wanted) wanted = available;
    DWORD read = 0;
    if (!InternetReadFile(hRequest, piece.Get(), wanted, &read)) {
      error = GetLastError();
      return false;
    }
    if (read == 0) {
      error = kBodyCutShort;
      return false;
    }
    if (!pace.Arrived(GetTickCount64(), read)) {
      error = kTooSlow;
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

  const INTERNET_SCHEME scheme = AbsoluteUrlScheme(location.c_str());
  const std::string target =
      scheme != INTERNET_SCHEME_UNKNOWN
          ? location
          : AbsoluteLocation(IsSecure(), serverName, m_urlParts.nPort, location);
  // With the pin on, every hop is https: the pin holds each one, and a
  // Location that leaves https would hand the installer to anyone on the
  // way. A relative Location stays on this server, over https.
  const bool secureTarget =
      scheme == INTERNET_SCHEME_UNKNOWN ? IsSecure() : scheme == INTERNET_SCHEME_HTTPS;
  if (m_certificateLoaded && IsSecure() && !secureTarget) {
    m_callback->OnError(InsecureLocation, 0);
    return 0;
  }
  const HttpResponse response = {target.c_str(), 0, nullptr};
  return m_callback->OnResponse(302, &response);
}
