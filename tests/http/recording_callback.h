// An IHttpCallback that records every call with copies of what it was given,
// and the helper that sends one request the way the check thread does.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "http/http_request.h"

struct HttpCall {
  bool isResponse = false;
  int code = 0;  // the status of a response, the HttpError of an error
  DWORD detail = 0;
  std::string url;
  DWORD length = 0;
  bool dataNull = true;
  std::string body;
};

class RecordingCallback : public IHttpCallback {
 public:
  int OnResponse(int status, const HttpResponse* response) override;
  int OnError(int code, DWORD detail) override;

  std::vector<HttpCall> calls;
  int responseResult = 1;  // what OnResponse answers
};

struct Fetched {
  RecordingCallback callback;
  int sendResult = -1;

  // The single call, or a failure when there was not exactly one.
  HttpCall Only() const;
};

// Splits `url` as the check thread does (the query stays in the path), builds
// a request, sets each of `lastUpdates` in turn and calls Send `sends` times.
Fetched Fetch(const std::string& url, bool pin, const std::vector<std::string>& lastUpdates = {},
              int sends = 1);
