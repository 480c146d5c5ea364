// The window against the local SQS service through the endpoint override: over plain HTTP, and
// over HTTPS verified against the service's test CA.
#include "app/FAmazonSQS.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "support/QtPrinters.h"
#include "support/SharedLocalSQSService.h"
#include "support/ShownMessages.h"
#include "support/Tinyproxy.h"
#include "support/WaitIdle.h"
#include "tests/aws/support/TempHome.h"

namespace {

using brv::testing::TLocalSQSService;
using brv::testing::TWithLocalSQSService;

// A TCP port on 127.0.0.1 that nothing listens on (bound by the OS, then closed again).
int UnusedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "no free port: " << std::strerror(errno);
  }
  if (fd >= 0) close(fd);
  return ntohs(address.sin_port);
}

class WindowOnLocalSQS : public TWithLocalSQSService<> {
 protected:
  static void SetUpTestSuite() { StartService(brv::testing::PlainHTTPService()); }

  ~WindowOnLocalSQS() override {
    qunsetenv("AWS_ENDPOINT_URL_SQS");
    qunsetenv("AWS_CA_BUNDLE");
  }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(TWithLocalSQSService::SetUp());
    UseEndPoint(service->HTTP());
    form = std::make_unique<TFRMAmazonSQS>();
    form->show();
    QTest::keyClicks(form->txtAccessKey, "test");
    QTest::keyClicks(form->txtSecretKey, "test");
    // A queue name of its own for every test: names of deleted queues are free at once, but
    // tests of one run must not see each other's queues.
    static int counter = 0;
    queue = "app-itest-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    form->txtQueueName->setText(QString::fromStdString(queue));
  }

  static void UseEndPoint(const std::string& EndPoint) {
    qputenv("AWS_ENDPOINT_URL_SQS", QByteArray::fromStdString(EndPoint));
  }

  void Click(QPushButton* Button) {
    QTest::mouseClick(Button, Qt::LeftButton);
    ASSERT_TRUE(WaitUntilIdle(*form));
  }

  // The lines logged since the last call.
  QStringList NewLines() {
    const QString text = form->memoLog->toPlainText();
    QStringList all = text.isEmpty() ? QStringList() : text.split('\n');
    QStringList fresh = all.mid(seen_);
    seen_ = all.size();
    return fresh;
  }

  QString QueueURL() const {
    return QString::fromStdString(service->HTTP() + "/000000000000/" + queue);
  }

  TShownMessages shown;
  std::unique_ptr<TFRMAmazonSQS> form;
  std::string queue;

 private:
  int seen_ = 0;
};

TEST_F(WindowOnLocalSQS, EveryButtonDoesItsOperation) {
  Click(form->btnCreateQueue);
  EXPECT_EQ(NewLines(), QStringList{"#CreateQueue: " + QueueURL()});

  Click(form->btnListQueues);
  const QStringList listed = NewLines();
  ASSERT_FALSE(listed.isEmpty());
  EXPECT_TRUE(listed.value(0).startsWith("#ListQueues: ")) << listed.value(0).toStdString();
  EXPECT_TRUE(listed.join('\n').contains(QueueURL()));

  form->txtVisibilityTimeout->setText("45");
  Click(form->btnSetQueueAttributes);
  EXPECT_EQ(NewLines(), QStringList{"#SetQueueAttributes: ok"});
  Click(form->btnGetQueueAttributes);
  const QStringList attributes = NewLines();
  EXPECT_TRUE(attributes.contains("#Attribute: VisibilityTimeout 45"))
      << attributes.join('\n').toStdString();
  for (const QString& line : attributes) EXPECT_TRUE(line.startsWith("#Attribute: "));

  // Receiving on the empty queue logs nothing and leaves the handle as it is.
  Click(form->btnReceiveMessage);
  EXPECT_EQ(NewLines(), QStringList());
  EXPECT_EQ(form->txtReceiptHandle->text(), "");

  form->txtMessageBody->setText(QString::fromUtf8("Grüße, 1 + 1 = 2 & 50% done"));
  Click(form->btnSendMessage);
  EXPECT_EQ(NewLines(), QStringList{"#SendMessage: ok"});
  Click(form->btnReceiveMessage);
  EXPECT_EQ(NewLines(),
            QStringList{QString::fromUtf8("#ReceiveMessage: Grüße, 1 + 1 = 2 & 50% done")});
  const QString handle = form->txtReceiptHandle->text();
  EXPECT_FALSE(handle.isEmpty());

  Click(form->btnDeleteMessage);
  EXPECT_EQ(NewLines(), QStringList{"#DeleteMessage: ok"});
  EXPECT_EQ(form->txtReceiptHandle->text(), "");

  Click(form->btnSendMessage);
  EXPECT_EQ(NewLines(), QStringList{"#SendMessage: ok"});
  Click(form->btnPurgueQueue);
  EXPECT_EQ(NewLines(), QStringList{"#PurgueQueue: ok"});
  Click(form->btnReceiveMessage);
  EXPECT_EQ(NewLines(), QStringList());  // purged

  Click(form->btnDeleteQueue);
  EXPECT_EQ(NewLines(), QStringList{"#Delete Queue: ok"});
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

TEST_F(WindowOnLocalSQS, AFailedDeleteKeepsTheReceiptHandle) {
  Click(form->btnCreateQueue);
  Click(form->btnSendMessage);
  Click(form->btnReceiveMessage);
  NewLines();
  const QString handle = form->txtReceiptHandle->text();
  ASSERT_FALSE(handle.isEmpty());

  form->txtSecretKey->setText("wrong");
  Click(form->btnDeleteMessage);
  // The service's message spans several lines (it quotes the canonical request it expected).
  const QStringList lines = NewLines();
  ASSERT_GE(lines.size(), 2);
  EXPECT_TRUE(lines.first().startsWith("#Error: SignatureDoesNotMatch ")) << lines[0].toStdString();
  EXPECT_EQ(lines.last(), "#DeleteMessage: error");
  EXPECT_EQ(lines.filter("#Error: ").size(), 1);
  EXPECT_EQ(form->txtReceiptHandle->text(), handle);

  form->txtSecretKey->setText("test");
  Click(form->btnDeleteMessage);
  EXPECT_EQ(NewLines(), QStringList{"#DeleteMessage: ok"});
  Click(form->btnDeleteQueue);
}

TEST_F(WindowOnLocalSQS, AServiceErrorIsLoggedBeforeTheOperationsOwnLine) {
  // The queue does not exist: the resolution fails, then the action itself.
  Click(form->btnDeleteQueue);
  const QStringList lines = NewLines();
  ASSERT_GE(lines.size(), 2) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines[0].startsWith("#Error: AWS.SimpleQueueService.NonExistentQueue "))
      << lines[0].toStdString();
  for (int i = 0; i + 1 < lines.size(); ++i) EXPECT_TRUE(lines[i].startsWith("#Error: "));
  EXPECT_EQ(lines.last(), "#Delete Queue: error");
}

TEST_F(WindowOnLocalSQS, AChangedRegionTakesEffectOnTheNextClick) {
  Click(form->btnListQueues);
  EXPECT_TRUE(NewLines().value(0).startsWith("#ListQueues: "));

  // The service answers for us-east-1 only and refuses a credential scope for another region.
  form->txtRegion->setText("eu-west-1");
  Click(form->btnListQueues);
  const QStringList refused = NewLines();
  ASSERT_EQ(refused.size(), 2) << refused.join('\n').toStdString();
  EXPECT_TRUE(refused[0].startsWith("#Error: SignatureDoesNotMatch ")) << refused[0].toStdString();
  EXPECT_EQ(refused[1], "#ListQueues: error");

  form->txtRegion->setText("us-east-1");
  Click(form->btnListQueues);
  EXPECT_TRUE(NewLines().value(0).startsWith("#ListQueues: "));
}

TEST_F(WindowOnLocalSQS, ARefusedConnectionIsShownLogsNothingAndTheNextClickWorks) {
  UseEndPoint("http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()));
  Click(form->btnListQueues);
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].startsWith("Socket Error # 10061")) << shown[0].toStdString();
  EXPECT_EQ(NewLines(), QStringList());

  UseEndPoint(service->HTTP());
  Click(form->btnListQueues);
  const QStringList lines = NewLines();
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_TRUE(lines.value(0).startsWith("#ListQueues: "));
  EXPECT_EQ(shown.size(), 1);
}

// Holds the local service stopped (SIGSTOP) while it lives: connections are accepted by the
// kernel, but no answer comes.
class TStalledService {
 public:
  explicit TStalledService(pid_t Group) : group_(Group) { kill(-group_, SIGSTOP); }
  ~TStalledService() { Resume(); }
  void Resume() {
    if (group_ > 0) kill(-group_, SIGCONT);
    group_ = -1;
  }

 private:
  pid_t group_;
};

// True once the UI thread has run a timer event; the timer is started now.
bool UIThreadProcessesEvents() {
  bool fired = false;
  QTimer::singleShot(0, [&] { fired = true; });
  return QTest::qWaitFor([&] { return fired; });
}

TEST_F(WindowOnLocalSQS, AStalledServiceLeavesTheWindowResponsiveUntilCancelEndsTheCall) {
  Click(form->btnCreateQueue);
  NewLines();
  TStalledService stalled(service->ProcessGroup());

  QTest::mouseClick(form->btnListQueues, Qt::LeftButton);
  ASSERT_TRUE(form->Busy());
  EXPECT_TRUE(UIThreadProcessesEvents());
  QTest::keyClicks(form->txtMessageBody, " typed meanwhile");
  EXPECT_TRUE(form->txtMessageBody->text().endsWith(" typed meanwhile"));
  EXPECT_TRUE(form->Busy());  // still waiting for the stopped service
  EXPECT_FALSE(form->btnListQueues->isEnabled());
  EXPECT_TRUE(form->btnCancel->isEnabled());
  EXPECT_EQ(form->cursor().shape(), Qt::BusyCursor);

  QTest::mouseClick(form->btnCancel, Qt::LeftButton);
  ASSERT_TRUE(WaitUntilIdle(*form));
  EXPECT_EQ(NewLines(), QStringList{"#ListQueues: cancelled"});
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
  EXPECT_TRUE(form->btnListQueues->isEnabled());

  // Escape cancels as well (the service is still stopped).
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QTest::mouseClick(form->btnGetQueueAttributes, Qt::LeftButton);
  ASSERT_TRUE(form->Busy());
  QTest::keyClick(form->txtQueueName, Qt::Key_Escape);
  ASSERT_TRUE(WaitUntilIdle(*form));
  EXPECT_EQ(NewLines(), QStringList{"#GetQueueAttributes: cancelled"});

  // The next click works once the service answers again.
  stalled.Resume();
  Click(form->btnDeleteQueue);
  EXPECT_EQ(NewLines(), QStringList{"#Delete Queue: ok"});
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

TEST_F(WindowOnLocalSQS, ClosingTheWindowDuringACallCancelsItAndJoinsTheWorker) {
  TStalledService stalled(service->ProcessGroup());
  auto joined = std::make_shared<std::atomic<bool>>(false);
  QObject::connect(form->OperationThread(), &QThread::finished, [joined] { *joined = true; });
  QTest::mouseClick(form->btnListQueues, Qt::LeftButton);
  ASSERT_TRUE(form->Busy());
  form->close();
  form.reset();  // returns once the worker has ended
  EXPECT_TRUE(*joined);
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

// The same service over HTTPS: the client verifies its certificate against the test CA given
// through AWS_CA_BUNDLE.
class WindowOnLocalSQSOverHTTPS : public WindowOnLocalSQS {
 protected:
  static void SetUpTestSuite() { StartService(); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(WindowOnLocalSQS::SetUp());
    ASSERT_FALSE(service->HTTPS().empty());
    UseEndPoint(service->HTTPS());
    qputenv("AWS_CA_BUNDLE", QByteArray::fromStdString(service->CA()));
  }
};

TEST_F(WindowOnLocalSQSOverHTTPS, SendsReceivesAndDeletes) {
  Click(form->btnCreateQueue);
  EXPECT_EQ(NewLines(), QStringList{QString::fromStdString("#CreateQueue: " + service->HTTPS() +
                                                           "/000000000000/" + queue)});
  Click(form->btnSendMessage);
  Click(form->btnReceiveMessage);
  EXPECT_EQ(NewLines(),
            (QStringList{"#SendMessage: ok", "#ReceiveMessage: My First SQS Message."}));
  Click(form->btnDeleteMessage);
  Click(form->btnDeleteQueue);
  EXPECT_EQ(NewLines(), (QStringList{"#DeleteMessage: ok", "#Delete Queue: ok"}));
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

TEST_F(WindowOnLocalSQSOverHTTPS, AnUntrustedServiceIsShownAndLogsNothing) {
  qunsetenv("AWS_CA_BUNDLE");  // the test CA is in no trust store
  Click(form->btnListQueues);
  EXPECT_EQ(shown.size(), 1);
  EXPECT_EQ(NewLines(), QStringList());
}

// Proxy variables set for one test (the upper-case names; the lower-case ones, which would win,
// and the bypass lists are removed), put back as they were afterwards.
class TScopedProxyEnvironment {
 public:
  explicit TScopedProxyEnvironment(const std::string& Proxy) {
    for (const char* name : kNames)
      saved_.emplace_back(name, qgetenv(name), qEnvironmentVariableIsSet(name));
    for (const char* name : kNames) qunsetenv(name);
    qputenv("HTTP_PROXY", QByteArray::fromStdString(Proxy));
    qputenv("HTTPS_PROXY", QByteArray::fromStdString(Proxy));
  }
  ~TScopedProxyEnvironment() {
    for (const auto& [name, value, set] : saved_) {
      if (set) {
        qputenv(name, value);
      } else {
        qunsetenv(name);
      }
    }
  }

 private:
  static constexpr const char* kNames[] = {"HTTP_PROXY",  "HTTPS_PROXY", "http_proxy",
                                           "https_proxy", "NO_PROXY",    "no_proxy"};
  std::vector<std::tuple<const char*, QByteArray, bool>> saved_;
};

// The window reaches the service through the proxy the environment names: plain requests are
// forwarded, https goes through a CONNECT tunnel with the service's certificate verified.
TEST_F(WindowOnLocalSQSOverHTTPS, ReachesTheServiceThroughTheEnvironmentsProxy) {
  brv::testing::TTinyproxy proxy;
  ASSERT_TRUE(proxy.Ready()) << proxy.Failure();
  TScopedProxyEnvironment environment(proxy.Url());
  for (const std::string& endPoint : {service->HTTP(), service->HTTPS()}) {
    SCOPED_TRACE(endPoint);
    UseEndPoint(endPoint);
    Click(form->btnListQueues);
    EXPECT_TRUE(NewLines().value(0).startsWith("#ListQueues: "));
    const bool tls = endPoint.rfind("https://", 0) == 0;
    const std::string line = tls ? "CONNECT " + endPoint.substr(8) + " HTTP/1.1"
                                 : "GET " + endPoint + "/?Action=ListQueues";
    EXPECT_TRUE(proxy.Logged(line)) << proxy.Log();
  }
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();

  // With the proxy gone the click fails with a message instead of going direct.
  proxy.Stop();
  form->SQS->SetMaxAttempts(1);
  Click(form->btnListQueues);
  EXPECT_EQ(shown.size(), 1);
  EXPECT_EQ(NewLines(), QStringList());
}

// The window with both key fields empty, in a home whose AWS files name the service: the
// profile's endpoint and its credentials (a credential process, then static keys with a session
// token) are used, and the status line says so. The service accepts only requests that carry
// its session token, so a request without the profile's token would be refused.
class WindowWithAProfile : public TWithLocalSQSService<> {
 protected:
  static void SetUpTestSuite() {
    TLocalSQSService::TOptions options = brv::testing::PlainHTTPService();
    options.Arguments = {"--session-token", "profile-token"};
    StartService(options);
  }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(TWithLocalSQSService::SetUp());
    previousHome_ = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(home.Path()));
    qputenv("AWS_PROFILE", "dev");
    for (const char* name :
         {"AWS_ENDPOINT_URL_SQS", "AWS_ENDPOINT_URL", "AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY",
          "AWS_SESSION_TOKEN", "AWS_CONFIG_FILE", "AWS_SHARED_CREDENTIALS_FILE"}) {
      qunsetenv(name);
    }
    home.Write("bin/cred.sh",
               "#!/bin/sh\nprintf '%s' '{\"Version\": 1, \"AccessKeyId\": \"test\", "
               "\"SecretAccessKey\": \"test\", \"SessionToken\": \"profile-token\", "
               "\"Expiration\": \"2999-01-01T00:00:00Z\"}'\n",
               true);
    home.Write(".aws/config", "[profile dev]\nendpoint_url = " + service->HTTP() +
                                  "\ncredential_process = " + home.Path() + "/bin/cred.sh\n");
    form = std::make_unique<TFRMAmazonSQS>();
    form->show();
  }
  void TearDown() override {
    form.reset();
    qputenv("HOME", previousHome_);
    qunsetenv("AWS_PROFILE");
  }

  void Click(QPushButton* Button) {
    QTest::mouseClick(Button, Qt::LeftButton);
    ASSERT_TRUE(WaitUntilIdle(*form));
  }
  QString Status() const { return form->lblStatus->text(); }
  QString LastLine() const { return form->memoLog->toPlainText().split('\n').last(); }

  brv::testing::TTempHome home;
  TShownMessages shown;
  std::unique_ptr<TFRMAmazonSQS> form;

 private:
  QByteArray previousHome_;
};

TEST_F(WindowWithAProfile, UsesTheProfilesEndpointAndCredentialsAndShowsWhere) {
  const QString endpoint = QString::fromStdString("Endpoint: " + service->HTTP());
  form->txtQueueName->setText("app-profile-" + QString::number(getpid()));
  Click(form->btnCreateQueue);
  EXPECT_TRUE(LastLine().startsWith("#CreateQueue: " + QString::fromStdString(service->HTTP())))
      << LastLine().toStdString();
  EXPECT_EQ(Status(), endpoint + "    Credentials: credential process");

  // The files are read again at each click: keys in the credentials file come first.
  home.Write(".aws/credentials",
             "[dev]\naws_access_key_id = test\naws_secret_access_key = test\n"
             "aws_session_token = profile-token\n");
  Click(form->btnSendMessage);
  EXPECT_EQ(LastLine(), "#SendMessage: ok");
  EXPECT_EQ(Status(), endpoint + "    Credentials: profile dev");

  // Typed keys win (and carry no session token, which this service wants).
  QTest::keyClicks(form->txtAccessKey, "test");
  QTest::keyClicks(form->txtSecretKey, "test");
  Click(form->btnPurgueQueue);
  EXPECT_EQ(LastLine(), "#PurgueQueue: error");
  EXPECT_EQ(Status(), endpoint + "    Credentials: typed");
  EXPECT_FALSE(Status().contains("test"));  // never the keys

  form->txtAccessKey->clear();
  form->txtSecretKey->clear();
  Click(form->btnDeleteQueue);
  EXPECT_EQ(LastLine(), "#Delete Queue: ok");
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();

  // A profile that cannot be used stops the click with a message and sends nothing.
  qputenv("AWS_PROFILE", "missing");
  const QString before = form->memoLog->toPlainText();
  Click(form->btnListQueues);
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].startsWith("The config profile (missing) could not be found"))
      << shown[0].toStdString();
  EXPECT_EQ(form->memoLog->toPlainText(), before);
}

}  // namespace
