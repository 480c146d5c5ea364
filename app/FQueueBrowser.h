// The queue browser: a second window listing every queue with its counts, the dead-letter
// queues' sources, sending a message, purging and deleting a queue. Every library call runs on
// the browser's own worker thread with its own SQS client; the credentials are those typed in
// the main window at the moment of the call.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QWidget>

#include "app/QueueBrowserModels.h"

#include "aws/brvAWSCredentials.h"
#include "sqs/brvHTTP.h"

class QCheckBox;
class QComboBox;
class QTabWidget;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSortFilterProxyModel;
class QSpinBox;
class QTableView;
class QTableWidget;
class QTimer;
class TFRMAmazonSQS;
class TOperationRunner;

class TFRMQueueBrowser : public QWidget {
 public:
  // Owner supplies the region and the keys; the browser is a window of its own over it.
  explicit TFRMQueueBrowser(TFRMAmazonSQS& Owner);
  ~TFRMQueueBrowser() override;

  QLineEdit* txtFilter = nullptr;
  QPushButton* btnRefresh = nullptr;
  QCheckBox* chkAutoRefresh = nullptr;
  QTableView* tblQueues = nullptr;
  QLabel* lblError = nullptr;         // the last service error, or empty
  QListWidget* lstSources = nullptr;  // the queues whose dead-letter queue is the selected one
  QPlainTextEdit* txtBody = nullptr;
  QSpinBox* spnDelay = nullptr;
  // Message attributes: name, type (String, Number or Binary, with an optional ".suffix"),
  // value (base64 for Binary); rows with an empty name are left out.
  QTableWidget* tblAttributes = nullptr;
  QLineEdit* txtGroupId = nullptr;          // FIFO queues only
  QLineEdit* txtDeduplicationId = nullptr;  // FIFO queues only
  QPushButton* btnSend = nullptr;
  QPushButton* btnPurge = nullptr;
  QPushButton* btnDeleteQueue = nullptr;
  QLabel* lblSent = nullptr;  // the id of the message sent last
  // The selected queue's messages: peeked, inspected, deleted, moved, redriven.
  QGroupBox* grpMessages = nullptr;
  QLabel* lblPeekWarning = nullptr;
  QSpinBox* spnPeekMax = nullptr;
  QPushButton* btnPeek = nullptr;
  QTableView* tblMessages = nullptr;
  QTabWidget* tabDetails = nullptr;
  QPlainTextEdit* txtMessageBody = nullptr;  // pretty-printed when the body is JSON
  QPlainTextEdit* txtMessageRaw = nullptr;
  QTableWidget* tblMessageAttributes = nullptr;  // kind, name, type, value
  QPushButton* btnCopyBody = nullptr;
  QPushButton* btnSaveBody = nullptr;
  QPushButton* btnDeleteMessages = nullptr;
  QComboBox* cmbMoveTarget = nullptr;
  QPushButton* btnMoveSelected = nullptr;
  QPushButton* btnMoveAll = nullptr;
  QPushButton* btnCancelMove = nullptr;
  QPushButton* btnRedrive = nullptr;
  QLabel* lblMessageStatus = nullptr;  // progress and outcome of the last message action

  TMessageTableModel* Messages() const { return messages_; }

  TQueueTableModel* Model() const { return model_; }
  QSortFilterProxyModel* Proxy() const { return proxy_; }
  // The client the browser's calls use (tests reach its settings).
  brv::TbrvHTTPAWS_SQS_Client& SQS() { return *sqs_; }

  // Asks Question and returns the answer; by default a question box with Yes and No.
  std::function<bool(QWidget* Parent, const QString& Question)> Confirm;
  // Asks where to save a file; by default a file dialog. Empty: not saved.
  std::function<QString(QWidget* Parent)> AskSaveFileName;

  // Lists the queues again (F5), then fetches the counts of the rows in view.
  void Refresh();
  // The selected queue's name, or empty.
  QString SelectedQueue() const;
  // Sends the message of the form to the selected queue.
  void SendMessage();
  // Purges or deletes the selected queue after confirmation.
  void PurgeQueue();
  void DeleteQueue();
  // Peeks at up to spnPeekMax messages of the selected queue (a receive: see the banner).
  void PeekMessages();
  // Deletes the selected messages after confirmation.
  void DeleteMessages();
  // Moves the selected messages, or every message of the queue, to cmbMoveTarget's queue
  // after confirmation.
  void MoveSelectedMessages();
  void MoveAllMessages();
  // Asks the service to move the selected dead-letter queue's messages back to their sources.
  void RedriveMessages();
  // Copies the selected message's body to the clipboard, or saves it to a file.
  void CopyMessageBody();
  void SaveMessageBody();
  // True while calls started from the browser have not ended.
  bool Busy() const;
  // Cancels the browser's calls (Escape; closing the browser does it too).
  void Cancel();

 protected:
  void closeEvent(QCloseEvent* Event) override;

 private:
  using TDone = std::function<void()>;
  void Start(std::function<TDone(brv::TbrvHTTPAWS_SQS_Client& SQS)> Work);
  void ShowError(const QString& Text);
  // Asks Question about the selected queue (%1 its name, %2 its visible messages, "?" before
  // they are counted); on yes, runs Change on it and lists the queues again.
  void ChangeSelectedQueue(
      const QString& Question,
      std::function<bool(brv::TbrvHTTPAWS_SQS_Client& Client, const std::string& Name)> Change);
  // Fetches the attributes of the rows in view that have none yet.
  void FetchCountsInView();
  void SelectionChanged();
  void CreateControls();
  QWidget* CreateMessageControls();
  void MessageSelectionChanged();
  std::vector<int> SelectedMessageRows() const;
  void PollRedrive(const std::string& SourceArn);

  TFRMAmazonSQS& owner_;
  std::unique_ptr<brv::TbrvHTTPAWS_SQS_Client> sqs_;
  std::unique_ptr<brv::TbrvAWSConfigResolver> resolver_;
  TQueueTableModel* model_ = nullptr;
  QSortFilterProxyModel* proxy_ = nullptr;
  QTimer* autoRefresh_ = nullptr;
  std::vector<QString> requested_;  // URLs whose attributes are on their way
  TMessageTableModel* messages_ = nullptr;
  QString messagesQueue_;  // the queue the listed messages come from
  std::shared_ptr<std::atomic<bool>> moveCancelled_;
  QTimer* redrivePoll_ = nullptr;
  // Declared last: its worker ends before the client goes.
  std::unique_ptr<TOperationRunner> runner_;
};
