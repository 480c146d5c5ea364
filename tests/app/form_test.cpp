#include "app/FAmazonSQS.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "app/ExceptionGuard.h"
#include "base/Exception.h"
#include "support/QtPrinters.h"

namespace {

struct TDesignRect {
  const char* Name;
  int Left, Top, Width, Height;
};

QRect Scaled(const TFRMAmazonSQS& Form, const TDesignRect& R) {
  return QRect(Form.Scaled(R.Left), Form.Scaled(R.Top), Form.Scaled(R.Width),
               Form.Scaled(R.Height));
}

TEST(Form, StartsWithTheDesignedTextsCaptionsAndStates) {
  TFRMAmazonSQS form;
  EXPECT_EQ(form.windowTitle(), "Amazon SQS");
  EXPECT_EQ(form.txtRegion->text(), "us-east-1");
  EXPECT_EQ(form.txtAccessKey->text(), "");
  EXPECT_EQ(form.txtSecretKey->text(), "");
  // The secret shows dots unless the user asks for its text.
  EXPECT_EQ(form.txtSecretKey->echoMode(), QLineEdit::Password);
  form.chkShowSecret->click();
  EXPECT_EQ(form.txtSecretKey->echoMode(), QLineEdit::Normal);
  form.chkShowSecret->click();
  EXPECT_EQ(form.txtSecretKey->echoMode(), QLineEdit::Password);
  EXPECT_EQ(form.lblStatus->text(), "");
  EXPECT_EQ(form.txtQueueName->text(), "sqs_queue");
  EXPECT_EQ(form.txtVisibilityTimeout->text(), "30");
  EXPECT_EQ(form.txtMessageBody->text(), "My First SQS Message.");
  EXPECT_EQ(form.txtReceiptHandle->text(), "");
  EXPECT_FALSE(form.txtReceiptHandle->isEnabled());
  EXPECT_EQ(form.memoLog->toPlainText(), "");
  EXPECT_TRUE(form.memoLog->isReadOnly());  // written by the window alone
  EXPECT_TRUE(form.memoLog->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_FALSE(form.btnCancel->isEnabled());  // nothing to cancel yet

  const std::pair<QLabel*, const char*> labels[] = {
      {form.Label1, "EndPoint"},           {form.Label2, "Access Key"},
      {form.Label3, "Secret Key"},         {form.Label4, "Queue Name"},
      {form.Label5, "Visibility Timeout"}, {form.Label6, "Message"},
      {form.Label7, "Receipt Handle"}};
  for (const auto& [label, caption] : labels) EXPECT_EQ(label->text(), caption);
  const std::pair<QPushButton*, const char*> buttons[] = {
      {form.btnCreateQueue, "Create Queue"},
      {form.btnDeleteQueue, "Delete Queue"},
      {form.btnGetQueueAttributes, "Get Queue Attributes"},
      {form.btnSetQueueAttributes, "Set Queue Attributes"},
      {form.btnListQueues, "List Queues"},
      {form.btnSendMessage, "Send Message"},
      {form.btnReceiveMessage, "Receive Message"},
      {form.btnDeleteMessage, "Delete Message"},
      {form.btnPurgueQueue, "Purgue Queue"}};
  for (const auto& [button, caption] : buttons) {
    EXPECT_EQ(button->text(), caption);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(button->parentWidget(), form.pnlSQS);
  }
}

TEST(Form, PlacesEveryControlAsDesignedAtTheScreensDpi) {
  TFRMAmazonSQS form;
  // The form is taller than designed by the menu bar above the controls and the status line
  // under the log; the designed controls stand in the client area between them.
  const int menuHeight = form.mnuMain->height();
  EXPECT_GT(menuHeight, 0);
  EXPECT_EQ(form.size(), QSize(form.Scaled(635), form.Scaled(724) + form.Scaled(20) + menuHeight));
  EXPECT_EQ(form.pnlClient->geometry(),
            QRect(0, menuHeight, form.Scaled(635), form.Scaled(724) + form.Scaled(20)));

  const TDesignRect controls[] = {
      {"pnlTop", 3, 3, 629, 142},
      {"txtRegion", 100, 17, 509, 21},
      {"txtAccessKey", 100, 52, 285, 21},
      {"txtSecretKey", 100, 88, 285, 21},
      {"pnlSQS", 3, 151, 629, 258},
      {"btnCreateQueue", 16, 104, 89, 25},
      {"btnDeleteQueue", 367, 103, 89, 26},
      {"memoLog", 0, 412, 635, 312},
      {"txtQueueName", 100, 64, 121, 21},
      {"btnGetQueueAttributes", 111, 103, 122, 26},
      {"txtVisibilityTimeout", 344, 64, 41, 21},
      {"btnSetQueueAttributes", 239, 104, 122, 25},
      {"btnListQueues", 16, 16, 89, 25},
      {"txtMessageBody", 100, 144, 509, 21},
      {"btnSendMessage", 16, 208, 89, 25},
      {"btnReceiveMessage", 111, 208, 122, 25},
      {"txtReceiptHandle", 100, 171, 509, 21},
      {"btnDeleteMessage", 239, 208, 122, 25},
      {"btnPurgueQueue", 367, 208, 89, 25},
      {"lblStatus", 0, 724, 635, 20},
  };
  for (const auto& c : controls) {
    auto* w = form.findChild<QWidget*>(QString::fromLatin1(c.Name));
    ASSERT_NE(w, nullptr) << c.Name;
    EXPECT_EQ(w->geometry(), Scaled(form, c)) << c.Name;
  }
  EXPECT_EQ(form.memoLog->parentWidget(), form.pnlClient);
  EXPECT_EQ(form.txtRegion->parentWidget(), form.pnlTop);

  // Labels keep their designed top and right edge (they stand before the field they name)
  // and are at least as large as designed, wider when the face needs it.
  const TDesignRect labels[] = {{"Label1", 36, 20, 42, 13},  {"Label2", 24, 55, 54, 13},
                                {"Label3", 26, 91, 52, 13},  {"Label4", 16, 67, 62, 13},
                                {"Label5", 260, 67, 78, 13}, {"Label6", 36, 147, 42, 13},
                                {"Label7", 6, 174, 72, 13}};
  for (const auto& l : labels) {
    auto* label = form.findChild<QLabel*>(QString::fromLatin1(l.Name));
    ASSERT_NE(label, nullptr) << l.Name;
    const QRect design = Scaled(form, l);
    EXPECT_EQ(label->geometry().top(), design.top()) << l.Name;
    EXPECT_EQ(label->geometry().right(), design.right()) << l.Name;
    EXPECT_GE(label->width(), design.width()) << l.Name;
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << l.Name;
  }
}

TEST(Form, KeepsPanelsAlignedAndTheLogFillingTheRestWhenResized) {
  TFRMAmazonSQS form;
  form.show();
  form.resize(form.Scaled(800), form.Scaled(900));
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.width() == form.Scaled(800); }));
  EXPECT_EQ(form.pnlTop->width(), form.Scaled(800) - 2 * form.Scaled(3));
  EXPECT_EQ(form.pnlSQS->width(), form.Scaled(800) - 2 * form.Scaled(3));
  const int statusTop = form.Scaled(900) - form.mnuMain->height() - form.Scaled(20);
  EXPECT_EQ(form.memoLog->geometry(),
            QRect(0, form.Scaled(412), form.Scaled(800), statusTop - form.Scaled(412)));
  EXPECT_EQ(form.lblStatus->geometry(), QRect(0, statusTop, form.Scaled(800), form.Scaled(20)));
}

TEST(Form, UsesAnEightPointSansSerifFaceOnTheButtonFaceColour) {
  TFRMAmazonSQS form;
  EXPECT_EQ(form.font().pointSize(), 8);
  EXPECT_EQ(form.font().families().value(0), "Tahoma");
  EXPECT_EQ(form.txtRegion->font(), form.font());  // the controls take the window's font
  const QFontInfo used(form.font());
  EXPECT_FALSE(used.fixedPitch()) << used.family().toStdString();
  EXPECT_EQ(form.palette().color(QPalette::Window), form.palette().color(QPalette::Button));
  EXPECT_TRUE(form.autoFillBackground());
}

TEST(Form, IsCentredOnTheScreen) {
  TFRMAmazonSQS form;
  const QPoint centre = form.screen()->availableGeometry().center();
  EXPECT_LE(std::abs(form.geometry().center().x() - centre.x()), 1);
  EXPECT_LE(std::abs(form.geometry().center().y() - centre.y()), 1);
}

TEST(Form, TabWalksTheFieldsAndButtonsInTheDesignedOrderSkippingTheReceiptHandle) {
  TFRMAmazonSQS form;
  form.show();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.txtRegion->setFocus();
  QStringList visited;
  for (int i = 0; i < 16; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(visited.join(' ').toStdString(),
            "txtAccessKey txtSecretKey btnCreateQueue btnDeleteQueue txtQueueName "
            "btnGetQueueAttributes txtVisibilityTimeout btnSetQueueAttributes btnListQueues "
            "txtMessageBody btnSendMessage btnReceiveMessage btnDeleteMessage btnPurgueQueue "
            "memoLog txtRegion");
}

TEST(Form, MenuBarOffersTheQueueBrowserAndAnAboutBoxWithTheVersion) {
  TFRMAmazonSQS form;
  form.show();
  QStringList menus;
  for (QAction* menu : form.mnuMain->actions()) {
    for (QAction* item : menu->menu()->actions()) menus << menu->text() + " " + item->text();
  }
  EXPECT_EQ(menus, (QStringList{"&View &Queue Browser", "&Help &About"}));

  QString text;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    poll.stop();
    text = box->text();
    box->accept();
  });
  poll.start(10);
  form.actAbout->trigger();
  EXPECT_TRUE(text.contains(QStringLiteral("Amazon SQS " BRV_VERSION))) << text.toStdString();
}

// Replaces the exception reporter for one test and collects what it is shown.
class Guard : public ::testing::Test {
 protected:
  Guard() {
    previous_ = SetExceptionReporter(
        [this](QWidget* Parent, const QString& Message) { shown.emplace_back(Parent, Message); });
  }
  ~Guard() override { SetExceptionReporter(previous_); }
  std::vector<std::pair<QWidget*, QString>> shown;

 private:
  TExceptionReporter previous_;
};

TEST_F(Guard, ShowsTheMessageOfWhateverEscapesAndNothingWhenAllGoesWell) {
  QWidget parent;
  EXPECT_TRUE(RunGuarded(&parent, [] {}));
  EXPECT_TRUE(shown.empty());

  EXPECT_FALSE(RunGuarded(
      &parent, [] { throw brv::EIdException("Socket Error # 10061\nConnection refused."); }));
  EXPECT_FALSE(RunGuarded(nullptr, [] { throw std::runtime_error("plain failure"); }));
  EXPECT_FALSE(RunGuarded(&parent, [] { throw 42; }));
  EXPECT_FALSE(RunGuarded(&parent, [] {
    throw brv::Exception(
        "Gr\xC3\xBC\xC3\x9F"
        "e");
  }));
  EXPECT_FALSE(RunGuarded(&parent, [] { throw std::bad_alloc(); }));
  ASSERT_EQ(shown.size(), 5u);
  EXPECT_EQ(shown[0].first, &parent);
  EXPECT_EQ(shown[0].second, "Socket Error # 10061\nConnection refused.");
  EXPECT_EQ(shown[1].first, nullptr);
  EXPECT_EQ(shown[1].second, "plain failure");
  EXPECT_EQ(shown[2].second, "An unknown error occurred.");
  EXPECT_EQ(shown[3].second, QString::fromUtf8("Grüße"));  // messages are UTF-8
  EXPECT_EQ(shown[4].second, "Out of memory: the operation was stopped.");
}

TEST_F(Guard, AFailingReporterDoesNotLetAnythingEscape) {
  SetExceptionReporter([](QWidget*, const QString&) { throw std::runtime_error("reporter"); });
  EXPECT_FALSE(RunGuarded(nullptr, [] { throw std::runtime_error("first"); }));
}

}  // namespace
