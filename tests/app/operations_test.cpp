#include "app/FAmazonSQS.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include "app/ExceptionGuard.h"
#include "base/Exception.h"
#include "sqs/brvSQSChecksums.h"
#include "support/ModalBox.h"
#include "support/QtPrinters.h"
#include "support/WaitIdle.h"
#include "tests/aws/support/RecordingSeams.h"
#include "tests/sqs/support/SQSFixture.h"

namespace {

using brv::testing::Answer;
using brv::testing::EmptyAnswer;
using brv::testing::ErrorAnswer;
using brv::testing::GetQueueUrlAnswer;
using brv::testing::TRecordingSeams;

const std::string kEndPoint = "https://sqs.us-east-1.amazonaws.com";
const std::string kQueueURL = "https://sqs.us-east-1.amazonaws.com/123456789012/sqs_queue";
const std::string kReceiptHandle = "AQEBwJnKyrHigUMZj6rYigCgxlaS3SLy0a+/=";

std::string ReceiveAnswer(const std::string& Body, const std::string& Handle) {
  return Answer("ReceiveMessage",
                "<Message><MessageId>5fea7756-0ea4-451a-a703-a558b933e274</MessageId>"
                "<ReceiptHandle>" +
                    Handle + "</ReceiptHandle><MD5OfBody>" + brv::SQSMD5Hex(Body) +
                    "</MD5OfBody><Body>" + Body + "</Body></Message>");
}

// The window with recording seams under its SQS component, credentials typed in, shown on
// the offscreen screen, and the exception reporter replaced by a collector.
class Window : public ::testing::Test {
 protected:
  Window() {
    // The endpoint of these tests is the computed regional one.
    qunsetenv("AWS_ENDPOINT_URL_SQS");
    qunsetenv("AWS_ENDPOINT_URL");
    previous_ = SetExceptionReporter([this](QWidget* Parent, const QString& Message) {
      EXPECT_EQ(Parent, &form);
      shown << Message;
    });
    seams.Install(*form.SQS);
    form.show();
    QTest::keyClicks(form.txtAccessKey, "AKIDEXAMPLE");
    QTest::keyClicks(form.txtSecretKey, "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY");
  }
  ~Window() override { SetExceptionReporter(previous_); }

  void Click(QPushButton* Button) {
    QTest::mouseClick(Button, Qt::LeftButton);
    ASSERT_TRUE(WaitUntilIdle(form));
  }

  // The log pane, line by line.
  QStringList Log() const {
    const QString text = form.memoLog->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
  }

  // The query of every request sent, after the "?".
  std::vector<std::string> Sent() const {
    std::vector<std::string> urls;
    for (const auto& get : seams.Gets) urls.push_back(get.URL);
    return urls;
  }

  TRecordingSeams seams;
  TFRMAmazonSQS form;
  QStringList shown;

 private:
  TExceptionReporter previous_;
};

// One row per button: the answer to its action after the queue has been resolved (when it
// addresses a queue), the request it must send, and the lines it must log.
struct TButtonCase {
  const char* Button;
  bool AddressesQueue;
  std::string Success;
  std::string Request;
  QStringList SuccessLog;
  QStringList FailureLog;  // after the "#Error: " line of the service's answer
};

void PrintTo(const TButtonCase& Case, std::ostream* Out) {
  *Out << Case.Button;
}

class EveryButton : public Window, public ::testing::WithParamInterface<TButtonCase> {
 protected:
  QPushButton* Button() { return form.findChild<QPushButton*>(GetParam().Button); }
};

const TButtonCase kButtons[] = {
    {"btnListQueues",
     false,
     Answer("ListQueues",
            "<QueueUrl>" + kQueueURL + "</QueueUrl><QueueUrl>" + kQueueURL + "2</QueueUrl>"),
     kEndPoint + "?Action=ListQueues",
     // The list's text form: every URL followed by a line break.
     {QString::fromStdString("#ListQueues: " + kQueueURL), QString::fromStdString(kQueueURL + "2"),
      ""},
     {"#ListQueues: error"}},
    {"btnCreateQueue",
     false,
     Answer("CreateQueue", "<QueueUrl>" + kQueueURL + "</QueueUrl>"),
     kEndPoint + "?Action=CreateQueue&QueueName=sqs_queue",
     {QString::fromStdString("#CreateQueue: " + kQueueURL)},
     {}},
    {"btnGetQueueAttributes",
     true,
     Answer("GetQueueAttributes",
            "<Attribute><Name>VisibilityTimeout</Name><Value>30</Value></Attribute>"
            "<Attribute><Name>QueueArn</Name><Value>arn:aws:sqs:us-east-1:123456789012:sqs_queue"
            "</Value></Attribute>"),
     kQueueURL + "/?Action=GetQueueAttributes&AttributeName.1=All",
     {"#Attribute: VisibilityTimeout 30",
      "#Attribute: QueueArn arn:aws:sqs:us-east-1:123456789012:sqs_queue"},
     {"#GetQueueAttributes: error"}},
    {"btnSetQueueAttributes",
     true,
     EmptyAnswer("SetQueueAttributes"),
     kQueueURL +
         "/?Action=SetQueueAttributes&Attribute.1.Name=VisibilityTimeout&Attribute.1.Value=30",
     {"#SetQueueAttributes: ok"},
     {"#SetQueueAttributes: error"}},
    {"btnDeleteQueue",
     true,
     EmptyAnswer("DeleteQueue"),
     kQueueURL + "/?Action=DeleteQueue",
     {"#Delete Queue: ok"},
     {"#Delete Queue: error"}},
    {"btnSendMessage",
     true,
     Answer("SendMessage",
            "<MessageId>5fea7756</MessageId><MD5OfMessageBody>31b52cb668f45a1cfa2a2348e3205d09</"
            "MD5OfMessageBody>"),
     kQueueURL + "/?Action=SendMessage&MessageBody=My%20First%20SQS%20Message.",
     {"#SendMessage: ok"},
     {"#SendMessage: error"}},
    {"btnReceiveMessage",
     true,
     ReceiveAnswer("Hello", kReceiptHandle),
     kQueueURL + "/?Action=ReceiveMessage&MaxNumberOfMessages=1",
     {"#ReceiveMessage: Hello"},
     {}},
    {"btnDeleteMessage",
     true,
     EmptyAnswer("DeleteMessage"),
     kQueueURL + "/?Action=DeleteMessage&ReceiptHandle=",
     {"#DeleteMessage: ok"},
     {"#DeleteMessage: error"}},
    {"btnPurgueQueue",
     true,
     EmptyAnswer("PurgeQueue"),
     kQueueURL + "/?Action=PurgeQueue",
     {"#PurgueQueue: ok"},
     {"#PurgueQueue: error"}},
};

TEST_P(EveryButton, SendsItsRequestAndLogsItsOkLinesOnSuccess) {
  if (GetParam().AddressesQueue) seams.AnswerBody(GetQueueUrlAnswer(kQueueURL));
  seams.AnswerBody(GetParam().Success);
  Click(Button());
  EXPECT_EQ(Log(), GetParam().SuccessLog);
  ASSERT_FALSE(seams.Gets.empty());
  EXPECT_EQ(seams.Gets.back().URL, GetParam().Request);
  EXPECT_TRUE(shown.isEmpty());
  EXPECT_EQ(seams.PendingAnswers(), 0u);

  // Every request carries the credentials as typed, the region and the service.
  ASSERT_FALSE(seams.SignedWith.empty());
  for (const auto& options : seams.SignedWith) {
    EXPECT_EQ(options.Region, "us-east-1");
    EXPECT_EQ(options.AccessKey, "AKIDEXAMPLE");
    EXPECT_EQ(options.SecretKey, "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY");
    EXPECT_EQ(options.Service, "sqs");
  }
}

TEST_P(EveryButton, LogsTheServiceErrorBeforeItsOwnFailureLine) {
  if (GetParam().AddressesQueue) seams.AnswerBody(GetQueueUrlAnswer(kQueueURL));
  seams.AnswerHTTPError(
      400, ErrorAnswer("InvalidParameterValue", "Value for parameter is invalid. Reason: test."));
  Click(Button());
  QStringList expected{
      "#Error: InvalidParameterValue Value for parameter is invalid. Reason: test."};
  expected << GetParam().FailureLog;
  EXPECT_EQ(Log(), expected);
  EXPECT_TRUE(shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Window, EveryButton, ::testing::ValuesIn(kButtons),
                         [](const auto& Info) { return std::string(Info.param.Button); });

TEST_F(Window, ListQueuesInARegionWithoutQueuesLogsThePrefixAlone) {
  seams.AnswerBody(EmptyAnswer("ListQueues"));
  Click(form.btnListQueues);
  EXPECT_EQ(Log(), QStringList{"#ListQueues: "});
}

TEST_F(Window, CreateQueueThatReturnsNoURLLogsNothing) {
  seams.AnswerBody(EmptyAnswer("CreateQueue"));
  Click(form.btnCreateQueue);
  EXPECT_EQ(Log(), QStringList());
}

TEST_F(Window, FieldsAreReadAtTheClickExactlyAsTyped) {
  form.txtQueueName->setText(" orders ");
  form.txtVisibilityTimeout->setText("abc");
  seams.AnswerBody(GetQueueUrlAnswer(kQueueURL));
  seams.AnswerBody(EmptyAnswer("SetQueueAttributes"));
  Click(form.btnSetQueueAttributes);
  ASSERT_EQ(seams.Gets.size(), 2u);
  EXPECT_EQ(seams.Gets[0].URL, kEndPoint + "?Action=GetQueueUrl&QueueName=%20orders%20");
  EXPECT_EQ(seams.Gets[1].URL, kQueueURL +
                                   "/?Action=SetQueueAttributes&Attribute.1.Name="
                                   "VisibilityTimeout&Attribute.1.Value=abc");
}

TEST_F(Window, AReceivedMessageFillsTheReceiptHandleThatDeleteMessageThenEmpties) {
  seams.AnswerBody(GetQueueUrlAnswer(kQueueURL));
  seams.AnswerBody(
      ReceiveAnswer("Gr\xC3\xBC\xC3\x9F"
                    "e aus K\xC3\xB6ln",
                    kReceiptHandle));
  Click(form.btnReceiveMessage);
  EXPECT_EQ(Log(), QStringList{QString::fromUtf8("#ReceiveMessage: Grüße aus Köln")});
  EXPECT_EQ(form.txtReceiptHandle->text().toStdString(), kReceiptHandle);
  EXPECT_FALSE(form.txtReceiptHandle->isEnabled());

  // Receiving on an empty queue logs nothing and keeps the handle.
  seams.AnswerBody(Answer("ReceiveMessage", ""));
  Click(form.btnReceiveMessage);
  EXPECT_EQ(Log().size(), 1);
  EXPECT_EQ(form.txtReceiptHandle->text().toStdString(), kReceiptHandle);

  // A failed delete keeps it too.
  seams.AnswerHTTPError(
      400, ErrorAnswer("ReceiptHandleIsInvalid", "The input receipt handle is invalid."));
  Click(form.btnDeleteMessage);
  EXPECT_EQ(seams.Gets.back().URL,
            kQueueURL +
                "/?Action=DeleteMessage&ReceiptHandle=AQEBwJnKyrHigUMZj6rYigCgxlaS3SLy0a%2B%2F%3D");
  EXPECT_EQ(Log().mid(1),
            (QStringList{"#Error: ReceiptHandleIsInvalid The input receipt handle is invalid.",
                         "#DeleteMessage: error"}));
  EXPECT_EQ(form.txtReceiptHandle->text().toStdString(), kReceiptHandle);

  // A successful one empties the field.
  seams.AnswerBody(EmptyAnswer("DeleteMessage"));
  Click(form.btnDeleteMessage);
  EXPECT_EQ(Log().last(), "#DeleteMessage: ok");
  EXPECT_EQ(form.txtReceiptHandle->text(), "");
  EXPECT_EQ(seams.PendingAnswers(), 0u);
}

TEST_F(Window, AQueueThatCannotBeResolvedLogsBothErrorsBeforeTheFailureLine) {
  seams.AnswerHTTPError(400, ErrorAnswer("AWS.SimpleQueueService.NonExistentQueue",
                                         "The specified queue does not exist."));
  seams.AnswerHTTPError(
      400, ErrorAnswer("MissingParameter", "The request must contain the parameter QueueUrl."));
  Click(form.btnDeleteQueue);
  EXPECT_EQ(Log(), (QStringList{
                       "#Error: AWS.SimpleQueueService.NonExistentQueue The specified queue does "
                       "not exist.",
                       "#Error: MissingParameter The request must contain the parameter QueueUrl.",
                       "#Delete Queue: error"}));
  // The action still went out, to the endpoint.
  EXPECT_EQ(seams.Gets.back().URL, kEndPoint + "?Action=DeleteQueue");
}

TEST_F(Window, ChangedCredentialsAndRegionTakeEffectOnTheNextClick) {
  seams.AnswerBody(EmptyAnswer("ListQueues"));
  Click(form.btnListQueues);
  form.txtRegion->setText("eu-west-1");
  form.txtAccessKey->setText("AKIDOTHER");
  form.txtSecretKey->setText("other-secret");
  seams.AnswerBody(EmptyAnswer("ListQueues"));
  Click(form.btnListQueues);
  ASSERT_EQ(seams.SignedWith.size(), 2u);
  EXPECT_EQ(seams.Gets[1].URL, "https://sqs.eu-west-1.amazonaws.com?Action=ListQueues");
  EXPECT_EQ(seams.SignedWith[1].Region, "eu-west-1");
  EXPECT_EQ(seams.SignedWith[1].AccessKey, "AKIDOTHER");
  EXPECT_EQ(seams.SignedWith[1].SecretKey, "other-secret");
  EXPECT_EQ(seams.SignedWith[1].Service, "sqs");
  EXPECT_EQ(Log(), (QStringList{"#ListQueues: ", "#ListQueues: "}));
}

TEST_F(Window, AFailureWithoutAnAnswerIsShownLogsNothingAndLeavesTheWindowUsable) {
  seams.AnswerThrow([] { throw brv::EIdException("Socket Error # 10061\nConnection refused."); });
  Click(form.btnListQueues);
  EXPECT_EQ(shown, QStringList{"Socket Error # 10061\nConnection refused."});
  EXPECT_EQ(Log(), QStringList());

  seams.AnswerBody(EmptyAnswer("ListQueues"));
  Click(form.btnListQueues);
  EXPECT_EQ(Log(), QStringList{"#ListQueues: "});
  EXPECT_EQ(shown.size(), 1);
}

TEST_F(Window, AFailureAfterTheResolutionLeavesTheReceiptHandleAlone) {
  form.txtReceiptHandle->setText("kept");
  seams.AnswerBody(GetQueueUrlAnswer(kQueueURL));
  seams.AnswerThrow([] { throw std::runtime_error("Read timed out."); });
  Click(form.btnDeleteMessage);
  EXPECT_EQ(shown, QStringList{"Read timed out."});
  EXPECT_EQ(Log(), QStringList());
  EXPECT_EQ(form.txtReceiptHandle->text(), "kept");
}

TEST_F(Window, TheCallRunsOnTheWorkerThreadWhileTheButtonsWait) {
  QThread* signedOn = nullptr;
  seams.SigningFailure = [&] { signedOn = QThread::currentThread(); };
  seams.AnswerBody(EmptyAnswer("ListQueues"));
  QTest::mouseClick(form.btnListQueues, Qt::LeftButton);
  EXPECT_TRUE(form.Busy());
  EXPECT_FALSE(form.btnPurgueQueue->isEnabled());
  EXPECT_TRUE(form.btnCancel->isEnabled());
  EXPECT_EQ(form.cursor().shape(), Qt::BusyCursor);
  ASSERT_TRUE(WaitUntilIdle(form));
  EXPECT_EQ(signedOn, form.OperationThread());
  EXPECT_NE(signedOn, QApplication::instance()->thread());
  EXPECT_EQ(Log(), QStringList{"#ListQueues: "});
  EXPECT_TRUE(form.btnPurgueQueue->isEnabled());
  EXPECT_FALSE(form.btnCancel->isEnabled());
  EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
}

TEST(WindowMessageBox, ShowsTheExceptionsMessageInACriticalBoxTitledLikeTheWindow) {
  qunsetenv("AWS_ENDPOINT_URL_SQS");
  qunsetenv("AWS_ENDPOINT_URL");
  TFRMAmazonSQS form;
  TRecordingSeams seams;
  seams.Install(*form.SQS);
  form.show();
  seams.AnswerThrow([] { throw brv::EIdException("Socket Error # 11001\nHost not found."); });
  TModalBoxReader box;
  QTest::mouseClick(form.btnListQueues, Qt::LeftButton);
  ASSERT_TRUE(WaitUntilIdle(form));
  EXPECT_EQ(box.Text, "Socket Error # 11001\nHost not found.");
  EXPECT_EQ(box.Title, "Amazon SQS");
  EXPECT_EQ(box.Icon, QMessageBox::Critical);
  EXPECT_EQ(form.memoLog->toPlainText(), "");
}

}  // namespace
