// The queue browser's messages pane: peeking at the selected queue's messages, a message's
// details, deleting and moving messages, and the service's dead-letter redrive.
#include <algorithm>
#include <memory>
#include <utility>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/ExceptionGuard.h"
#include "app/FQueueBrowser.h"
#include "app/OperationRunner.h"
#include "sqs/brvSQSMessageTools.h"
#include "sqs/brvSQSRecords.h"

namespace {

constexpr int kDefaultPeek = 50;
constexpr int kRedrivePollMs = 1000;

// The received message a row was made from, as the library's move takes it.
std::unique_ptr<brv::TbrvSQSReceiveMessageResponse> MessageFromRow(const TMessageRow& Row) {
  auto message = std::make_unique<brv::TbrvSQSReceiveMessageResponse>();
  message->SetMessageId(Row.Id.toStdString());
  message->SetReceiptHandle(Row.ReceiptHandle.toStdString());
  message->SetBody(Row.Body.toStdString());
  for (const auto& [name, value] : Row.SystemAttributes) {
    message->Attributes().AddSQSAttribute(name.toStdString(), value.toStdString());
  }
  for (const auto& a : Row.MessageAttributes) {
    message->MessageAttributes().AddSQSAttribute(a[0].toStdString(), a[1].toStdString(),
                                                 a[2].toStdString());
  }
  return message;
}

// "CODE: MESSAGE" of each failed batch entry, one a line.
QString FailureText(const brv::TbrvSQSBatchResult& Result) {
  QStringList lines;
  for (int i = 0; i < Result.Failed().Count(); ++i) {
    const brv::TbrvSQSBatchResultErrorEntry* e = Result.Failed().Items(i);
    lines << QString::fromStdString(e->Code() + ": " + e->Message());
  }
  return lines.join('\n');
}

}  // namespace

// --- the pane ---

QWidget* TFRMQueueBrowser::CreateMessageControls() {
  AskSaveFileName = [](QWidget* Parent) {
    return QFileDialog::getSaveFileName(Parent, QStringLiteral("Save Message Body"));
  };
  grpMessages = new QGroupBox(QStringLiteral("Messages"), this);
  grpMessages->setObjectName(QStringLiteral("grpMessages"));
  auto* layout = new QVBoxLayout(grpMessages);

  lblPeekWarning = new QLabel(
      QStringLiteral("Peeking is a receive: it raises each message's receive count and can push "
                     "a message to the queue's dead-letter queue."),
      grpMessages);
  lblPeekWarning->setObjectName(QStringLiteral("lblPeekWarning"));
  lblPeekWarning->setWordWrap(true);
  lblPeekWarning->setStyleSheet(
      QStringLiteral("background: #fff4c2; color: #5a4500; padding: 4px"));
  layout->addWidget(lblPeekWarning);

  auto* bar = new QHBoxLayout();
  spnPeekMax = new QSpinBox(grpMessages);
  spnPeekMax->setObjectName(QStringLiteral("spnPeekMax"));
  spnPeekMax->setRange(1, 10000);
  spnPeekMax->setValue(kDefaultPeek);
  btnPeek = new QPushButton(QStringLiteral("Peek"), grpMessages);
  btnPeek->setObjectName(QStringLiteral("btnPeek"));
  btnDeleteMessages = new QPushButton(QStringLiteral("Delete Messages..."), grpMessages);
  btnDeleteMessages->setObjectName(QStringLiteral("btnDeleteMessages"));
  cmbMoveTarget = new QComboBox(grpMessages);
  cmbMoveTarget->setObjectName(QStringLiteral("cmbMoveTarget"));
  cmbMoveTarget->setEditable(true);
  cmbMoveTarget->setMinimumContentsLength(16);
  btnMoveSelected = new QPushButton(QStringLiteral("Move Selected..."), grpMessages);
  btnMoveSelected->setObjectName(QStringLiteral("btnMoveSelected"));
  btnMoveAll = new QPushButton(QStringLiteral("Move All..."), grpMessages);
  btnMoveAll->setObjectName(QStringLiteral("btnMoveAll"));
  btnCancelMove = new QPushButton(QStringLiteral("Cancel"), grpMessages);
  btnCancelMove->setObjectName(QStringLiteral("btnCancelMove"));
  btnCancelMove->setEnabled(false);
  btnRedrive = new QPushButton(QStringLiteral("Redrive..."), grpMessages);
  btnRedrive->setObjectName(QStringLiteral("btnRedrive"));
  btnRedrive->setToolTip(
      QStringLiteral("The service moves this dead-letter queue's messages back to their sources"));
  bar->addWidget(new QLabel(QStringLiteral("Up to"), grpMessages));
  bar->addWidget(spnPeekMax);
  bar->addWidget(btnPeek);
  bar->addWidget(btnDeleteMessages);
  bar->addStretch();
  bar->addWidget(new QLabel(QStringLiteral("Move to"), grpMessages));
  bar->addWidget(cmbMoveTarget);
  bar->addWidget(btnMoveSelected);
  bar->addWidget(btnMoveAll);
  bar->addWidget(btnCancelMove);
  bar->addWidget(btnRedrive);
  layout->addLayout(bar);

  lblMessageStatus = new QLabel(grpMessages);
  lblMessageStatus->setObjectName(QStringLiteral("lblMessageStatus"));
  lblMessageStatus->setTextFormat(Qt::PlainText);
  lblMessageStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(lblMessageStatus);

  messages_ = new TMessageTableModel(this);
  tblMessages = new QTableView(grpMessages);
  tblMessages->setObjectName(QStringLiteral("tblMessages"));
  tblMessages->setModel(messages_);
  tblMessages->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblMessages->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tblMessages->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblMessages->verticalHeader()->hide();
  tblMessages->horizontalHeader()->setStretchLastSection(true);
  tblMessages->setColumnWidth(TMessageTableModel::colId, 270);
  tblMessages->setColumnWidth(TMessageTableModel::colSent, 150);
  tblMessages->setColumnWidth(TMessageTableModel::colReceiveCount, 70);
  tblMessages->setColumnWidth(TMessageTableModel::colSize, 60);
  tblMessages->setWordWrap(false);

  tabDetails = new QTabWidget(grpMessages);
  tabDetails->setObjectName(QStringLiteral("tabDetails"));
  txtMessageBody = new QPlainTextEdit(tabDetails);
  txtMessageBody->setObjectName(QStringLiteral("txtMessageBody"));
  txtMessageBody->setReadOnly(true);
  txtMessageRaw = new QPlainTextEdit(tabDetails);
  txtMessageRaw->setObjectName(QStringLiteral("txtMessageRaw"));
  txtMessageRaw->setReadOnly(true);
  tblMessageAttributes = new QTableWidget(0, 4, tabDetails);
  tblMessageAttributes->setObjectName(QStringLiteral("tblMessageAttributes"));
  tblMessageAttributes->setHorizontalHeaderLabels({QStringLiteral("Kind"), QStringLiteral("Name"),
                                                   QStringLiteral("Type"),
                                                   QStringLiteral("Value")});
  tblMessageAttributes->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblMessageAttributes->verticalHeader()->hide();
  tblMessageAttributes->horizontalHeader()->setStretchLastSection(true);
  tabDetails->addTab(txtMessageBody, QStringLiteral("Body"));
  tabDetails->addTab(txtMessageRaw, QStringLiteral("Raw"));
  tabDetails->addTab(tblMessageAttributes, QStringLiteral("Attributes"));
  auto* details = new QWidget(grpMessages);
  auto* detailsLayout = new QVBoxLayout(details);
  detailsLayout->setContentsMargins(0, 0, 0, 0);
  detailsLayout->addWidget(tabDetails);
  auto* detailButtons = new QHBoxLayout();
  btnCopyBody = new QPushButton(QStringLiteral("Copy Body"), details);
  btnCopyBody->setObjectName(QStringLiteral("btnCopyBody"));
  btnSaveBody = new QPushButton(QStringLiteral("Save Body..."), details);
  btnSaveBody->setObjectName(QStringLiteral("btnSaveBody"));
  detailButtons->addWidget(btnCopyBody);
  detailButtons->addWidget(btnSaveBody);
  detailButtons->addStretch();
  detailsLayout->addLayout(detailButtons);

  auto* row = new QHBoxLayout();
  row->addWidget(tblMessages, 3);
  row->addWidget(details, 2);
  layout->addLayout(row, 1);

  auto guarded = [this](void (TFRMQueueBrowser::*Action)()) {
    return [this, Action] { RunGuarded(this, [&] { (this->*Action)(); }); };
  };
  connect(btnPeek, &QPushButton::clicked, this, guarded(&TFRMQueueBrowser::PeekMessages));
  connect(btnDeleteMessages, &QPushButton::clicked, this,
          guarded(&TFRMQueueBrowser::DeleteMessages));
  connect(btnMoveSelected, &QPushButton::clicked, this,
          guarded(&TFRMQueueBrowser::MoveSelectedMessages));
  connect(btnMoveAll, &QPushButton::clicked, this, guarded(&TFRMQueueBrowser::MoveAllMessages));
  connect(btnRedrive, &QPushButton::clicked, this, guarded(&TFRMQueueBrowser::RedriveMessages));
  connect(btnCopyBody, &QPushButton::clicked, this, guarded(&TFRMQueueBrowser::CopyMessageBody));
  connect(btnSaveBody, &QPushButton::clicked, this, guarded(&TFRMQueueBrowser::SaveMessageBody));
  connect(btnCancelMove, &QPushButton::clicked, this, [this] {
    if (moveCancelled_) *moveCancelled_ = true;
    lblMessageStatus->setText(QStringLiteral("Cancelling after the current batch..."));
  });
  auto* del = new QShortcut(QKeySequence::Delete, tblMessages);
  del->setContext(Qt::WidgetShortcut);
  connect(del, &QShortcut::activated, this, guarded(&TFRMQueueBrowser::DeleteMessages));
  connect(tblMessages->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    const std::vector<int> rows = SelectedMessageRows();
    btnDeleteMessages->setEnabled(!rows.empty());
    btnMoveSelected->setEnabled(!rows.empty());
    txtMessageBody->clear();
    txtMessageRaw->clear();
    tblMessageAttributes->setRowCount(0);
    if (rows.size() != 1) return;
    const TMessageRow& m = messages_->Row(rows.front());
    const QString raw = QString::fromUtf8(m.Body);
    txtMessageRaw->setPlainText(raw);
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(m.Body, &error);
    txtMessageBody->setPlainText(error.error == QJsonParseError::NoError && !json.isNull()
                                     ? QString::fromUtf8(json.toJson(QJsonDocument::Indented))
                                     : raw);
    auto add = [this](const QString& Kind, const QString& Name, const QString& Type,
                      const QString& Value) {
      const int r = tblMessageAttributes->rowCount();
      tblMessageAttributes->insertRow(r);
      const QString cells[] = {Kind, Name, Type, Value};
      for (int c = 0; c < 4; ++c) {
        tblMessageAttributes->setItem(r, c, new QTableWidgetItem(cells[c]));
      }
    };
    for (const auto& [name, value] : m.SystemAttributes) {
      add(QStringLiteral("System"), name, QString(), value);
    }
    for (const auto& a : m.MessageAttributes) add(QStringLiteral("Message"), a[0], a[1], a[2]);
  });
  redrivePoll_ = new QTimer(this);
  redrivePoll_->setInterval(kRedrivePollMs);
  redrivePoll_->setSingleShot(true);
  return grpMessages;
}

void TFRMQueueBrowser::MessageSelectionChanged() {
  const QString name = SelectedQueue();
  if (name != messagesQueue_) {
    messages_->SetMessages({});
    messagesQueue_.clear();
  }
  const bool any = !name.isEmpty();
  btnPeek->setEnabled(any);
  btnMoveAll->setEnabled(any);
  btnRedrive->setEnabled(any);
  btnDeleteMessages->setEnabled(!SelectedMessageRows().empty());
  btnMoveSelected->setEnabled(!SelectedMessageRows().empty());
  // Any other listed queue can be a target.
  const QString target = cmbMoveTarget->currentText();
  cmbMoveTarget->clear();
  for (int r = 0; r < model_->rowCount(); ++r) {
    if (model_->Row(r).Name != name) cmbMoveTarget->addItem(model_->Row(r).Name);
  }
  if (!target.isEmpty() && target != name) cmbMoveTarget->setCurrentText(target);
}

std::vector<int> TFRMQueueBrowser::SelectedMessageRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : tblMessages->selectionModel()->selectedRows()) {
    rows.push_back(index.row());
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TFRMQueueBrowser::PeekMessages() {
  const QString name = SelectedQueue();
  if (name.isEmpty()) return;
  ShowError(QString());
  lblMessageStatus->setText(QStringLiteral("Peeking..."));
  const int max = spnPeekMax->value();
  Start([this, name, max](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    brv::TbrvSQSPeekOptions options;
    options.MaxMessages = max;
    brv::TbrvSQSReceiveMessageResponses received;
    const bool ok = brv::PeekMessages(Client, name.toStdString(), options, received);
    std::vector<TMessageRow> rows = TakeRows(received);
    return [this, name, ok, rows = std::move(rows)]() mutable {
      const int n = static_cast<int>(rows.size());
      messagesQueue_ = name;
      messages_->SetMessages(std::move(rows));
      lblMessageStatus->setText(
          ok ? QStringLiteral("%1 messages listed.").arg(n)
             : QStringLiteral("%1 messages listed; not every one could be made visible again "
                              "(they are when their visibility time-out ends).")
                   .arg(n));
      FetchCountsInView();
    };
  });
}

void TFRMQueueBrowser::DeleteMessages() {
  const std::vector<int> rows = SelectedMessageRows();
  if (rows.empty() || messagesQueue_.isEmpty()) return;
  if (!Confirm(this, QStringLiteral("Delete %1 messages from queue \"%2\" for good?")
                         .arg(rows.size())
                         .arg(messagesQueue_))) {
    return;
  }
  // Entry ids are the positions; the message ids come back through them.
  auto items = std::make_shared<brv::TbrvSQSDeleteMessageBatchRequestItems>();
  QStringList ids;
  for (int r : rows) {
    const TMessageRow& m = messages_->Row(r);
    items->AddSQSDeleteMessage("m" + std::to_string(ids.size()), m.ReceiptHandle.toStdString());
    ids << m.Id;
  }
  ShowError(QString());
  Start([this, name = messagesQueue_.toStdString(), items,
         ids](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    brv::TbrvSQSBatchResult result;
    Client.DeleteMessageBatch(name, *items, result);
    QStringList deleted;
    for (int i = 0; i < result.Successful().Count(); ++i) {
      const int n = QString::fromStdString(result.Successful()[i]).mid(1).toInt();
      if (n >= 0 && n < ids.size()) deleted << ids[n];
    }
    return [this, deleted, total = ids.size(), failures = FailureText(result)] {
      messages_->Remove(deleted);
      QString text = QStringLiteral("%1 of %2 messages deleted.").arg(deleted.size()).arg(total);
      if (!failures.isEmpty()) text += '\n' + failures;
      lblMessageStatus->setText(text);
      FetchCountsInView();
    };
  });
}

void TFRMQueueBrowser::MoveSelectedMessages() {
  const std::vector<int> rows = SelectedMessageRows();
  const QString target = cmbMoveTarget->currentText().trimmed();
  if (rows.empty() || messagesQueue_.isEmpty() || target.isEmpty()) return;
  if (target == messagesQueue_) {
    ShowError(QStringLiteral("The target is the queue the messages are in."));
    return;
  }
  if (!Confirm(this, QStringLiteral("Move %1 messages from queue \"%2\" to queue \"%3\"?")
                         .arg(rows.size())
                         .arg(messagesQueue_, target))) {
    return;
  }
  auto selected = std::make_shared<std::vector<TMessageRow>>();
  for (int r : rows) selected->push_back(messages_->Row(r));
  ShowError(QString());
  lblMessageStatus->setText(QStringLiteral("Moving..."));
  Start([this, source = messagesQueue_.toStdString(), target = target.toStdString(),
         selected](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    // Sent first; deleted from the source only when its send succeeded, so a message is
    // always in one queue or both.
    const bool fifo = brv::IsFifoQueueName(target);
    brv::TbrvSQSSendMessageRequests requests;
    for (std::size_t i = 0; i < selected->size(); ++i) {
      auto message = MessageFromRow((*selected)[i]);
      auto request = brv::MessageToSend(*message, fifo, fifo ? "browser" : std::string());
      request->SetID("m" + std::to_string(i));
      requests.AdoptItem(std::move(request));
    }
    brv::TbrvSQSBatchResult sent;
    brv::SendMessagesInBatches(Client, target, requests, sent);
    brv::TbrvSQSDeleteMessageBatchRequestItems items;
    for (int i = 0; i < sent.Successful().Count(); ++i) {
      const std::string& id = sent.Successful()[i];
      const int n = std::stoi(id.substr(1));
      items.AddSQSDeleteMessage(
          id, (*selected)[static_cast<std::size_t>(n)].ReceiptHandle.toStdString());
    }
    brv::TbrvSQSBatchResult deleted;
    if (items.Count() > 0) Client.DeleteMessageBatch(source, items, deleted);
    QStringList moved;
    for (int i = 0; i < deleted.Successful().Count(); ++i) {
      moved
          << (*selected)[static_cast<std::size_t>(std::stoi(deleted.Successful()[i].substr(1)))].Id;
    }
    QString failures = FailureText(sent);
    const QString deleteFailures = FailureText(deleted);
    if (!deleteFailures.isEmpty()) {
      failures += QStringLiteral("\nSent but not deleted (now in both queues):\n") + deleteFailures;
    }
    return [this, moved, total = selected->size(), failures] {
      messages_->Remove(moved);
      QString text = QStringLiteral("%1 of %2 messages moved.").arg(moved.size()).arg(total);
      if (!failures.trimmed().isEmpty()) text += '\n' + failures.trimmed();
      lblMessageStatus->setText(text);
      FetchCountsInView();
    };
  });
}

void TFRMQueueBrowser::MoveAllMessages() {
  const QString source = SelectedQueue();
  const QString target = cmbMoveTarget->currentText().trimmed();
  if (source.isEmpty() || target.isEmpty()) return;
  if (target == source) {
    ShowError(QStringLiteral("The target is the queue the messages are in."));
    return;
  }
  if (!Confirm(this, QStringLiteral("Move every message of queue \"%1\" to queue \"%2\"?")
                         .arg(source, target))) {
    return;
  }
  moveCancelled_ = std::make_shared<std::atomic<bool>>(false);
  btnCancelMove->setEnabled(true);
  ShowError(QString());
  lblMessageStatus->setText(QStringLiteral("Moving..."));
  Start([this, source = source.toStdString(), target = target.toStdString(),
         cancelled = moveCancelled_](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    brv::TbrvSQSMoveOptions options;
    if (brv::IsFifoQueueName(target) && !brv::IsFifoQueueName(source)) {
      options.MessageGroupId = "browser";
    }
    options.Cancelled = [cancelled] { return cancelled->load(); };
    options.OnProgress = [this](const brv::TbrvSQSMoveProgress& P) {
      runner_->Post([this, P] {
        lblMessageStatus->setText(
            QStringLiteral("Moving: %1 received, %2 moved").arg(P.Received).arg(P.Moved));
      });
    };
    brv::TbrvSQSMoveResult result;
    brv::MoveMessages(Client, source, target, options, result);
    QStringList failures;
    for (const std::string& f : result.Failures) failures << QString::fromStdString(f);
    return [this, result = result.Counts, failures, stopped = cancelled->load()] {
      btnCancelMove->setEnabled(false);
      QString text = QStringLiteral("%1 messages moved").arg(result.Moved);
      if (result.SendFailed > 0) {
        text += QStringLiteral(", %1 not sent (left in the source)").arg(result.SendFailed);
      }
      if (result.DeleteFailed > 0) {
        text +=
            QStringLiteral(", %1 sent but not deleted (in both queues)").arg(result.DeleteFailed);
      }
      text += stopped ? QStringLiteral("; cancelled.") : QStringLiteral(".");
      if (!failures.isEmpty()) text += '\n' + failures.join('\n');
      lblMessageStatus->setText(text);
      messages_->SetMessages({});
      FetchCountsInView();
    };
  });
}

void TFRMQueueBrowser::RedriveMessages() {
  const QString name = SelectedQueue();
  if (name.isEmpty()) return;
  if (!Confirm(this, QStringLiteral("Move the messages of dead-letter queue \"%1\" back to the "
                                    "queues they came from?")
                         .arg(name))) {
    return;
  }
  ShowError(QString());
  Start([this, name = name.toStdString()](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    brv::TbrvSQSAttributes attributes;
    if (!Client.GetQueueAttributes(name, attributes)) return {};
    const brv::TbrvSQSAttribute* arn = attributes.Find("QueueArn");
    if (arn == nullptr) return {};
    std::string handle;
    if (!Client.StartMessageMoveTask(arn->AttributeValue(), "", 0, handle)) return {};
    return [this, source = arn->AttributeValue()] {
      lblMessageStatus->setText(QStringLiteral("Redrive started."));
      PollRedrive(source);
    };
  });
}

void TFRMQueueBrowser::PollRedrive(const std::string& SourceArn) {
  Start([this, SourceArn](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    brv::TbrvSQSMessageMoveTasks tasks;
    if (!Client.ListMessageMoveTasks(SourceArn, 1, tasks) || tasks.Count() == 0) return {};
    const brv::TbrvSQSMessageMoveTask& task = *tasks.Items(0);
    QString text = QStringLiteral("Redrive %1: %2 moved")
                       .arg(QString::fromStdString(task.Status))
                       .arg(task.ApproximateNumberOfMessagesMoved);
    if (task.ApproximateNumberOfMessagesToMove >= 0) {
      text += QStringLiteral(" of %1").arg(task.ApproximateNumberOfMessagesToMove);
    }
    if (!task.FailureReason.empty()) text += ": " + QString::fromStdString(task.FailureReason);
    const bool running = task.Status == "RUNNING" || task.Status == "CANCELLING";
    return [this, text, running, SourceArn] {
      lblMessageStatus->setText(text);
      FetchCountsInView();
      if (!running || !isVisible()) return;
      redrivePoll_->disconnect();
      connect(redrivePoll_, &QTimer::timeout, this, [this, SourceArn] { PollRedrive(SourceArn); });
      redrivePoll_->start();
    };
  });
}

void TFRMQueueBrowser::CopyMessageBody() {
  const std::vector<int> rows = SelectedMessageRows();
  if (rows.size() != 1) return;
  QApplication::clipboard()->setText(QString::fromUtf8(messages_->Row(rows.front()).Body));
}

void TFRMQueueBrowser::SaveMessageBody() {
  const std::vector<int> rows = SelectedMessageRows();
  if (rows.size() != 1) return;
  const QString path = AskSaveFileName(this);
  if (path.isEmpty()) return;
  QFile file(path);
  const QByteArray& body = messages_->Row(rows.front()).Body;
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(body) != body.size() ||
      !file.flush()) {
    ShowError(QStringLiteral("Could not save to %1: %2").arg(path, file.errorString()));
  }
}
