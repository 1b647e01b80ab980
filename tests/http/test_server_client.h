// The Windows side of the scriptable test servers that with-test-servers
// starts (see test_server.py): their addresses from the environment, the
// answers a test scripts, and the log of what they received. Talks to the
// control paths over plain WinInet, not through the code under test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One scripted answer; the defaults give 200 with an empty body.
struct ScriptedAnswer {
  int status = 200;
  std::string body;                  // bytes; sent as they are
  std::optional<uint32_t> bodySize;  // instead of body: byte i is i % 251
  std::vector<std::pair<std::string, std::string>> headers;
  std::optional<std::string> location;
  // Absent: the body's length. Set: sent as it is.
  std::optional<std::string> contentLength;
  bool omitContentLength = false;
  bool chunked = false;
  std::optional<uint32_t> sendBytes;   // close after this many body bytes
  std::optional<uint32_t> resetBytes;  // reset the connection after this many body bytes
  double stallSeconds = 0;
  // After this many body bytes, wait pauseSeconds before the rest.
  std::optional<uint32_t> pauseBytes;
  double pauseSeconds = 1;
  // The body this many bytes at a time, trickleSeconds apart.
  std::optional<uint32_t> trickleBytes;
  double trickleSeconds = 1;
  // "user:password": a 401 Basic challenge until a request carries them.
  std::optional<std::string> basicAuth;
};

// `status` with a Location header and no body.
inline ScriptedAnswer Redirect(int status, const std::string& location) {
  ScriptedAnswer answer;
  answer.status = status;
  answer.location = location;
  return answer;
}

struct LoggedRequest {
  std::string listener;  // "http", "https_pinned", "https_other", "https_chain", "https_beside",
                         // "https_alt", "late"
  std::string method;
  std::string target;                                        // path with query, as received
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received

  // Every value of header `name` (compared without regard to case), in order.
  std::vector<std::string> Values(const std::string& name) const;
};

// Port or host named by `variable`; fails the current test when it is unset.
std::string TestServerValue(const char* variable);
unsigned TestServerPort(const char* variable);

// "<scheme>://<host>:<port><path>"
std::string TestServerUrl(const char* scheme, const std::string& host, unsigned port,
                          const std::string& path);

// The byte at `index` of a generated body (ScriptedAnswer::bodySize).
inline uint8_t GeneratedByte(size_t index) { return static_cast<uint8_t>(index % 251); }

// Each call fails the current test when the server does not answer as expected.
void ScriptAnswer(const std::string& path, const ScriptedAnswer& answer);
void ResetTestServers();
// Plain HTTP starts listening on TAVRIN_TEST_LATE_PORT, as listener "late".
void OpenLateListener();
std::vector<LoggedRequest> TestServerLog();
// The connections the silent listener (TAVRIN_TEST_SILENT_PORT) has taken.
unsigned SilentConnections();
