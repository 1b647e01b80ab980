// One synchronous HTTP or HTTPS GET over WinInet, reported to a callback:
// the body of a 200, the absolute target of a 302 or 303, or an error code.
// A request belongs to the thread that calls Send; the callbacks run on that
// thread, inside Send. Redirects are never followed here: the caller decides.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "http/http_text.h"
#include "platform/unique_handle.h"

// What OnResponse receives. It and everything it points to live only during
// that call: the callback copies what it keeps.
struct HttpResponse {
  // For 200, the URL-path text of the request (path and query); for 302, the
  // absolute redirect target.
  const char* url;
  // Body bytes of a 200 (at `data`, or handed to the body sink); 0 for 302.
  DWORD length;
  // The body, or null for 302 and for a body handed to a sink. Freed by the
  // request when OnResponse returns.
  const void* data;
};

// Takes the body of a 200 as it arrives, in pieces, instead of one block in
// memory: how an installer of any size is saved. Called on the thread of
// Send, before OnResponse; OnResponse(200) follows only when exactly
// Content-Length bytes were taken, and otherwise OnError(ReadFailed) does.
class IHttpBodySink {
 public:
  // Before the first byte, with the Content-Length. False refuses the body:
  // nothing is read, and the sink has no error of the request's to report.
  virtual bool BeginBody(DWORD length) = 0;
  // The next `size` bytes (never empty). False stops the read.
  virtual bool TakeBody(const void* data, DWORD size) = 0;

 protected:
  ~IHttpBodySink() = default;
};

// The codes handed to OnError, with what `detail` carries for each.
enum HttpError : int {
  OpenFailed = 1,           // InternetOpenA failed; last error
  ConnectFailed = 2,        // InternetConnectA failed; last error
  OpenRequestFailed = 3,    // HttpOpenRequestA failed; last error
  SendFailed = 4,           // HttpSendRequestA failed (also TLS refusals without a pin)
  CertificateMismatch = 5,  // pin in force, no chain, or the server's own certificate is not it; 0
  QueryInfoFailed = 6,      // status, Content-Length of a 200 or Location of a 302/303
  // The body could not be read (last error), ended before its Content-Length
  // (ERROR_HANDLE_EOF), no block can hold it (ERROR_NOT_ENOUGH_MEMORY), it
  // came too slowly (ERROR_INTERNET_TIMEOUT: the platform's receive time-out,
  // or fewer than 16 KiB in 60 s), or the body sink refused or stopped it
  // (ERROR_CANCELLED).
  ReadFailed = 7,
  UnexpectedStatus = 8,  // any status but 200, 302, 303; the status as a number
  // Pin in force and a 302/303 whose Location leaves https; 0. The server
  // answered, but its Location is not followed.
  InsecureLocation = 9,
};

// Receives the single outcome of each Send, on the thread that called it.
// Implementations must not destroy the request from inside a callback.
class IHttpCallback {
 public:
  // status is 200 or 302 (also for a server's 303); response is never null.
  // The result becomes the result of Send.
  virtual int OnResponse(int status, const HttpResponse* response) = 0;
  // code is an HttpError; the result is ignored.
  virtual int OnError(int code, DWORD detail) = 0;
  // A challenge that qualifies is about to bring up the password prompt:
  // false answers it with Cancel instead.
  virtual bool OnChallenge() { return true; }

 protected:
  // Not deleted through this interface: the dialog owns itself.
  ~IHttpCallback() = default;
};

// Splits `url` into the components record that HttpRequest takes: scheme,
// host, port (the scheme's default when the URL names none), user, password
// and the path with its query, as pointers into `url`, which must outlive the
// request. False when the platform's parser rejects it.
bool CrackRequestUrl(const std::string& url, URL_COMPONENTSA& parts);

class HttpRequest {
 public:
  // `urlParts` as InternetCrackUrlA filled it: its strings point into the
  // caller's URL text, which must stay alive and unchanged while the request
  // exists. With `pinCertificate` nonzero the certificate carried in the
  // program's resources is loaded; when that fails the pin is simply off.
  HttpRequest(IHttpCallback* callback, URL_COMPONENTSA urlParts, BOOL pinCertificate);
  virtual ~HttpRequest();

  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Sets (or replaces) the header "X-Last-Installed-Update". A null value is
  // ignored.
  void SetLastInstalledUpdate(const char* value);

  // Sets (or replaces) the extra request header `name`, which must be a
  // header name; a null value is ignored. The value must hold no CR or LF.
  void SetHeader(const char* name, const char* value);

  // Hands the value of the response header `name` to `reader` (with
  // `context`) when an answer with a 2xx or 3xx status arrives (a 204 too),
  // after the pin and before OnResponse or OnError. A header that is absent
  // or longer than kResponseHeaderLimit bytes is not handed on.
  using HeaderReader = void (*)(const char* value, void* context);
  void ReadResponseHeader(const char* name, HeaderReader reader, void* context);
  static constexpr DWORD kResponseHeaderLimit = 256;

  // From now on the body of a 200 goes to `sink` (not owned; it must outlive
  // every Send) as it arrives, through a buffer of kBodyPieceSize bytes, and
  // OnResponse(200) gets no data; the platform keeps no copy of it in its
  // cache either. Without a sink the body is delivered as one block.
  void SetBodySink(IHttpBodySink* sink) noexcept { m_bodySink = sink; }
  static constexpr DWORD kBodyPieceSize = 64 * 1024;

  // One complete attempt; ends in exactly one OnResponse or OnError. Returns
  // what OnResponse returned, or 0 when it was not called. May be called
  // again: each call opens and closes its own handles. The platform answers
  // no authentication challenge by itself; the URL's user name and password
  // answer a 401 of an https server the pin (or, without it, the platform)
  // accepted, and the proxy's password, asked once and kept, a 407 of the
  // user's proxy; nothing else is ever sent them.
  int Send();

  // Wipes the proxy's user name and password kept for the process: at the
  // end of the run.
  static void ForgetKeptCredentials();

 private:
  bool IsSecure() const;
  // A request handle on `hConnection`, with the time-outs set; one that
  // `answering` a qualified challenge lets the platform answer it.
  HINTERNET OpenRequest(HINTERNET hConnection, bool answering) const;
  // The rest of one attempt once the connection handle is open: the
  // request, sent again on a new handle for each challenge answered;
  // reports the outcome and returns Send's result.
  int Exchange(HINTERNET hRoot, HINTERNET hConnection, const std::string& serverName);
  int DeliverBody(HINTERNET hRequest);
  // Reads `length` bytes of body into `sink`; false with `error` set when the
  // read failed, the body ended early or the sink stopped it.
  bool ReadBody(HINTERNET hRequest, DWORD length, IHttpBodySink& sink, DWORD& error);
  int DeliverLocation(HINTERNET hRequest, const std::string& serverName);
  void HandResponseHeader(HINTERNET hRequest) const;

  IHttpCallback* m_callback;            // not owned
  IHttpBodySink* m_bodySink = nullptr;  // not owned; null: one block
  URL_COMPONENTSA m_urlParts;
  HeaderMap m_headers;
  std::string m_responseHeader;  // the one handed to m_headerReader
  HeaderReader m_headerReader = nullptr;
  void* m_headerContext = nullptr;
  bool m_certificateLoaded = false;
  UniqueCertContext m_certificate;
};
