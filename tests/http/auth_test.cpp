#include "http/IdAuthentication.h"

#include <gtest/gtest.h>

namespace brv {
namespace {

TEST(BasicAuthentication, ValueUsesTheChallengesCharset) {
  TIdBasicAuthentication basic;
  basic.SetUsername("J\xC3\xBCrgen");  // "Jürgen"
  basic.SetPassword("pw");
  basic.AuthParams().Add("Basic realm=\"r\", charset=\"UTF-8\"");
  EXPECT_EQ(basic.Next(), wnDoRequest);
  EXPECT_EQ(basic.Realm(), "r");
  EXPECT_EQ(basic.Authentication(), "Basic " + EncodeBase64("J\xC3\xBCrgen:pw"));
  basic.AuthParams().Clear();
  basic.AuthParams().Add("basic realm=\"a \\\"quoted\\\", realm\"");
  EXPECT_EQ(basic.Next(), wnDoRequest);
  EXPECT_EQ(basic.Realm(), "a \"quoted\", realm");
  EXPECT_EQ(basic.Authentication(), "Basic " + EncodeBase64("J\xFCrgen:pw"));  // ISO-8859-1
}

TEST(BasicAuthentication, DecisionFollowsUserNameAndStep) {
  TIdBasicAuthentication basic;
  basic.AuthParams().Add("Basic realm=x");
  EXPECT_EQ(basic.Next(), wnAskTheProgram);
  basic.SetUsername("u");
  EXPECT_EQ(basic.Next(), wnDoRequest);
  EXPECT_EQ(basic.Steps(), 1);
  EXPECT_EQ(basic.CurrentStep(), 0);
}

TEST(Base64, PaddingToAMultipleOfFour) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("f"), "Zg==");
  EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
  EXPECT_EQ(EncodeBase64("foo"), "Zm9v");
  EXPECT_EQ(EncodeBase64(std::string("\xFF\xFE\x00", 3)), "//4A");
}

class Custom : public TIdAuthentication {
 public:
  std::string Authentication() override { return "Custom"; }

 protected:
  TIdAuthWhatsNext DecideNext() override { return wnFail; }
};

TEST(SchemeRegistry, FindsIgnoringCaseAndReplaces) {
  ASSERT_NE(FindSchemeClass("basic"), nullptr);
  EXPECT_EQ(FindSchemeClass("Custom"), nullptr);
  RegisterScheme("Custom", AuthClassOf<Custom>());
  ASSERT_NE(FindSchemeClass("CUSTOM"), nullptr);
  EXPECT_EQ(FindSchemeClass("custom")()->Authentication(), "Custom");
  UnregisterScheme("custom");
  EXPECT_EQ(FindSchemeClass("Custom"), nullptr);
}

}  // namespace
}  // namespace brv
