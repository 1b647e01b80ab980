#include "tests/http/recording_callback.h"

#include <gtest/gtest.h>

int RecordingCallback::OnResponse(int status, const HttpResponse* response) {
  HttpCall call;
  call.isResponse = true;
  call.code = status;
  if (response != nullptr) {
    call.url = response->url != nullptr ? response->url : "<null>";
    call.length = response->length;
    call.dataNull = response->data == nullptr;
    if (response->data != nullptr) {
      call.body.assign(static_cast<const char*>(response->data), response->length);
    }
  } else {
    ADD_FAILURE() << "OnResponse without a response";
  }
  calls.push_back(call);
  return responseResult;
}

int RecordingCallback::OnError(int code, DWORD detail) {
  HttpCall call;
  call.code = code;
  call.detail = detail;
  calls.push_back(call);
  return 0;
}

HttpCall Fetched::Only() const {
  EXPECT_EQ(callback.calls.size(), 1u) << "Send must end in exactly one callback";
  if (!callback.calls.empty()) return callback.calls.front();
  HttpCall none;
  none.code = -1;
  return none;
}

Fetched Fetch(const std::string& url, bool pin, const std::vector<std::string>& lastUpdates,
              int sends) {
  Fetched fetched;
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = 1;
  parts.dwHostNameLength = 1;
  parts.dwUserNameLength = 1;
  parts.dwPasswordLength = 1;
  parts.dwUrlPathLength = 1;
  if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    ADD_FAILURE() << "cannot split " << url << ": " << GetLastError();
    return fetched;
  }
  HttpRequest request(&fetched.callback, parts, pin ? TRUE : FALSE);
  for (const std::string& value : lastUpdates) request.SetLastInstalledUpdate(value.c_str());
  for (int i = 0; i < sends; ++i) fetched.sendResult = request.Send();
  return fetched;
}
