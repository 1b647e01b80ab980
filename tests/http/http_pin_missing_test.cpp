// HttpRequest with the pin asked for in a program that carries no pinned
// certificate: this executable is built without the program's resources.
#include "http/http_request.h"

#include <gtest/gtest.h>

#include "tests/http/recording_callback.h"
#include "tests/http/test_server_client.h"

namespace {

// Scripts `body` for `path` on fresh servers and fetches it with the pin asked for.
HttpCall FetchPinned(const char* scheme, const char* portVariable, const std::string& path,
                     const std::string& body) {
  ResetTestServers();
  ScriptedAnswer answer;
  answer.body = body;
  ScriptAnswer(path, answer);
  const unsigned port = TestServerPort(portVariable);
  return Fetch(TestServerUrl(scheme, "127.0.0.1", port, path), true).Only();
}

}  // namespace

TEST(HttpPinMissing, ThePlatformValidatesTheServerTheOrdinaryWay) {
  const HttpCall call = FetchPinned("https", "TAVRIN_TEST_HTTPS_PINNED_PORT", "/pinned",
                                    "would be accepted by the pin");
  EXPECT_FALSE(call.isResponse) << "accepted without a pin to vouch for the demo authority";
  EXPECT_EQ(call.code, SendFailed);
  EXPECT_NE(call.detail, 0u);
  EXPECT_TRUE(TestServerLog().empty());
}

TEST(HttpPinMissing, PlainRequestsAreUnaffected) {
  const HttpCall call = FetchPinned("http", "TAVRIN_TEST_HTTP_PORT", "/plain", "plain");
  EXPECT_TRUE(call.isResponse);
  EXPECT_EQ(call.body, "plain");
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
