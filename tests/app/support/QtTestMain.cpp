// main() of the window tests: one QApplication for the whole program, on the offscreen
// platform unless the environment names another, with none of the user's AWS settings.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // The window reads the user's AWS files and variables; the tests bring their own.
  for (const char* name : {"AWS_PROFILE", "AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY",
                           "AWS_SESSION_TOKEN", "AWS_REGION", "AWS_DEFAULT_REGION", "AWS_CA_BUNDLE",
                           "AWS_IGNORE_CONFIGURED_ENDPOINT_URLS"}) {
    qunsetenv(name);
  }
  qputenv("AWS_CONFIG_FILE", "/nonexistent/aws-config");
  qputenv("AWS_SHARED_CREDENTIALS_FILE", "/nonexistent/aws-credentials");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
