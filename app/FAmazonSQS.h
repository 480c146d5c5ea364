// The program's window: credentials, a queue name, a few values, nine operation buttons and a
// log pane, over one SQS client component.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include <QWidget>

#include "aws/brvAWSCredentials.h"
#include "sqs/brvHTTP.h"

class QAction;
class QCheckBox;
class QFrame;
class QMenuBar;
class QThread;
class TFRMQueueBrowser;
class TOperationRunner;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The main window. Every button copies the credentials into the SQS component, calls one SQS
// operation with the values of the fields at that moment, and appends a result line to the
// log pane; service errors reach the log through the component's error event. An exception
// from below ends the click without a log line and is shown by the exception guard.
//
// The calls run on a worker thread, one at a time in click order, so that the window keeps
// repainting and taking input while the network is slow. While one runs the nine buttons are
// disabled and the cursor shows busy; Cancel (beside the status line, or Escape) ends it at
// once and logs that it was cancelled. Closing the window cancels it too.
//
// The controls are children of the window (Qt's parent-child tree owns and frees them); the
// member pointers are non-owning names for them, public so that callers and tests can reach
// every control by its name.
class TFRMAmazonSQS : public QWidget {
 public:
  explicit TFRMAmazonSQS(QWidget* Parent = nullptr);
  ~TFRMAmazonSQS() override;

  // Members in declaration order.
  QFrame* pnlTop = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* txtRegion = nullptr;
  QLineEdit* txtAccessKey = nullptr;
  QLineEdit* txtSecretKey = nullptr;
  QFrame* pnlSQS = nullptr;
  QPushButton* btnCreateQueue = nullptr;
  QPushButton* btnDeleteQueue = nullptr;
  QPlainTextEdit* memoLog = nullptr;
  // The SQS client, owned by the window: log file off, OnSQSError bound to SQSSQSError, every
  // other setting at its default; the credentials are filled before each operation.
  std::unique_ptr<brv::TbrvHTTPAWS_SQS_Client> SQS;
  QLineEdit* txtQueueName = nullptr;
  QLabel* Label4 = nullptr;
  QPushButton* btnGetQueueAttributes = nullptr;
  QLineEdit* txtVisibilityTimeout = nullptr;
  QLabel* Label5 = nullptr;
  QPushButton* btnSetQueueAttributes = nullptr;
  QPushButton* btnListQueues = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* txtMessageBody = nullptr;
  QPushButton* btnSendMessage = nullptr;
  QPushButton* btnReceiveMessage = nullptr;
  QLineEdit* txtReceiptHandle = nullptr;
  QLabel* Label7 = nullptr;
  QPushButton* btnDeleteMessage = nullptr;
  QPushButton* btnPurgueQueue = nullptr;
  // A check box beside the secret key that shows its text (the field shows dots otherwise),
  // and a status line under the log naming the endpoint in use and where the credentials came
  // from, never the keys.
  QCheckBox* chkShowSecret = nullptr;
  QLabel* lblStatus = nullptr;
  // A menu bar above the fixed-layout controls, which stand in the client area below it at
  // their fixed positions; Cancel at the right end of the status line.
  QMenuBar* mnuMain = nullptr;
  QAction* actQueueBrowser = nullptr;
  QAction* actAbout = nullptr;
  QWidget* pnlClient = nullptr;
  QPushButton* btnCancel = nullptr;
  // Finds the endpoint and trusted roots, and the credentials when both key fields are empty,
  // in the environment and the shared AWS files (profile, credential_process) of this process.
  std::unique_ptr<brv::TbrvAWSConfigResolver> ConfigResolver;

  // Click handlers: each calls the window method of the same operation. The window connects
  // them through the exception guard.
  void btnListQueuesClick(QObject* Sender);
  void btnCreateQueueClick(QObject* Sender);
  void btnGetQueueAttributesClick(QObject* Sender);
  void btnSetQueueAttributesClick(QObject* Sender);
  void btnDeleteQueueClick(QObject* Sender);
  void btnSendMessageClick(QObject* Sender);
  void btnReceiveMessageClick(QObject* Sender);
  void btnDeleteMessageClick(QObject* Sender);
  void btnPurgueQueueClick(QObject* Sender);

  // The nine operations. Exceptions of the SQS component pass through them.
  // "#ListQueues: " + every queue URL, each followed by a line break; "#ListQueues: error".
  void ListQueues();
  // "#CreateQueue: " + the new queue's URL; nothing when none came back.
  void CreateQueue();
  // "#Attribute: " + name + " " + value for each attribute; "#GetQueueAttributes: error".
  void GetQueueAttributes();
  // Sets VisibilityTimeout to the text of txtVisibilityTimeout: "#SetQueueAttributes: ok" or
  // "#SetQueueAttributes: error".
  void SetQueueAttributes();
  // "#Delete Queue: ok" or "#Delete Queue: error".
  void DeleteQueue();
  // Sends txtMessageBody without delay: "#SendMessage: ok" or "#SendMessage: error".
  void SendMessage();
  // At most one message: "#ReceiveMessage: " + its body, and its receipt handle into
  // txtReceiptHandle; nothing at all when no message came or the request failed.
  void ReceiveMessage();
  // Deletes the message of txtReceiptHandle: "#DeleteMessage: ok" and the field emptied, or
  // "#DeleteMessage: error" and the field kept.
  void DeleteMessage();
  // "#PurgueQueue: ok" or "#PurgueQueue: error".
  void PurgueQueue();

  // A length in pixels at 96 dpi, in pixels at the screen's logical dpi.
  int Scaled(int DesignPixels) const;

  // True from the click until the operation's result is in the log.
  bool Busy() const;
  // Cancels the operation in progress (and any still waiting); it logs "#<operation>:
  // cancelled".
  void Cancel();
  // The thread the operations run on.
  QThread* OperationThread() const;
  // The region and the keys as they are typed now.
  brv::TbrvAWSConfigRequest TypedCredentials() const;
  // Shows the queue browser (View -> Queue Browser), made on first use, and returns it.
  TFRMQueueBrowser* ShowQueueBrowser();

 protected:
  void resizeEvent(QResizeEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

 private:
  // The work of one operation on the worker thread: calls the client and returns what the UI
  // thread then does with the result (log lines, fields).
  using TOperation = std::function<std::function<void()>(brv::TbrvHTTPAWS_SQS_Client& SQS)>;
  // Starts Operation behind those already started, with the credentials as typed now. Name is
  // the operation's name in the log.
  void Start(const std::string& Name, TOperation Operation);
  // Starts Call as an operation whose log line is "#<Name>: ok" or "#<Name>: error".
  void StartOkOrError(const std::string& Name,
                      std::function<bool(brv::TbrvHTTPAWS_SQS_Client& SQS)> Call);
  // On the worker: copies region, access key and secret key (as typed at the click) into
  // SQS.AWSOptions; when both key fields are empty the resolver's credentials are used
  // instead. The endpoint and the trusted roots come from the resolver too, and the status
  // line shows what is in use.
  void ApplyCredentials(const brv::TbrvAWSConfigRequest& Typed);
  // Enables or disables the nine buttons and Cancel, and sets the cursor.
  void ShowBusy(bool Busy);
  // Appends Text as one line at the end of the log pane (line breaks in it start new lines).
  void DoLog(const std::string& Text);
  // OnSQSError of SQS: logs "#Error: " + code + " " + description.
  void SQSSQSError(brv::TObject* Sender, const std::string& Error_Code,
                   const std::string& Error_Description, const std::string& RawError);

  // Runs Handler for clicks on Button, through the exception guard.
  void ConnectClick(QPushButton* Button, void (TFRMAmazonSQS::*Handler)(QObject*));
  void CreateMenu();
  void CreateControls();
  void SetTabOrder();
  void AlignControls();
  void CentreOnScreen();

  double scale_ = 1.0;
  TFRMQueueBrowser* browser_ = nullptr;  // a child window, owned by this one
  // Declared last: destroyed first, so the worker has ended before the client goes.
  std::unique_ptr<TOperationRunner> runner_;
};

// The program's one window while the program runs (non-owning; null before and after).
extern TFRMAmazonSQS* FRMAmazonSQS;
