#include "tests/http/test_server_client.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <cstdlib>
#include <sstream>

#include "platform/unique_handle.h"

namespace {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      // Code points up to 255 stand for single bytes on the server's side.
      char escape[8];
      snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string AnswerJson(const ScriptedAnswer& answer) {
  std::ostringstream json;
  json << "{\"status\": " << answer.status;
  if (answer.bodySize) {
    json << ", \"body_size\": " << *answer.bodySize;
  } else {
    json << ", \"body\": " << JsonString(answer.body);
  }
  json << ", \"headers\": [";
  for (size_t i = 0; i < answer.headers.size(); ++i) {
    json << (i ? ", " : "") << "[" << JsonString(answer.headers[i].first) << ", "
         << JsonString(answer.headers[i].second) << "]";
  }
  json << "]";
  if (answer.location) json << ", \"location\": " << JsonString(*answer.location);
  if (answer.omitContentLength) {
    json << ", \"content_length\": null";
  } else if (answer.contentLength) {
    json << ", \"content_length\": " << JsonString(*answer.contentLength);
  }
  if (answer.chunked) json << ", \"chunked\": true";
  if (answer.sendBytes) json << ", \"send_bytes\": " << *answer.sendBytes;
  if (answer.resetBytes) json << ", \"reset_bytes\": " << *answer.resetBytes;
  if (answer.stallSeconds > 0) json << ", \"stall\": " << answer.stallSeconds;
  if (answer.trickleBytes) {
    json << ", \"trickle_bytes\": " << *answer.trickleBytes
         << ", \"trickle_seconds\": " << answer.trickleSeconds;
  }
  if (answer.pauseBytes) {
    json << ", \"pause_bytes\": " << *answer.pauseBytes
         << ", \"pause_seconds\": " << answer.pauseSeconds;
  }
  if (answer.basicAuth) json << ", \"basic_auth\": " << JsonString(*answer.basicAuth);
  json << "}";
  return json.str();
}

// One exchange with the control paths of the plain HTTP listener.
std::string Control(const char* method, const char* what, const std::string& body = {}) {
  const unsigned port = TestServerPort("TAVRIN_TEST_HTTP_PORT");
  const UniqueInternetHandle root(
      InternetOpenA("tavrin-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  const UniqueInternetHandle connection(InternetConnectA(root.Get(), "127.0.0.1",
                                                         static_cast<INTERNET_PORT>(port), nullptr,
                                                         nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  const std::string path = std::string("/__control/") + what;
  const UniqueInternetHandle request(
      HttpOpenRequestA(connection.Get(), method, path.c_str(), nullptr, nullptr, nullptr,
                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  const char* type = "Content-Type: application/json";
  if (!request ||
      !HttpSendRequestA(request.Get(), type, static_cast<DWORD>(strlen(type)),
                        const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
    ADD_FAILURE() << "control request " << what << " failed: " << GetLastError();
    return {};
  }
  DWORD status = 0;
  DWORD size = sizeof(status);
  HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                 nullptr);
  std::string answer;
  char buffer[4096];
  DWORD read = 0;
  while (InternetReadFile(request.Get(), buffer, sizeof(buffer), &read) && read > 0) {
    answer.append(buffer, read);
  }
  EXPECT_EQ(status, 200u) << "control request " << what << ": " << answer;
  return answer;
}

}  // namespace

std::vector<std::string> LoggedRequest::Values(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& [headerName, value] : headers) {
    if (_stricmp(headerName.c_str(), name.c_str()) == 0) values.push_back(value);
  }
  return values;
}

std::string TestServerValue(const char* variable) {
  const char* value = getenv(variable);
  if (value == nullptr || *value == '\0') {
    ADD_FAILURE() << variable << " is not set: run the test through tests/http/with-test-servers";
    return {};
  }
  return value;
}

unsigned TestServerPort(const char* variable) {
  return static_cast<unsigned>(strtoul(TestServerValue(variable).c_str(), nullptr, 10));
}

std::string TestServerUrl(const char* scheme, const std::string& host, unsigned port,
                          const std::string& path) {
  return std::string(scheme) + "://" + host + ":" + std::to_string(port) + path;
}

void ScriptAnswer(const std::string& path, const ScriptedAnswer& answer) {
  Control("POST", "script", "{" + JsonString(path) + ": " + AnswerJson(answer) + "}");
}

void ResetTestServers() { Control("POST", "reset"); }

void OpenLateListener() { Control("POST", "open-late"); }

unsigned SilentConnections() {
  return static_cast<unsigned>(std::stoul("0" + Control("GET", "silent-connections")));
}

std::vector<LoggedRequest> TestServerLog() {
  std::vector<LoggedRequest> log;
  std::istringstream lines(Control("GET", "log"));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("REQUEST ", 0) == 0) {
      std::istringstream words(line.substr(8));
      LoggedRequest request;
      words >> request.listener >> request.method >> request.target;
      log.push_back(request);
    } else if (line.rfind("H ", 0) == 0 && !log.empty()) {
      const size_t colon = line.find(": ", 2);
      if (colon == std::string::npos) continue;
      log.back().headers.emplace_back(line.substr(2, colon - 2), line.substr(colon + 2));
    }
  }
  return log;
}
