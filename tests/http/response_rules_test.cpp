#include "http/private/ResponseRules.h"

#include <gtest/gtest.h>

namespace brv::http_detail {
namespace {

TEST(ResponseRules, KeepAliveFollowsTheConnectionFieldsOfBothSides) {
  const struct {
    TIdHTTPProtocolVersion version;
    bool proxy;
    const char* requestConnection;
    const char* requestProxyConnection;
    const char* responseConnection;
    const char* responseProxyConnection;
    bool keep;
  } rows[] = {
      {pv1_1, false, "", "", "", "", true},
      {pv1_1, false, "", "", " Close ", "", false},
      {pv1_1, false, "close", "", "keep-alive", "", false},
      {pv1_1, false, "", "close", "", "close", true},  // proxy fields count through a proxy only
      {pv1_1, true, "", "close", "", "", false},
      {pv1_1, true, "", "", "", "close", false},
      {pv1_0, false, "", "", "", "", false},
      {pv1_0, false, "", "", "Keep-Alive", "", true},
      {pv1_0, true, "", "", "keep-alive", "", false},
      {pv1_0, true, "", "", "keep-alive", "keep-alive", true},
  };
  for (const auto& row : rows) {
    TIdHTTPRequest request(nullptr);
    request.SetConnection(row.requestConnection);
    request.SetProxyConnection(row.requestProxyConnection);
    TIdHTTPResponse response(nullptr);
    response.SetConnection(row.responseConnection);
    response.SetProxyConnection(row.responseProxyConnection);
    EXPECT_EQ(KeepAliveByHeaders(request, response, row.version, row.proxy), row.keep)
        << (row.version == pv1_0 ? "1.0" : "1.1") << " proxy " << row.proxy << " request \""
        << row.requestConnection << "\" \"" << row.requestProxyConnection << "\" response \""
        << row.responseConnection << "\" \"" << row.responseProxyConnection << "\"";
  }
}

TEST(ResponseRules, BodyExpectationByMethodStatusFramingAndOptions) {
  THTTPResponseDecoder::TAnnounced none, chunked, empty, counted;
  chunked.Chunked = true;
  empty.HasLength = true;
  empty.Length = 0;
  counted.HasLength = true;
  counted.Length = 5;
  const struct {
    const char* method;
    const char* status;
    const THTTPResponseDecoder::TAnnounced* announced;
    TIdHTTPOptions options;
    bool expected;
    int wait;
  } rows[] = {
      {"GET", "HTTP/1.1 200 OK", &counted, 0, true, 0},
      {"GET", "HTTP/1.1 200 OK", &none, 0, true, 0},  // until the close
      {"GET", "HTTP/1.1 200 OK", &empty, 0, false, 0},
      {"GET", "HTTP/1.1 200 OK", &chunked, hoNoReadChunked, false, 0},
      {"HEAD", "HTTP/1.1 200 OK", &counted, 0, false, 0},
      {"GET", "HTTP/1.1 204 No Content", &counted, 0, false, 0},
      {"GET", "HTTP/1.1 304 Not Modified", &chunked, 0, false, 0},
      {"GET", "HTTP/1.1 304 Not Modified", &counted, hoWaitForUnexpectedData, true, 100},
      {"GET", "HTTP/1.1 302 Found", &counted, 0, true, 5000},
      {"GET", "HTTP/1.1 404 Not Found", &counted, 0, true, 0},
  };
  for (const auto& row : rows) {
    TIdHTTPRequest request(nullptr);
    request.SetMethod(row.method);
    TIdHTTPResponse response(nullptr);
    response.SetResponseText(row.status);
    const TBodyExpectation body = BodyExpectationOf(*row.announced, request, response, row.options);
    EXPECT_EQ(body.Expected, row.expected) << row.method << " " << row.status;
    EXPECT_EQ(body.Expected ? body.WaitFirst : 0, row.wait) << row.method << " " << row.status;
  }
}

}  // namespace
}  // namespace brv::http_detail
