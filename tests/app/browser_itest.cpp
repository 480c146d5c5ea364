// The queue browser against the local SQS service: the queue table with its counts and
// dead-letter targets, a dead-letter queue's sources, sending with attributes and FIFO fields,
// purge and delete after a confirmation, a service error shown in the browser itself, and the
// messages pane: peek, a message's details, delete and move of messages.
#include "app/FQueueBrowser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

#include "app/FAmazonSQS.h"
#include "sqs/brvSQSRecords.h"
#include "support/QtPrinters.h"
#include "support/SharedLocalSQSService.h"
#include "support/ShownMessages.h"
#include "support/WaitIdle.h"

namespace {

using brv::testing::TWithLocalSQSService;

class Browser : public TWithLocalSQSService<> {
 protected:
  static void SetUpTestSuite() { StartService(brv::testing::PlainHTTPService()); }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(TWithLocalSQSService::SetUp());
    qputenv("AWS_ENDPOINT_URL_SQS", QByteArray::fromStdString(service->HTTP()));
    // One attempt per request: a receive retried after its first answer was lost leaves the
    // messages of that answer hidden for the peek's visibility time-out, and the counts these
    // tests compare would then depend on the machine's load.
    qputenv("AWS_MAX_ATTEMPTS", "1");
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
    qunsetenv("AWS_ENDPOINT_URL_SQS");
    qunsetenv("AWS_MAX_ATTEMPTS");
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
  // Makes queue ATarget the dead-letter queue of the main queue, after AMaxReceives receives.
  void SetDeadLetterTarget(const std::string& ATarget, int AMaxReceives) {
    brv::TbrvSQSAttributes policy;
    policy.AddSQSAttribute(brv::sqsatRedrivePolicy,
                           "{\"deadLetterTargetArn\":\"arn:aws:sqs:us-east-1:000000000000:" +
                               ATarget + "\",\"maxReceiveCount\":\"" +
                               std::to_string(AMaxReceives) + "\"}");
    ASSERT_TRUE(form->SQS->SetQueueAttributes(Main(), policy));
  }
  // Opens the browser with this test's main queue selected; each question it asks is added to
  // `asked` and answered with `answer`.
  TFRMQueueBrowser& OpenOnMainAsking() {
    TFRMQueueBrowser& browser = Open();
    Select(browser, "main");
    browser.Confirm = [this](QWidget*, const QString& Question) {
      asked << Question;
      return answer;
    };
    return browser;
  }

  TShownMessages shown;
  std::unique_ptr<TFRMAmazonSQS> form;
  std::string prefix;
  QStringList asked;
  bool answer = false;
};

TEST_F(Browser, ListsQueuesWithCountsDeadLetterTargetsAndSources) {
  brv::TbrvHTTPAWS_SQS_Client& sqs = *form->SQS;
  const std::string dlq = prefix + "dlq";
  ASSERT_FALSE(sqs.CreateQueue(dlq).empty());
  ASSERT_FALSE(sqs.CreateQueue(prefix + "other").empty());
  ASSERT_NO_FATAL_FAILURE(SetDeadLetterTarget(dlq, 3));
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
  TFRMQueueBrowser& browser = OpenOnMainAsking();

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

// Peeks at Main() through the pane and returns the number of rows listed.
int Peek(TFRMQueueBrowser& B) {
  QTest::mouseClick(B.btnPeek, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !B.Busy(); }, 120000));
  return B.Messages()->rowCount();
}

// The row of the pane's table holding Body, or -1.
int MessageRow(TFRMQueueBrowser& B, const QByteArray& Body) {
  for (int r = 0; r < B.Messages()->rowCount(); ++r) {
    if (B.Messages()->Row(r).Body == Body) return r;
  }
  return -1;
}

void SelectMessages(TFRMQueueBrowser& B, std::initializer_list<int> Rows) {
  B.tblMessages->clearSelection();
  for (int r : Rows) {
    B.tblMessages->selectionModel()->select(
        B.Messages()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
}

TEST_F(Browser, PeekListsWithoutTakingAndShowsTheDetailsOfAMessage) {
  brv::TbrvHTTPAWS_SQS_Client& sqs = *form->SQS;
  const QByteArray json = "{\"order\":7,\"items\":[\"a\",\"b\"]}";
  brv::TbrvSQSSendMessageRequest request;
  request.SetMessageBody(json.toStdString());
  request.MessageAttributes().AddSQSAttribute("customer", "String", "Zoë & <co>");
  request.MessageAttributes().AddSQSAttribute("blob", "Binary", "AAEC/w==");
  brv::TbrvSQSSendMessageResponse sent;
  ASSERT_TRUE(sqs.SendMessage(Main(), request, sent));
  ASSERT_TRUE(sqs.SendMessage(Main(), "not json {", 0));
  ASSERT_TRUE(sqs.SendMessage(Main(), "third", 0));

  TFRMQueueBrowser& browser = Open();
  Select(browser, "main");
  EXPECT_TRUE(browser.lblPeekWarning->text().contains("receive count"));
  ASSERT_EQ(Peek(browser), 3) << browser.lblError->text().toStdString();
  ASSERT_GE(MessageRow(browser, json), 0);
  const qint64 before = browser.Messages()->Row(MessageRow(browser, json)).ReceiveCount;
  EXPECT_GE(before, 1);
  // Every message is still there and visible again; only the receive counts rose. The counts
  // are approximate: the service may take a moment to count a message made visible again,
  // while one left hidden stays hidden for its 30 s time-out.
  EXPECT_EQ(browser.lblMessageStatus->text(), "3 messages listed.");
  std::string visible, hidden;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        brv::TbrvSQSAttributes counts;
        if (!sqs.GetQueueAttributes(Main(), counts)) return false;
        visible = counts.Find("ApproximateNumberOfMessages")->AttributeValue();
        hidden = counts.Find("ApproximateNumberOfMessagesNotVisible")->AttributeValue();
        return visible == "3" && hidden == "0";
      },
      5000))
      << visible << " visible, " << hidden << " hidden";
  ASSERT_EQ(Peek(browser), 3);
  const int row = MessageRow(browser, json);
  ASSERT_GE(row, 0);
  auto cell = [&](int Column) { return browser.Messages()->index(row, Column).data().toString(); };
  EXPECT_EQ(cell(TMessageTableModel::colId), QString::fromStdString(sent.MessageId()));
  const QString receives = cell(TMessageTableModel::colReceiveCount);
  EXPECT_GT(receives.toLongLong(), before);
  EXPECT_EQ(cell(TMessageTableModel::colSize), QString::number(json.size()));
  EXPECT_FALSE(cell(TMessageTableModel::colSent).isEmpty());

  // Details: JSON pretty-printed beside the raw body, and both kinds of attributes.
  SelectMessages(browser, {row});
  EXPECT_EQ(browser.txtMessageRaw->toPlainText(), QString::fromUtf8(json));
  EXPECT_TRUE(browser.txtMessageBody->toPlainText().contains("\n    \"order\": 7"))
      << browser.txtMessageBody->toPlainText().toStdString();
  QStringList attributes;
  for (int r = 0; r < browser.tblMessageAttributes->rowCount(); ++r) {
    QStringList cells;
    for (int c = 0; c < 4; ++c) cells << browser.tblMessageAttributes->item(r, c)->text();
    attributes << cells.join('|');
  }
  EXPECT_TRUE(attributes.contains(QString::fromUtf8("Message|customer|String|Zoë & <co>")))
      << attributes.join('\n').toStdString();
  EXPECT_TRUE(attributes.contains("Message|blob|Binary|AAEC/w=="));
  EXPECT_TRUE(attributes.contains("System|ApproximateReceiveCount||" + receives));

  // A body that does not parse is shown as it is; saving writes its bytes.
  SelectMessages(browser, {MessageRow(browser, "not json {")});
  EXPECT_EQ(browser.txtMessageBody->toPlainText(), "not json {");
  QTemporaryDir dir;
  const QString path = dir.filePath("body.txt");
  browser.AskSaveFileName = [&](QWidget*) { return path; };
  QTest::mouseClick(browser.btnSaveBody, Qt::LeftButton);
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), "not json {");
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

TEST_F(Browser, DeletesAndMovesMessagesOnlyAfterAConfirmation) {
  brv::TbrvHTTPAWS_SQS_Client& sqs = *form->SQS;
  const std::string other = prefix + "other";
  ASSERT_FALSE(sqs.CreateQueue(other).empty());
  for (const char* body : {"one", "two", "three", "four", "five", "six"}) {
    ASSERT_TRUE(sqs.SendMessage(Main(), body, 0));
  }
  auto visible = [&](const std::string& Queue) {
    brv::TbrvSQSAttributes counts;
    EXPECT_TRUE(sqs.GetQueueAttributes(Queue, counts));
    const auto* n = counts.Find("ApproximateNumberOfMessages");
    const auto* hidden = counts.Find("ApproximateNumberOfMessagesNotVisible");
    return n && hidden ? std::stoi(n->AttributeValue()) + std::stoi(hidden->AttributeValue()) : -1;
  };
  // The service's counts settle a moment after a peek makes its messages visible again (one
  // may be counted as visible and as in flight at once): the total, once it is Want or after
  // 5 s.
  auto settled = [&](const std::string& Queue, int Want) {
    int n = -1;
    (void)QTest::qWaitFor([&] { return (n = visible(Queue)) == Want; }, 5000);
    return n;
  };
  TFRMQueueBrowser& browser = OpenOnMainAsking();
  ASSERT_EQ(Peek(browser), 6);

  // Delete: refused first, then carried out for exactly the selection (the Delete key).
  SelectMessages(browser, {MessageRow(browser, "one"), MessageRow(browser, "two")});
  browser.tblMessages->setFocus();
  QTest::keyClick(browser.tblMessages, Qt::Key_Delete);
  ASSERT_TRUE(Idle(browser));
  ASSERT_EQ(asked.size(), 1);
  EXPECT_TRUE(asked[0].startsWith(
      QString::fromStdString("Delete 2 messages from queue \"" + Main() + "\"")));
  EXPECT_EQ(settled(Main(), 6), 6);
  answer = true;
  QTest::mouseClick(browser.btnDeleteMessages, Qt::LeftButton);
  ASSERT_TRUE(Idle(browser));
  EXPECT_EQ(settled(Main(), 4), 4);
  EXPECT_EQ(browser.Messages()->rowCount(), 4);
  EXPECT_EQ(MessageRow(browser, "one"), -1);
  EXPECT_EQ(MessageRow(browser, "two"), -1);

  // Move of the selection, then of the rest; the question names both queues.
  browser.cmbMoveTarget->setCurrentText(QString::fromStdString(other));
  SelectMessages(browser, {MessageRow(browser, "three")});
  QTest::mouseClick(browser.btnMoveSelected, Qt::LeftButton);
  ASSERT_TRUE(Idle(browser));
  EXPECT_TRUE(asked.last().contains(QString::fromStdString("\"" + other + "\"")))
      << asked.last().toStdString();
  EXPECT_EQ(settled(other, 1), 1) << browser.lblMessageStatus->text().toStdString();
  EXPECT_EQ(settled(Main(), 3), 3);
  EXPECT_EQ(MessageRow(browser, "three"), -1);

  answer = false;
  QTest::mouseClick(browser.btnMoveAll, Qt::LeftButton);
  ASSERT_TRUE(Idle(browser));
  EXPECT_EQ(settled(Main(), 3), 3);
  answer = true;
  QTest::mouseClick(browser.btnMoveAll, Qt::LeftButton);
  ASSERT_TRUE(Idle(browser));
  EXPECT_EQ(settled(Main(), 0), 0) << browser.lblMessageStatus->text().toStdString();
  EXPECT_EQ(settled(other, 4), 4);
  EXPECT_TRUE(browser.lblMessageStatus->text().startsWith("3 messages moved"))
      << browser.lblMessageStatus->text().toStdString();
  brv::TbrvSQSReceiveMessageRequest request;
  request.SetMaxNumberOfMessages(10);
  brv::TbrvSQSReceiveMessageResponses received;
  ASSERT_TRUE(sqs.ReceiveMessage(other, request, received));
  QStringList bodies;
  for (int i = 0; i < received.Count(); ++i) {
    bodies << QString::fromStdString(received.Items(i)->Body());
  }
  bodies.sort();
  EXPECT_EQ(bodies, QStringList({"five", "four", "six", "three"}));
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

TEST_F(Browser, RedriveMovesADeadLetterQueueBackToItsSourceWithProgress) {
  brv::TbrvHTTPAWS_SQS_Client& sqs = *form->SQS;
  const std::string dlq = prefix + "dlq";
  ASSERT_FALSE(sqs.CreateQueue(dlq).empty());
  ASSERT_NO_FATAL_FAILURE(SetDeadLetterTarget(dlq, 1));
  ASSERT_TRUE(sqs.SendMessage(Main(), "failed twice", 0));
  // The second receive passes maxReceiveCount: the message goes to the dead-letter queue.
  brv::TbrvSQSReceiveMessageRequest request;
  request.SetExplicitVisibilityTimeout(0);
  for (int i = 0; i < 2; ++i) {
    brv::TbrvSQSReceiveMessageResponses received;
    ASSERT_TRUE(sqs.ReceiveMessage(Main(), request, received));
  }
  TFRMQueueBrowser& browser = Open();
  Select(browser, "dlq");
  ASSERT_EQ(Peek(browser), 1);

  browser.Confirm = [](QWidget*, const QString&) { return true; };
  QTest::mouseClick(browser.btnRedrive, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return browser.lblMessageStatus->text().startsWith("Redrive COMPLETED"); }, 60000))
      << browser.lblMessageStatus->text().toStdString() << browser.lblError->text().toStdString();
  brv::TbrvSQSReceiveMessageResponses back;
  ASSERT_TRUE(sqs.ReceiveMessage(Main(), back));
  ASSERT_EQ(back.Count(), 1);
  EXPECT_EQ(back.Items(0)->Body(), "failed twice");
  EXPECT_TRUE(shown.isEmpty()) << shown.join('\n').toStdString();
}

}  // namespace
