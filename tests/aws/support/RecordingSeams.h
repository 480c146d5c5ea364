// A recording signer and HTTP component to put behind the AWS client's seams: they record
// every signing, URL and header line, and answer each Get with the next canned answer (a body,
// an HTTP error answer, or an exception).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "aws/brvAWSHTTPError.h"
#include "aws/brvHTTP_Amazon_AWS.h"

namespace brv::testing {

// Fixed signing time of every fake signature.
inline constexpr const char* kFakeRequestDate = "20240305T101112Z";

// What one Get (or Post) was asked to do, with the state of the request at that moment.
struct TRecordedGet {
  std::string URL;                   // the URL fetched
  std::string SignedURL;             // the URL the signer signed last
  std::string Method = "GET";        // "GET", or "POST" for a form POST
  std::string Body;                  // what a POST sent
  std::string SignedPayload;         // the payload the signer signed last
  std::vector<std::string> Headers;  // the custom header lines
  std::string ContentType;
  std::string Accept;
  bool Log = false;
  std::string LogFileName;
};

class TRecordingSeams {
 public:
  // Canned answers, consumed one per Get in order.
  void AnswerBody(std::string Body) { answers_.push_back({Kind::Body, 0, std::move(Body), {}}); }
  void AnswerHTTPError(int Code, std::string Body) {
    answers_.push_back({Kind::HTTPError, Code, std::move(Body), {}});
  }
  void AnswerThrow(std::function<void()> Raise) {
    answers_.push_back({Kind::Throw, 0, {}, std::move(Raise)});
  }
  size_t PendingAnswers() const { return answers_.size(); }

  // Makes the client take this recorder's signer and HTTP component.
  void Install(TbrvHTTP_Amazon_AWS_Client& Client) {
    Client.SetSignerFactory([this] { return std::make_unique<Signer>(this); });
    Client.SetHTTPClientFactory([this] { return std::make_unique<HTTP>(this); });
  }

  std::vector<TRecordedGet> Gets;                              // every Get, in order
  std::vector<std::string> SignedURLs;                         // every signing's URL, in order
  std::vector<std::string> SignedMethods;                      // "GET" or "POST", in order
  std::vector<std::string> SignedPayloads;                     // payloads signed, in order
  std::vector<IbrvAWSSigner::TSignatureV4Options> SignedWith;  // options of every signing
  std::vector<TwsTLSVersions> TLSVersions;                     // every SetTLSVersion
  int SignersMade = 0;
  int HTTPClientsMade = 0;
  // When set, SignGET raises it.
  std::function<void()> SigningFailure;

  // The fetched URLs, in order.
  std::vector<std::string> URLs() const {
    std::vector<std::string> urls;
    for (const auto& get : Gets) urls.push_back(get.URL);
    return urls;
  }

  // The Authorization line the fake signer produces for these options.
  static std::string AuthorizationFor(const IbrvAWSSigner::TSignatureV4Options& Options,
                                      int Signing) {
    return "Authorization: AWS4-HMAC-SHA256 Credential=" + Options.AccessKey + "/20240305/" +
           Options.Region + "/" + Options.Service +
           "/aws4_request, SignedHeaders=content-type;host;x-amz-date, Signature=fake" +
           std::to_string(Signing);
  }

 private:
  enum class Kind { Body, HTTPError, Throw };
  struct Answer {
    Kind kind;
    int code;
    std::string body;
    std::function<void()> raise;
  };

  class Signer : public IbrvAWSSigner {
   public:
    explicit Signer(TRecordingSeams* Owner) : owner_(Owner) { ++owner_->SignersMade; }
    TSignatureV4Options& SignatureV4Options() override { return options_; }
    void SignGET(const std::string& aURL) override { Sign("GET", aURL, ""); }
    void SignPOST(const std::string& aURL, const std::string& aPayload) override {
      Sign("POST", aURL, aPayload);
    }
    void Sign(const std::string& aMethod, const std::string& aURL, const std::string& aPayload) {
      if (owner_->SigningFailure) owner_->SigningFailure();
      owner_->SignedURLs.push_back(aURL);
      owner_->SignedMethods.push_back(aMethod);
      owner_->SignedPayloads.push_back(aPayload);
      owner_->SignedWith.push_back(options_);
      authorization_ = AuthorizationFor(options_, static_cast<int>(owner_->SignedURLs.size()));
      date_ = kFakeRequestDate;
    }
    std::string RequestDate() const override { return date_; }
    std::string AuthorizationHeader() const override { return authorization_; }

   private:
    TRecordingSeams* owner_;
    TSignatureV4Options options_;
    std::string date_;
    std::string authorization_;
  };

  class HTTP : public IbrvAWSHTTPClient {
   public:
    explicit HTTP(TRecordingSeams* Owner) : owner_(Owner) { ++owner_->HTTPClientsMade; }
    void SetTLSVersion(TwsTLSVersions Version) override {
      owner_->TLSVersions.push_back(Version);
      tls_.Version = Version;
    }
    TbrvTCPTLS_Options& TLSOptions() override { return tls_; }
    int ConnectTimeout() const override { return connect_timeout_; }
    void SetConnectTimeout(int Value) override { connect_timeout_ = Value; }
    int ReadTimeout() const override { return read_timeout_; }
    void SetReadTimeout(int Value) override { read_timeout_ = Value; }
    void SetLogFileName(const std::string& FileName) override { log_file_ = FileName; }
    void SetLog(bool Value) override { log_ = Value; }
    void ClearCustomHeaders() override { headers_.clear(); }
    void AddCustomHeader(std::string Line) override { headers_.push_back(std::move(Line)); }
    void SetContentType(const std::string& Value) override { content_type_ = Value; }
    void SetAccept(const std::string& Value) override { accept_ = Value; }
    void Get(const std::string& aURL, TStream& aResponseContent) override {
      Fetch("GET", aURL, "", aResponseContent);
    }
    void Post(const std::string& aURL, const std::string& aBody,
              TStream& aResponseContent) override {
      Fetch("POST", aURL, aBody, aResponseContent);
    }
    void Fetch(const std::string& aMethod, const std::string& aURL, const std::string& aBody,
               TStream& aResponseContent) {
      TRecordedGet get;
      get.URL = aURL;
      get.Method = aMethod;
      get.Body = aBody;
      get.SignedPayload = owner_->SignedPayloads.empty() ? "" : owner_->SignedPayloads.back();
      get.SignedURL = owner_->SignedURLs.empty() ? "" : owner_->SignedURLs.back();
      get.Headers = headers_;
      get.ContentType = content_type_;
      get.Accept = accept_;
      get.Log = log_;
      get.LogFileName = log_file_;
      owner_->Gets.push_back(get);
      if (owner_->answers_.empty()) {
        ADD_FAILURE() << "no canned answer for " << aURL;
        return;
      }
      Answer answer = std::move(owner_->answers_.front());
      owner_->answers_.pop_front();
      switch (answer.kind) {
        case Kind::Body:
          aResponseContent.WriteBuffer(answer.body.data(),
                                       static_cast<std::int64_t>(answer.body.size()));
          break;
        case Kind::HTTPError:
          throw EbrvAWSHTTPError(answer.code, "HTTP/1.1 " + std::to_string(answer.code) + " Error",
                                 answer.body);
        case Kind::Throw:
          answer.raise();
          break;
      }
    }

   private:
    TRecordingSeams* owner_;
    std::vector<std::string> headers_{"X-Stale: left over from an earlier request"};
    std::string content_type_ = "text/plain";
    std::string accept_ = "*/*";
    TbrvTCPTLS_Options tls_;
    int connect_timeout_ = 0;
    int read_timeout_ = -1;
    bool log_ = false;
    std::string log_file_;
  };

  std::deque<Answer> answers_;
};

}  // namespace brv::testing
