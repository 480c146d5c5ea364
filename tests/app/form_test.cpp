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
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "app/ExceptionGuard.h"
#include "base/Exception.h"
#include "support/ModalBox.h"
#include "support/QtPrinters.h"

namespace {

// Checks what holds at any window size: the menu bar on top, the two panels stacked under it
// with the same margin on every side, the log filling what is left down to the status line at
// the bottom, and Cancel inside the status line at its right end.
void ExpectStackedLayout(const TFRMAmazonSQS& Form) {
  const int menuHeight = Form.mnuMain->height();
  EXPECT_GT(menuHeight, 0);
  EXPECT_EQ(Form.pnlClient->geometry(),
            QRect(0, menuHeight, Form.width(), Form.height() - menuHeight));
  const int w = Form.pnlClient->width();
  const int margin = Form.pnlTop->x();
  EXPECT_GT(margin, 0);
  EXPECT_EQ(Form.pnlTop->geometry(), QRect(margin, margin, w - 2 * margin, Form.pnlTop->height()));
  EXPECT_EQ(Form.pnlSQS->geometry(),
            QRect(margin, Form.pnlTop->y() + Form.pnlTop->height() + 2 * margin, w - 2 * margin,
                  Form.pnlSQS->height()));
  EXPECT_EQ(Form.memoLog->geometry(),
            QRect(0, Form.pnlSQS->y() + Form.pnlSQS->height() + margin, w,
                  Form.lblStatus->y() - (Form.pnlSQS->y() + Form.pnlSQS->height() + margin)));
  EXPECT_EQ(
      Form.lblStatus->geometry(),
      QRect(0, Form.pnlClient->height() - Form.lblStatus->height(), w, Form.lblStatus->height()));
  EXPECT_GT(Form.lblStatus->height(), 0);
  EXPECT_EQ(Form.btnCancel->parentWidget(), Form.pnlClient);
  EXPECT_TRUE(Form.lblStatus->geometry().contains(Form.btnCancel->geometry()));
  EXPECT_GT(Form.btnCancel->x(), w / 2);
}

TEST(Form, StartsWithItsTextsCaptionsAndStates) {
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

TEST(Form, StacksThePanelsAndGivesTheLogRoomAtItsStartSize) {
  TFRMAmazonSQS form;
  ExpectStackedLayout(form);
  EXPECT_EQ(form.memoLog->parentWidget(), form.pnlClient);
  EXPECT_GE(form.memoLog->height(), form.pnlTop->height());
}

TEST(Form, PlacesEachPanelsControlsInsideItWithoutOverlapAndLabelsBeforeTheirFields) {
  TFRMAmazonSQS form;
  for (QWidget* panel : {form.pnlTop, form.pnlSQS}) {
    const QRect inside(QPoint(0, 0), panel->size());
    const QList<QWidget*> controls = panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_GE(controls.size(), 7);
    for (qsizetype i = 0; i < controls.size(); ++i) {
      const std::string name = controls[i]->objectName().toStdString();
      EXPECT_FALSE(controls[i]->geometry().isEmpty()) << name;
      EXPECT_TRUE(inside.contains(controls[i]->geometry())) << name;
      for (qsizetype j = i + 1; j < controls.size(); ++j) {
        EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
            << name << " overlaps " << controls[j]->objectName().toStdString();
      }
    }
  }

  // A label stands on its field's row, and the field is the nearest control to its right; the
  // label is wide enough for its caption in whatever face the system chose.
  const std::pair<QLabel*, QLineEdit*> named[] = {{form.Label1, form.txtRegion},
                                                  {form.Label2, form.txtAccessKey},
                                                  {form.Label3, form.txtSecretKey},
                                                  {form.Label4, form.txtQueueName},
                                                  {form.Label5, form.txtVisibilityTimeout},
                                                  {form.Label6, form.txtMessageBody},
                                                  {form.Label7, form.txtReceiptHandle}};
  for (const auto& pair : named) {
    QLabel* label = pair.first;
    const std::string name = label->objectName().toStdString();
    const QRect at = label->geometry();
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << name;
    QWidget* nearest = nullptr;
    for (QWidget* w : label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      const QRect r = w->geometry();
      const bool sameRow = r.top() <= at.bottom() && at.top() <= r.bottom();
      if (w != label && sameRow && r.left() > at.right() &&
          (nearest == nullptr || r.left() < nearest->x()))
        nearest = w;
    }
    EXPECT_EQ(nearest, pair.second) << name;
  }
  // The fields named in the first column line up on one left edge in both panels.
  for (QLineEdit* field : {form.txtAccessKey, form.txtSecretKey, form.txtQueueName,
                           form.txtMessageBody, form.txtReceiptHandle})
    EXPECT_EQ(field->x(), form.txtRegion->x()) << field->objectName().toStdString();
}

TEST(Form, KeepsPanelsAlignedAndTheLogFillingTheRestWhenResized) {
  TFRMAmazonSQS form;
  form.show();
  const QSize before = form.size();
  const int topHeight = form.pnlTop->height();
  const int sqsHeight = form.pnlSQS->height();
  const int logHeight = form.memoLog->height();
  form.resize(before + QSize(165, 176));
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.width() == before.width() + 165; }));
  ExpectStackedLayout(form);
  // The panels keep their height; the log takes all the height the window gained.
  EXPECT_EQ(form.pnlTop->height(), topHeight);
  EXPECT_EQ(form.pnlSQS->height(), sqsHeight);
  EXPECT_EQ(form.memoLog->height(), logHeight + 176);
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

TEST(Form, TabWalksTheFieldsAndButtonsPanelByPanelSkippingTheReceiptHandle) {
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

  TModalBoxReader box;
  form.actAbout->trigger();
  EXPECT_TRUE(box.Text.contains(QStringLiteral("Amazon SQS " BRV_VERSION)))
      << box.Text.toStdString();
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
