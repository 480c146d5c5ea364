#include "app/FAmazonSQS.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

#include "app/ExceptionGuard.h"
#include "app/FQueueBrowser.h"
#include "app/OperationRunner.h"
#include "base/StringList.h"
#include "sqs/brvSQSRecords.h"

namespace {

// The window's client area and panels, in pixels at 96 dpi.
constexpr int kClientWidth = 635;
constexpr int kClientHeight = 724;
constexpr int kPanelMargin = 3;
constexpr int kTopPanelHeight = 142;
constexpr int kSQSPanelHeight = 258;
// The status line under the log pane, which adds its height to the client area's.
constexpr int kStatusHeight = 20;
// The Cancel button at the right end of the status line.
constexpr int kCancelWidth = 70;

// "Tahoma" 8 pt where the system has it; otherwise the nearest sans-serif faces in width and
// look, then whatever sans-serif face the font configuration offers.
QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed"),
                    QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

QFrame* NewPanel(QWidget* Parent, const char* Name) {
  auto* panel = new QFrame(Parent);
  panel->setObjectName(QString::fromLatin1(Name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  return panel;
}

QLabel* NewLabel(QWidget* Parent, const char* Name, const char* Caption) {
  auto* label = new QLabel(QString::fromUtf8(Caption), Parent);
  label->setObjectName(QString::fromLatin1(Name));
  return label;
}

QLineEdit* NewEdit(QWidget* Parent, const char* Name, const char* Text) {
  auto* edit = new QLineEdit(QString::fromUtf8(Text), Parent);
  edit->setObjectName(QString::fromLatin1(Name));
  edit->setCursorPosition(0);
  return edit;
}

QPushButton* NewButton(QWidget* Parent, const char* Name, const char* Caption) {
  auto* button = new QPushButton(QString::fromUtf8(Caption), Parent);
  button->setObjectName(QString::fromLatin1(Name));
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TFRMAmazonSQS* FRMAmazonSQS = nullptr;

TFRMAmazonSQS::TFRMAmazonSQS(QWidget* Parent) : QWidget(Parent) {
  setObjectName(QStringLiteral("FRMAmazonSQS"));
  setWindowTitle(QStringLiteral("Amazon SQS"));
  scale_ = std::max(1, logicalDpiX()) / 96.0;
  setFont(WindowFont());

  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);

  CreateMenu();
  CreateControls();
  SetTabOrder();

  ConfigResolver = std::make_unique<brv::TbrvAWSConfigResolver>(
      brv::TbrvAWSConfigResolver::ProcessEnvironment(), std::string());
  SQS = std::make_unique<brv::TbrvHTTPAWS_SQS_Client>();
  SQS->LogFile().Enabled = false;
  SQS->OnSQSError = [this](brv::TObject* Sender, const std::string& Error_Code,
                           const std::string& Error_Description, const std::string& RawError) {
    SQSSQSError(Sender, Error_Code, Error_Description, RawError);
  };
  runner_ = std::make_unique<TOperationRunner>();
  runner_->OnBusyChanged = [this](bool Busy) { ShowBusy(Busy); };
  connect(btnCancel, &QPushButton::clicked, this, [this] { Cancel(); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { Cancel(); });

  ConnectClick(btnListQueues, &TFRMAmazonSQS::btnListQueuesClick);
  ConnectClick(btnCreateQueue, &TFRMAmazonSQS::btnCreateQueueClick);
  ConnectClick(btnGetQueueAttributes, &TFRMAmazonSQS::btnGetQueueAttributesClick);
  ConnectClick(btnSetQueueAttributes, &TFRMAmazonSQS::btnSetQueueAttributesClick);
  ConnectClick(btnDeleteQueue, &TFRMAmazonSQS::btnDeleteQueueClick);
  ConnectClick(btnSendMessage, &TFRMAmazonSQS::btnSendMessageClick);
  ConnectClick(btnReceiveMessage, &TFRMAmazonSQS::btnReceiveMessageClick);
  ConnectClick(btnDeleteMessage, &TFRMAmazonSQS::btnDeleteMessageClick);
  ConnectClick(btnPurgueQueue, &TFRMAmazonSQS::btnPurgueQueueClick);

  resize(Scaled(kClientWidth), Scaled(kClientHeight + kStatusHeight) + mnuMain->height());
  AlignControls();
  CentreOnScreen();
}

TFRMAmazonSQS::~TFRMAmazonSQS() {
  // The worker uses the client and the resolver: it ends before they go.
  runner_->Shutdown();
}

bool TFRMAmazonSQS::Busy() const {
  return runner_->Busy();
}

void TFRMAmazonSQS::Cancel() {
  runner_->Cancel();
}

QThread* TFRMAmazonSQS::OperationThread() const {
  return runner_->Thread();
}

TFRMQueueBrowser* TFRMAmazonSQS::ShowQueueBrowser() {
  if (browser_ == nullptr) browser_ = new TFRMQueueBrowser(*this);
  if (!browser_->isVisible()) {
    browser_->show();
    browser_->Refresh();  // listed afresh whenever it opens
  }
  browser_->raise();
  browser_->activateWindow();
  return browser_;
}

void TFRMAmazonSQS::closeEvent(QCloseEvent* Event) {
  // The operation in progress ends now; its result is no longer wanted.
  runner_->Cancel();
  if (browser_ != nullptr) browser_->close();
  QWidget::closeEvent(Event);
}

void TFRMAmazonSQS::CreateMenu() {
  mnuMain = new QMenuBar(this);
  mnuMain->setObjectName(QStringLiteral("mnuMain"));
  mnuMain->setNativeMenuBar(false);  // the client area below it is measured from it
  QMenu* view = mnuMain->addMenu(QStringLiteral("&View"));
  actQueueBrowser = view->addAction(QStringLiteral("&Queue Browser"));
  actQueueBrowser->setObjectName(QStringLiteral("actQueueBrowser"));
  connect(actQueueBrowser, &QAction::triggered, this,
          [this] { RunGuarded(this, [this] { ShowQueueBrowser(); }); });
  QMenu* help = mnuMain->addMenu(QStringLiteral("&Help"));
  actAbout = help->addAction(QStringLiteral("&About"));
  actAbout->setObjectName(QStringLiteral("actAbout"));
  connect(actAbout, &QAction::triggered, this, [this] {
    QMessageBox::about(this, QStringLiteral("About Amazon SQS"),
                       QStringLiteral("Amazon SQS " BRV_VERSION
                                      "\n\nA desktop client for Amazon Simple Queue Service."));
  });
  mnuMain->setGeometry(0, 0, Scaled(kClientWidth), mnuMain->sizeHint().height());
}

int TFRMAmazonSQS::Scaled(int DesignPixels) const {
  return static_cast<int>(std::lround(DesignPixels * scale_));
}

void TFRMAmazonSQS::CreateControls() {
  // The fixed-layout controls stand in the client area under the menu bar.
  pnlClient = new QWidget(this);
  pnlClient->setObjectName(QStringLiteral("pnlClient"));
  QWidget* client = pnlClient;
  pnlTop = NewPanel(client, "pnlTop");
  Label1 = NewLabel(pnlTop, "Label1", "EndPoint");
  Label2 = NewLabel(pnlTop, "Label2", "Access Key");
  Label3 = NewLabel(pnlTop, "Label3", "Secret Key");
  txtRegion = NewEdit(pnlTop, "txtRegion", "us-east-1");
  txtAccessKey = NewEdit(pnlTop, "txtAccessKey", "");
  // A secret on screen is seen by anyone looking at or sharing the screen: the field shows
  // dots unless the user asks for the text.
  txtSecretKey = NewEdit(pnlTop, "txtSecretKey", "");
  txtSecretKey->setEchoMode(QLineEdit::Password);
  pnlSQS = NewPanel(client, "pnlSQS");
  btnCreateQueue = NewButton(pnlSQS, "btnCreateQueue", "Create Queue");
  btnDeleteQueue = NewButton(pnlSQS, "btnDeleteQueue", "Delete Queue");
  memoLog = new QPlainTextEdit(client);
  memoLog->setObjectName(QStringLiteral("memoLog"));
  memoLog->setTabChangesFocus(true);  // Tab leaves the log pane like every other control
  // Only the window writes the log; its text can still be selected and copied.
  memoLog->setReadOnly(true);
  memoLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  txtQueueName = NewEdit(pnlSQS, "txtQueueName", "sqs_queue");
  Label4 = NewLabel(pnlSQS, "Label4", "Queue Name");
  btnGetQueueAttributes = NewButton(pnlSQS, "btnGetQueueAttributes", "Get Queue Attributes");
  txtVisibilityTimeout = NewEdit(pnlSQS, "txtVisibilityTimeout", "30");
  Label5 = NewLabel(pnlSQS, "Label5", "Visibility Timeout");
  btnSetQueueAttributes = NewButton(pnlSQS, "btnSetQueueAttributes", "Set Queue Attributes");
  btnListQueues = NewButton(pnlSQS, "btnListQueues", "List Queues");
  Label6 = NewLabel(pnlSQS, "Label6", "Message");
  txtMessageBody = NewEdit(pnlSQS, "txtMessageBody", "My First SQS Message.");
  btnSendMessage = NewButton(pnlSQS, "btnSendMessage", "Send Message");
  btnReceiveMessage = NewButton(pnlSQS, "btnReceiveMessage", "Receive Message");
  txtReceiptHandle = NewEdit(pnlSQS, "txtReceiptHandle", "");
  txtReceiptHandle->setEnabled(false);  // only the window writes the receipt handle
  Label7 = NewLabel(pnlSQS, "Label7", "Receipt Handle");
  btnDeleteMessage = NewButton(pnlSQS, "btnDeleteMessage", "Delete Message");
  btnPurgueQueue = NewButton(pnlSQS, "btnPurgueQueue", "Purgue Queue");
  // Reached with the mouse or Alt+S; it stays out of the tab order.
  chkShowSecret = new QCheckBox(QStringLiteral("&Show"), pnlTop);
  chkShowSecret->setObjectName(QStringLiteral("chkShowSecret"));
  chkShowSecret->setFocusPolicy(Qt::ClickFocus);
  chkShowSecret->setGeometry(Scaled(391), Scaled(90), Scaled(70), Scaled(17));
  connect(chkShowSecret, &QCheckBox::toggled, txtSecretKey, [this](bool Shown) {
    txtSecretKey->setEchoMode(Shown ? QLineEdit::Normal : QLineEdit::Password);
  });
  lblStatus = NewLabel(client, "lblStatus", "");
  lblStatus->setTextFormat(Qt::PlainText);  // an endpoint from a file is no markup
  lblStatus->setIndent(Scaled(4));
  lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Reached with the mouse or Escape; it stays out of the tab order.
  btnCancel = NewButton(client, "btnCancel", "Cancel");
  btnCancel->setFocusPolicy(Qt::NoFocus);
  btnCancel->setEnabled(false);

  // Fixed positions within the panels, in pixels at 96 dpi.
  struct Place {
    QWidget* Control;
    int Left, Top, Width, Height;
  };
  const Place places[] = {
      {txtRegion, 100, 17, 509, 21},
      {txtAccessKey, 100, 52, 285, 21},
      {txtSecretKey, 100, 88, 285, 21},
      {btnCreateQueue, 16, 104, 89, 25},
      {btnDeleteQueue, 367, 103, 89, 26},
      {txtQueueName, 100, 64, 121, 21},
      {btnGetQueueAttributes, 111, 103, 122, 26},
      {txtVisibilityTimeout, 344, 64, 41, 21},
      {btnSetQueueAttributes, 239, 104, 122, 25},
      {btnListQueues, 16, 16, 89, 25},
      {txtMessageBody, 100, 144, 509, 21},
      {btnSendMessage, 16, 208, 89, 25},
      {btnReceiveMessage, 111, 208, 122, 25},
      {txtReceiptHandle, 100, 171, 509, 21},
      {btnDeleteMessage, 239, 208, 122, 25},
      {btnPurgueQueue, 367, 208, 89, 25},
  };
  for (const Place& p : places) {
    p.Control->setGeometry(Scaled(p.Left), Scaled(p.Top), Scaled(p.Width), Scaled(p.Height));
  }

  // Labels size themselves to their caption. They stand right-aligned before the field they
  // name, so a face wider than Tahoma grows a label to the left, never into its field.
  const Place labels[] = {
      {Label1, 36, 20, 42, 13}, {Label2, 24, 55, 54, 13},  {Label3, 26, 91, 52, 13},
      {Label4, 16, 67, 62, 13}, {Label5, 260, 67, 78, 13}, {Label6, 36, 147, 42, 13},
      {Label7, 6, 174, 72, 13},
  };
  for (const Place& p : labels) {
    auto* label = static_cast<QLabel*>(p.Control);
    const QFontMetrics metrics(label->font());
    const int right = Scaled(p.Left + p.Width);
    const int width = std::max(Scaled(p.Width), metrics.horizontalAdvance(label->text()) + 1);
    const int height = std::max(Scaled(p.Height), metrics.height());
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setGeometry(std::max(0, right - width), Scaled(p.Top), width, height);
  }
}

void TFRMAmazonSQS::SetTabOrder() {
  // Within the window: pnlTop, pnlSQS, memoLog; within each panel in the order listed here.
  // The disabled receipt-handle field keeps its place but takes no focus.
  QWidget* order[] = {txtRegion,
                      txtAccessKey,
                      txtSecretKey,
                      btnCreateQueue,
                      btnDeleteQueue,
                      txtQueueName,
                      btnGetQueueAttributes,
                      txtVisibilityTimeout,
                      btnSetQueueAttributes,
                      btnListQueues,
                      txtMessageBody,
                      btnSendMessage,
                      btnReceiveMessage,
                      txtReceiptHandle,
                      btnDeleteMessage,
                      btnPurgueQueue,
                      memoLog};
  for (std::size_t i = 1; i < std::size(order); ++i) {
    QWidget::setTabOrder(order[i - 1], order[i]);
  }
}

void TFRMAmazonSQS::AlignControls() {
  // The panels are aligned to the top with a margin on every side, one below the other; the
  // log pane fills what is left, without margin.
  const int menuHeight = mnuMain->sizeHint().height();
  mnuMain->setGeometry(0, 0, width(), menuHeight);
  pnlClient->setGeometry(0, menuHeight, width(), std::max(0, height() - menuHeight));
  const int margin = Scaled(kPanelMargin);
  const int w = pnlClient->width();
  const int topHeight = Scaled(kTopPanelHeight);
  const int sqsHeight = Scaled(kSQSPanelHeight);
  pnlTop->setGeometry(margin, margin, std::max(0, w - 2 * margin), topHeight);
  const int sqsTop = margin + topHeight + 2 * margin;
  pnlSQS->setGeometry(margin, sqsTop, std::max(0, w - 2 * margin), sqsHeight);
  const int logTop = sqsTop + sqsHeight + margin;
  const int statusHeight = Scaled(kStatusHeight);
  const int statusTop = std::max(logTop, pnlClient->height() - statusHeight);
  memoLog->setGeometry(0, logTop, w, statusTop - logTop);
  lblStatus->setGeometry(0, statusTop, w, statusHeight);
  // Cancel covers the right end of the status line, where a long endpoint would end.
  const int cancelWidth = Scaled(kCancelWidth);
  btnCancel->setGeometry(std::max(0, w - cancelWidth - 1), statusTop + 1, cancelWidth,
                         std::max(0, statusHeight - 2));
  btnCancel->raise();
}

void TFRMAmazonSQS::CentreOnScreen() {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s) return;
  QRect r = geometry();
  r.moveCenter(s->availableGeometry().center());
  move(r.topLeft());
}

void TFRMAmazonSQS::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  AlignControls();
}

void TFRMAmazonSQS::ConnectClick(QPushButton* Button, void (TFRMAmazonSQS::*Handler)(QObject*)) {
  connect(Button, &QPushButton::clicked, this,
          [this, Button, Handler] { RunGuarded(this, [&] { (this->*Handler)(Button); }); });
}

void TFRMAmazonSQS::btnListQueuesClick(QObject*) {
  ListQueues();
}
void TFRMAmazonSQS::btnCreateQueueClick(QObject*) {
  CreateQueue();
}
void TFRMAmazonSQS::btnGetQueueAttributesClick(QObject*) {
  GetQueueAttributes();
}
void TFRMAmazonSQS::btnSetQueueAttributesClick(QObject*) {
  SetQueueAttributes();
}
void TFRMAmazonSQS::btnDeleteQueueClick(QObject*) {
  DeleteQueue();
}
void TFRMAmazonSQS::btnSendMessageClick(QObject*) {
  SendMessage();
}
void TFRMAmazonSQS::btnReceiveMessageClick(QObject*) {
  ReceiveMessage();
}
void TFRMAmazonSQS::btnDeleteMessageClick(QObject*) {
  DeleteMessage();
}
void TFRMAmazonSQS::btnPurgueQueueClick(QObject*) {
  PurgueQueue();
}

void TFRMAmazonSQS::ShowBusy(bool Busy) {
  for (QPushButton* button :
       {btnListQueues, btnCreateQueue, btnGetQueueAttributes, btnSetQueueAttributes, btnDeleteQueue,
        btnSendMessage, btnReceiveMessage, btnDeleteMessage, btnPurgueQueue}) {
    button->setEnabled(!Busy);
  }
  btnCancel->setEnabled(Busy);
  if (Busy) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
  }
}

void TFRMAmazonSQS::Start(const std::string& Name, TOperation Operation) {
  // The fields are read now, at the click; the worker sees only these copies.
  runner_->Run(
      [this, request = TypedCredentials(), Operation = std::move(Operation)](
          const std::shared_ptr<brv::TIdCancellation>& Cancel) -> TOperationRunner::TDone {
        ApplyCredentials(request);
        return RunCancellable(*SQS, Cancel, Operation);
      },
      [this, Name](std::exception_ptr Error, bool Cancelled) {
        if (!Cancelled) {
          try {
            std::rethrow_exception(Error);
          } catch (const brv::EIdOperationCancelled&) {
            Cancelled = true;
          } catch (...) {
          }
        }
        if (Cancelled) {
          DoLog("#" + Name + ": cancelled");
        } else {
          RunGuarded(this, [&] { std::rethrow_exception(Error); });
        }
      });
}

brv::TbrvAWSConfigRequest TFRMAmazonSQS::TypedCredentials() const {
  brv::TbrvAWSConfigRequest request;
  request.Region = txtRegion->text().toStdString();
  request.AccessKey = txtAccessKey->text().toStdString();
  request.SecretKey = txtSecretKey->text().toStdString();
  return request;
}

void TFRMAmazonSQS::ApplyCredentials(const brv::TbrvAWSConfigRequest& Typed) {
  // Typed keys win as they are (one of them may be empty); the region is always the field's.
  brv::TbrvAWSConfigRequest request = Typed;
  request.Service = SQS->AWSOptions().Service;  // read here: the client belongs to the worker
  const brv::TbrvAWSConfig config = ConfigResolver->Resolve(request);
  brv::ApplyAWSConfig(config, *SQS);
  const std::string source = config.HasCredentials() ? config.CredentialSource : "none found";
  const QString status =
      QString::fromStdString("Endpoint: " + config.EndPoint + "    Credentials: " + source);
  runner_->Post([this, status] { lblStatus->setText(status); });
}

void TFRMAmazonSQS::DoLog(const std::string& Text) {
  memoLog->appendPlainText(QString::fromStdString(Text));
}

void TFRMAmazonSQS::SQSSQSError(brv::TObject*, const std::string& Error_Code,
                                const std::string& Error_Description, const std::string&) {
  // Raised on the worker during a call: logged on the UI thread, before the call's own line.
  runner_->Post([this, line = "#Error: " + Error_Code + " " + Error_Description] { DoLog(line); });
}

void TFRMAmazonSQS::ListQueues() {
  Start("ListQueues", [this](brv::TbrvHTTPAWS_SQS_Client& Client) -> std::function<void()> {
    brv::TStringList queues;
    if (Client.ListQueues(queues, "")) {
      return [this, text = queues.Text()] { DoLog("#ListQueues: " + text); };
    }
    return [this] { DoLog("#ListQueues: error"); };
  });
}

void TFRMAmazonSQS::CreateQueue() {
  Start("CreateQueue",
        [this, name = txtQueueName->text().toStdString()](
            brv::TbrvHTTPAWS_SQS_Client& Client) -> std::function<void()> {
          const std::string url = Client.CreateQueue(name);
          return [this, url] {
            if (!url.empty()) DoLog("#CreateQueue: " + url);
          };
        });
}

void TFRMAmazonSQS::GetQueueAttributes() {
  Start("GetQueueAttributes",
        [this, name = txtQueueName->text().toStdString()](
            brv::TbrvHTTPAWS_SQS_Client& Client) -> std::function<void()> {
          brv::TbrvSQSAttributes attributes;
          if (!Client.GetQueueAttributes(name, attributes)) {
            return [this] { DoLog("#GetQueueAttributes: error"); };
          }
          std::vector<std::string> lines;
          for (int i = 0; i < attributes.Count(); ++i) {
            const brv::TbrvSQSAttribute* attribute = attributes.Items(i);
            lines.push_back("#Attribute: " + attribute->AttributeName() + " " +
                            attribute->AttributeValue());
          }
          return [this, lines] {
            for (const std::string& line : lines) DoLog(line);
          };
        });
}

void TFRMAmazonSQS::SetQueueAttributes() {
  StartOkOrError("SetQueueAttributes", [name = txtQueueName->text().toStdString(),
                                        timeout = txtVisibilityTimeout->text().toStdString()](
                                           brv::TbrvHTTPAWS_SQS_Client& Client) {
    brv::TbrvSQSAttributes attributes;
    attributes.AddSQSAttribute(brv::sqsatVisibilityTimeout, timeout);
    return Client.SetQueueAttributes(name, attributes);
  });
}

void TFRMAmazonSQS::DeleteQueue() {
  StartOkOrError("Delete Queue",
                 [name = txtQueueName->text().toStdString()](brv::TbrvHTTPAWS_SQS_Client& Client) {
                   return Client.DeleteQueue(name);
                 });
}

void TFRMAmazonSQS::SendMessage() {
  StartOkOrError(
      "SendMessage",
      [name = txtQueueName->text().toStdString(), body = txtMessageBody->text().toStdString()](
          brv::TbrvHTTPAWS_SQS_Client& Client) { return Client.SendMessage(name, body, 0); });
}

void TFRMAmazonSQS::ReceiveMessage() {
  Start("ReceiveMessage",
        [this, name = txtQueueName->text().toStdString()](
            brv::TbrvHTTPAWS_SQS_Client& Client) -> std::function<void()> {
          brv::TbrvSQSReceiveMessageResponses responses;
          std::vector<std::pair<std::string, std::string>> received;  // body, receipt handle
          if (Client.ReceiveMessage(name, responses)) {
            for (int i = 0; i < responses.Count(); ++i) {
              const brv::TbrvSQSReceiveMessageResponse* message = responses.Items(i);
              received.emplace_back(message->Body(), message->ReceiptHandle());
            }
          }
          return [this, received] {
            for (const auto& [body, handle] : received) {
              DoLog("#ReceiveMessage: " + body);
              txtReceiptHandle->setText(QString::fromStdString(handle));
            }
          };
        });
}

void TFRMAmazonSQS::DeleteMessage() {
  Start("DeleteMessage",
        [this, name = txtQueueName->text().toStdString(),
         handle = txtReceiptHandle->text().toStdString()](
            brv::TbrvHTTPAWS_SQS_Client& Client) -> std::function<void()> {
          const bool ok = Client.DeleteMessage(name, handle);
          return [this, ok] {
            if (ok) {
              DoLog("#DeleteMessage: ok");
              txtReceiptHandle->clear();
            } else {
              DoLog("#DeleteMessage: error");
            }
          };
        });
}

void TFRMAmazonSQS::PurgueQueue() {
  StartOkOrError("PurgueQueue",
                 [name = txtQueueName->text().toStdString()](brv::TbrvHTTPAWS_SQS_Client& Client) {
                   return Client.PurgueQueue(name);
                 });
}

void TFRMAmazonSQS::StartOkOrError(const std::string& Name,
                                   std::function<bool(brv::TbrvHTTPAWS_SQS_Client& SQS)> Call) {
  Start(Name,
        [this, Name,
         Call = std::move(Call)](brv::TbrvHTTPAWS_SQS_Client& Client) -> std::function<void()> {
          const bool ok = Call(Client);
          return [this, line = "#" + Name + (ok ? ": ok" : ": error")] { DoLog(line); };
        });
}
