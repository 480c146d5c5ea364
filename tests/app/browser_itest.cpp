// The queue browser against the local SQS service: the queue table with its counts and
// dead-letter targets, a dead-letter queue's sources, sending with attributes and FIFO fields,
// purge and delete after a confirmation, and a service error shown in the browser itself.
#include "app/FQueueBrowser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

#include "app/ExceptionGuard.h"
#include "app/FAmazonSQS.h"
#include "sqs/brvSQSRecords.h"
#include "support/LocalSQSService.h"
#include "support/QtPrinters.h"
#include "support/WaitIdle.h"

namespace {

using brv::testing::TLocalSQSService;

class Browser : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TLocalSQSService::TOptions plain;
    plain.TLS = false;
    service = std::make_unique<TLocalSQSService>(plain);
  }
  static void TearDownTestSuite() { service.reset(); }

  void SetUp() override {
    ASSERT_TRUE(service && service->Ready()) << (service ? service->Failure() : "");
    qputenv("AWS_ENDPOINT_URL_SQS", QByteArray::fromStdString(service->HTTP()));
    previous_ =
        SetExceptionReporter([this](QWidget*, const QString& Message) { shown << Message; });
    form = std::make_unique<TFRMAmazonSQS>();
    form->txtAccessKey->setText("test");
    form->txtSecretKey->setText("test");
    static int counter = 0;
    prefix = "app-browser-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + "-";
    // Creating through the window also puts the credentials into its client.
    form->txtQueueName->setText(QString::fromStdString(prefix + "main"));
    QTest::mouseClick(form->btnCreateQueue, Qt::LeftButton);
    ASSERT_TRUE(WaitUntilIdle(*form));
  }
  void TearDown() override {
    form.reset();
    SetExceptionReporter(previous_);
    qunsetenv("AWS_ENDPOINT_URL_SQS");
  }

  // Opens the browser filtered to this test's queues and waits for the table and its counts.
  TFRMQueueBrowser& Open() {
    TFRMQueueBrowser* browser = form->ShowQueueBrowser();
    browser->txtFilter->setText(QString::fromStdString(prefix));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !browser->Busy(); }, 120000));
    return *browser;
  }
  static bool Idle(TFRMQueueBrowser& B) {
    return QTest::qWaitFor([&] { return !B.Busy(); }, 120000);
  }
  // The row of the table (as shown) for the queue named prefix + Suffix, or -1.
  int ShownRow(TFRMQueueBrowser& B, const std::string& Suffix) {
    const QString name = QString::fromStdString(prefix + Suffix);
    for (int r = 0; r < B.Proxy()->rowCount(); ++r) {
      if (B.Proxy()->index(r, 0).data().toString() == name) return r;
    }
    return -1;
  }
  QString Cell(TFRMQueueBrowser& B, int Row, int Column) {
    return B.Proxy()->index(Row, Column).data().toString();
  }
  void Select(TFRMQueueBrowser& B, const std::string& Suffix) {
    const int row = ShownRow(B, Suffix);
    ASSERT_GE(row, 0) << Suffix;
    B.tblQueues->selectRow(row);
    ASSERT_TRUE(Idle(B));
  }
  std::string Main() const { return prefix + "main"; }

  static std::unique_ptr<TLocalSQSService> service;
  std::unique_ptr<TFRMAmazonSQS> form;
  std::string prefix;
  QStringList shown;

 private:
  TExceptionReporter previous_;
};

std::unique_ptr<TLocalSQSService> Browser::service;

TEST_F(Browser, ListsQueuesWithCountsDeadLetterTargetsAndSources) {
  brv::TbrvHTTPAWS_SQS_Client& sqs = *form->SQS;
  const std::string dlq = prefix + "dlq";
  ASSERT_FALSE(sqs.CreateQueue(dlq).empty());
  ASSERT_FALSE(sqs.CreateQueue(prefix + "other").empty());
  brv::TbrvSQSAttributes policy;
  policy.AddSQSAttribute(brv::sqsatRedrivePolicy,
                         "{\"deadLetterTargetArn\":\"arn:aws:sqs:us-east-1:000000000000:" + dlq +
                             "\",\"maxReceiveCount\":\"3\"}");
  ASSERT_TRUE(sqs.SetQueueAttributes(Main(), policy));
  ASSERT_TRUE(sqs.SendMessage(Main(), "one", 0));
  ASSERT_TRUE(sqs.SendMessage(Main(), "two", 0));
  ASSERT_TRUE(sqs.SendMessage(Main(), "later", 600));

  TFRMQueueBrowser& browser = Open();
  EXPECT_EQ(browser.Proxy()->rowCount(), 3);
  const int main = ShownRow(browser, "main");
  ASSERT_GE(main, 0);
  EXPECT_EQ(Cell(browser, main, TQueueTableModel::colType), "Standard");
  EXPECT_EQ(Cell(browser, main, TQueueTableModel::colVisible), "2");
  EXPECT_EQ(Cell(browser, main, TQueueTableModel::colInFlight), "0");
  EXPECT_EQ(Cell(browser, main, TQueueTableModel::colDelayed), "1");
  EXPECT_EQ(Cell(browser, main, TQueueTableModel::colDeadLetter), QString::fromStdString(dlq));
  EXPECT_FALSE(Cell(browser, main, TQueueTableModel::colCreated).isEmpty());

  // The filter narrows as one types.
  QTest::keyClicks(browser.txtFilter, "oth");
  EXPECT_EQ(browser.Proxy()->rowCount(), 1);
  browser.txtFilter->setText(QString::fromStdString(prefix));
  ASSERT_TRUE(Idle(browser));

  Select(browser, "dlq");
  ASSERT_EQ(browser.lstSources->count(), 1);
  EXPECT_EQ(browser.lstSources->item(0)->text(), QString::fromStdString(Main()));
  Select(browser, "other");
  EXPECT_EQ(browser.lstSources->count(), 0);
  EXPECT_TRUE(browser.lblError->text().isEmpty()) << browser.lblError->text().toStdString();
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

TEST_F(Browser, FetchesCountsForTheRowsInViewOnly) {
  for (int i = 0; i < 60; ++i) {
    ASSERT_FALSE(form->SQS->CreateQueue(prefix + "many-" + std::to_string(100 + i)).empty());
  }
  TFRMQueueBrowser* browser = form->ShowQueueBrowser();
  browser->resize(600, 300);
  browser->txtFilter->setText(QString::fromStdString(prefix + "many-"));
  ASSERT_TRUE(Idle(*browser));
  auto counted = [&] {
    int n = 0;
    for (int r = 0; r < browser->Model()->rowCount(); ++r) n += browser->Model()->Row(r).HasCounts;
    return n;
  };
  ASSERT_EQ(browser->Proxy()->rowCount(), 60);
  const int inView = counted();
  EXPECT_GT(inView, 0);
  EXPECT_LT(inView, 60);
  EXPECT_EQ(Cell(*browser, 0, TQueueTableModel::colVisible), "0");

  // Scrolling to the end fetches the rows that come into view.
  browser->tblQueues->scrollToBottom();
  ASSERT_TRUE(Idle(*browser));
  EXPECT_GT(counted(), inView);
  EXPECT_EQ(Cell(*browser, 59, TQueueTableModel::colVisible), "0");
}

TEST_F(Browser, SendsWithAttributesOfEveryTypeAndFifoFields) {
  brv::TbrvSQSCreateQueue fifo;
  fifo.SetQueueName(prefix + "orders.fifo");
  fifo.Attributes().AddSQSAttribute(brv::sqsatFifoQueue, "true");
  ASSERT_FALSE(form->SQS->CreateQueue(fifo).empty());
  TFRMQueueBrowser& browser = Open();
  Select(browser, "orders.fifo");
  EXPECT_EQ(Cell(browser, ShownRow(browser, "orders.fifo"), TQueueTableModel::colType), "FIFO");
  ASSERT_TRUE(browser.txtGroupId->isEnabled());

  browser.txtBody->setPlainText("{\"order\": 7}");
  const char* attributes[][3] = {{"customer", "String", "Zoë"},
                                 {"amount", "Number.cents", "1250"},
                                 {"blob", "Binary", "AAEC/w=="}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      browser.tblAttributes->setItem(r, c,
                                     new QTableWidgetItem(QString::fromUtf8(attributes[r][c])));
    }
  }
  browser.txtGroupId->setText("group-1");
  browser.txtDeduplicationId->setText("dedup-1");
  QTest::mouseClick(browser.btnSend, Qt::LeftButton);
  ASSERT_TRUE(Idle(browser));
  EXPECT_TRUE(browser.lblSent->text().startsWith("Sent message "))
      << browser.lblError->text().toStdString();

  brv::TbrvSQSReceiveMessageRequest request;
  request.MessageAttributeName().Add("All");
  brv::TStringList system;
  system.Add("All");
  brv::TbrvSQSReceiveMessageResponses received;
  ASSERT_TRUE(form->SQS->ReceiveMessage(prefix + "orders.fifo", request, system, received));
  ASSERT_EQ(received.Count(), 1);
  const brv::TbrvSQSReceiveMessageResponse& message = *received.Items(0);
  EXPECT_EQ(message.Body(), "{\"order\": 7}");
  for (const auto& a : attributes) {
    const auto* item = message.MessageAttributes().Find(a[0]);
    ASSERT_NE(item, nullptr) << a[0];
    EXPECT_EQ(item->AttributeType(), a[1]);
    EXPECT_EQ(item->AttributeValue(), a[2]);
  }
  const auto* group = message.Attributes().Find("MessageGroupId");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->AttributeValue(), "group-1");
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

TEST_F(Browser, PurgesAndDeletesOnlyAfterAConfirmationNamingTheQueueAndItsCount) {
  ASSERT_TRUE(form->SQS->SendMessage(Main(), "one", 0));
  ASSERT_TRUE(form->SQS->SendMessage(Main(), "two", 0));
  TFRMQueueBrowser& browser = Open();
  Select(browser, "main");
  QStringList asked;
  bool answer = false;
  browser.Confirm = [&](QWidget*, const QString& Question) {
    asked << Question;
    return answer;
  };

  QTest::mouseClick(browser.btnPurge, Qt::LeftButton);  // refused
  ASSERT_TRUE(Idle(browser));
  ASSERT_EQ(asked.size(), 1);
  EXPECT_TRUE(asked[0].contains(QString::fromStdString("\"" + Main() + "\"")));
  EXPECT_TRUE(asked[0].contains(" 2 ")) << asked[0].toStdString();
  browser.Refresh();
  ASSERT_TRUE(Idle(browser));
  EXPECT_EQ(Cell(browser, ShownRow(browser, "main"), TQueueTableModel::colVisible), "2");

  answer = true;
  QTest::mouseClick(browser.btnPurge, Qt::LeftButton);
  ASSERT_TRUE(Idle(browser));
  EXPECT_EQ(Cell(browser, ShownRow(browser, "main"), TQueueTableModel::colVisible), "0");

  // Delete (the key, on the table) asks as well.
  answer = false;
  browser.tblQueues->setFocus();
  QTest::keyClick(browser.tblQueues, Qt::Key_Delete);
  ASSERT_TRUE(Idle(browser));
  ASSERT_EQ(asked.size(), 3);
  EXPECT_TRUE(asked[2].startsWith(QString::fromStdString("Delete queue \"" + Main() + "\"")));
  EXPECT_GE(ShownRow(browser, "main"), 0);
  answer = true;
  QTest::mouseClick(browser.btnDeleteQueue, Qt::LeftButton);
  ASSERT_TRUE(Idle(browser));
  EXPECT_EQ(ShownRow(browser, "main"), -1);
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

TEST_F(Browser, AServiceErrorIsShownInTheBrowserWithoutAMessageBox) {
  TFRMQueueBrowser& browser = Open();
  form->txtSecretKey->setText("wrong");
  browser.Refresh();
  ASSERT_TRUE(Idle(browser));
  EXPECT_TRUE(browser.lblError->text().startsWith("SignatureDoesNotMatch: "))
      << browser.lblError->text().toStdString();
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

}  // namespace
