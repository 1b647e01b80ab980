// http_get.exe URL [PIN] [LAST_INSTALLED]
// Sends one GET through the program's own HTTP client, with the certificate
// pin when PIN is "1" and the header X-Last-Installed-Update when
// LAST_INSTALLED is given, and prints the one outcome the client reports.
// Its exit code: 0 after OnResponse, the HttpError code after OnError, 9 when
// the URL does not parse.
#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

#include <cstdio>
#include <string>

#include "http/http_request.h"
#include "text/text.h"

namespace {

const char* ErrorName(int code) {
  static const char* const kNames[] = {"",
                                       "OpenFailed",
                                       "ConnectFailed",
                                       "OpenRequestFailed",
                                       "SendFailed",
                                       "CertificateMismatch",
                                       "QueryInfoFailed",
                                       "ReadFailed",
                                       "UnexpectedStatus"};
  return code >= 1 && code <= 8 ? kNames[code] : "?";
}

class PrintingCallback : public IHttpCallback {
 public:
  int OnResponse(int status, const HttpResponse* response) override {
    if (status == 302) {
      printf("OnResponse(302): location %s\n", response->url);
    } else {
      printf("OnResponse(%d): %lu bytes for %s\n", status, response->length, response->url);
    }
    m_outcome = 0;
    return 1;
  }
  int OnError(int code, DWORD detail) override {
    printf("OnError(%d %s): detail %lu\n", code, ErrorName(code), detail);
    m_outcome = code;
    return 0;
  }
  int Outcome() const { return m_outcome; }

 private:
  int m_outcome = 9;
};

}  // namespace

int wmain() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (count < 2) {
    fputs("usage: http_get.exe URL [PIN] [LAST_INSTALLED]\n", stderr);
    return 9;
  }
  const std::string url = ToNarrow(args[1]);
  const BOOL pin = count > 2 && std::wstring(args[2]) == L"1";
  const std::string lastInstalled = count > 3 ? ToNarrow(args[3]) : std::string();
  LocalFree(args);

  // The caller's URL text stays alive for the request: the parts point into it.
  URL_COMPONENTSA parts;
  if (!CrackRequestUrl(url, parts)) {
    fprintf(stderr, "http_get: not a URL: %s\n", url.c_str());
    return 9;
  }
  PrintingCallback callback;
  HttpRequest request(&callback, parts, pin);
  if (!lastInstalled.empty()) request.SetLastInstalledUpdate(lastInstalled.c_str());
  request.Send();
  return callback.Outcome();
}
