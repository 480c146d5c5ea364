#include "app/FQueueBrowser.h"

#include <algorithm>
#include <utility>

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/ExceptionGuard.h"
#include "app/FAmazonSQS.h"
#include "app/OperationRunner.h"
#include "base/StringList.h"
#include "sqs/brvSQSRecords.h"

namespace {

// How often the table is listed again when the user asks for it.
constexpr int kAutoRefreshMs = 10000;
// Rows of message attributes the form offers.
constexpr int kAttributeRows = 5;

}  // namespace

// --- the window ---

TFRMQueueBrowser::TFRMQueueBrowser(TFRMAmazonSQS& Owner)
    : QWidget(&Owner, Qt::Window), owner_(Owner) {
  setObjectName(QStringLiteral("FRMQueueBrowser"));
  setWindowTitle(QStringLiteral("Amazon SQS - Queue Browser"));
  Confirm = [](QWidget* Parent, const QString& Question) {
    return QMessageBox::question(Parent, Parent->windowTitle(), Question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  };
  resolver_ = std::make_unique<brv::TbrvAWSConfigResolver>(
      brv::TbrvAWSConfigResolver::ProcessEnvironment(), std::string());
  sqs_ = std::make_unique<brv::TbrvHTTPAWS_SQS_Client>();
  sqs_->LogFile().Enabled = false;
  sqs_->OnSQSError = [this](brv::TObject*, const std::string& Code, const std::string& Description,
                            const std::string&) {
    // Raised on the worker; shown in the browser, never in a modal box.
    const QString text = QString::fromStdString(Code + ": " + Description);
    runner_->Post([this, text] { ShowError(text); });
  };
  runner_ = std::make_unique<TOperationRunner>();
  runner_->OnBusyChanged = [this](bool Busy) {
    if (Busy) {
      setCursor(Qt::BusyCursor);
    } else {
      unsetCursor();
      if (btnCancelMove) btnCancelMove->setEnabled(false);
    }
  };
  CreateControls();
  resize(1000, 800);
}

TFRMQueueBrowser::~TFRMQueueBrowser() {
  runner_->Shutdown();
}

bool TFRMQueueBrowser::Busy() const {
  return runner_->Busy();
}

void TFRMQueueBrowser::Cancel() {
  runner_->Cancel();
}

void TFRMQueueBrowser::closeEvent(QCloseEvent* Event) {
  autoRefresh_->stop();
  chkAutoRefresh->setChecked(false);
  runner_->Cancel();
  QWidget::closeEvent(Event);
}

void TFRMQueueBrowser::CreateControls() {
  auto* top = new QHBoxLayout();
  txtFilter = new QLineEdit(this);
  txtFilter->setObjectName(QStringLiteral("txtFilter"));
  txtFilter->setPlaceholderText(QStringLiteral("Filter by name (Ctrl+F)"));
  txtFilter->setClearButtonEnabled(true);
  btnRefresh = new QPushButton(QStringLiteral("Refresh"), this);
  btnRefresh->setObjectName(QStringLiteral("btnRefresh"));
  chkAutoRefresh = new QCheckBox(QStringLiteral("Refresh every 10 s"), this);
  chkAutoRefresh->setObjectName(QStringLiteral("chkAutoRefresh"));
  top->addWidget(txtFilter, 1);
  top->addWidget(btnRefresh);
  top->addWidget(chkAutoRefresh);

  model_ = new TQueueTableModel(this);
  proxy_ = new QSortFilterProxyModel(this);
  proxy_->setSourceModel(model_);
  proxy_->setFilterKeyColumn(TQueueTableModel::colName);
  proxy_->setFilterCaseSensitivity(Qt::CaseInsensitive);
  proxy_->setSortRole(Qt::EditRole);
  tblQueues = new QTableView(this);
  tblQueues->setObjectName(QStringLiteral("tblQueues"));
  tblQueues->setModel(proxy_);
  tblQueues->setSortingEnabled(true);
  tblQueues->sortByColumn(TQueueTableModel::colName, Qt::AscendingOrder);
  tblQueues->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblQueues->setSelectionMode(QAbstractItemView::SingleSelection);
  tblQueues->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblQueues->verticalHeader()->hide();
  tblQueues->horizontalHeader()->setStretchLastSection(true);
  // Fixed widths: measuring the contents of thousands of rows would stall the listing.
  tblQueues->horizontalHeader()->setDefaultSectionSize(70);
  tblQueues->setColumnWidth(TQueueTableModel::colName, 140);
  tblQueues->setColumnWidth(TQueueTableModel::colDeadLetter, 100);

  lblError = new QLabel(this);
  lblError->setObjectName(QStringLiteral("lblError"));
  lblError->setTextFormat(Qt::PlainText);
  lblError->setWordWrap(true);
  lblError->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblError->setStyleSheet(QStringLiteral("color: #a00000"));

  // The selected queue: its dead-letter sources, a message to send, purge and delete.
  auto* side = new QWidget(this);
  auto* form = new QFormLayout(side);
  lstSources = new QListWidget(side);
  lstSources->setObjectName(QStringLiteral("lstSources"));
  lstSources->setMaximumHeight(80);
  form->addRow(QStringLiteral("Dead-letter sources"), lstSources);
  txtBody = new QPlainTextEdit(side);
  txtBody->setObjectName(QStringLiteral("txtBody"));
  form->addRow(QStringLiteral("Body"), txtBody);
  spnDelay = new QSpinBox(side);
  spnDelay->setObjectName(QStringLiteral("spnDelay"));
  spnDelay->setRange(0, 900);
  spnDelay->setSuffix(QStringLiteral(" s"));
  form->addRow(QStringLiteral("Delay"), spnDelay);
  tblAttributes = new QTableWidget(kAttributeRows, 3, side);
  tblAttributes->setObjectName(QStringLiteral("tblAttributes"));
  tblAttributes->setHorizontalHeaderLabels(
      {QStringLiteral("Attribute"), QStringLiteral("Type"), QStringLiteral("Value")});
  tblAttributes->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  tblAttributes->verticalHeader()->hide();
  form->addRow(QStringLiteral("Attributes"), tblAttributes);
  txtGroupId = new QLineEdit(side);
  txtGroupId->setObjectName(QStringLiteral("txtGroupId"));
  form->addRow(QStringLiteral("Group id"), txtGroupId);
  txtDeduplicationId = new QLineEdit(side);
  txtDeduplicationId->setObjectName(QStringLiteral("txtDeduplicationId"));
  form->addRow(QStringLiteral("Deduplication id"), txtDeduplicationId);
  auto* actions = new QHBoxLayout();
  btnSend = new QPushButton(QStringLiteral("Send"), side);
  btnSend->setObjectName(QStringLiteral("btnSend"));
  btnPurge = new QPushButton(QStringLiteral("Purge Queue..."), side);
  btnPurge->setObjectName(QStringLiteral("btnPurge"));
  btnDeleteQueue = new QPushButton(QStringLiteral("Delete Queue..."), side);
  btnDeleteQueue->setObjectName(QStringLiteral("btnDeleteQueue"));
  actions->addWidget(btnSend);
  actions->addWidget(btnPurge);
  actions->addWidget(btnDeleteQueue);
  form->addRow(actions);
  lblSent = new QLabel(side);
  lblSent->setObjectName(QStringLiteral("lblSent"));
  lblSent->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow(lblSent);

  CreateMessageControls();

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(tblQueues);
  splitter->addWidget(side);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  splitter->setSizes({700, 400});
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(lblError);
  layout->addWidget(splitter, 3);
  layout->addWidget(grpMessages, 2);

  auto guarded = [this](void (TFRMQueueBrowser::*Action)()) {
    return [this, Action] { RunGuarded(this, [&] { (this->*Action)(); }); };
  };
  connect(btnRefresh, &QPushButton::clicked, this, guarded(&TFRMQueueBrowser::Refresh));
  connect(btnSend, &QPushButton::clicked, this, guarded(&TFRMQueueBrowser::SendMessage));
  connect(btnPurge, &QPushButton::clicked, this, guarded(&TFRMQueueBrowser::PurgeQueue));
  connect(btnDeleteQueue, &QPushButton::clicked, this, guarded(&TFRMQueueBrowser::DeleteQueue));
  connect(txtFilter, &QLineEdit::textChanged, this, [this](const QString& Text) {
    proxy_->setFilterFixedString(Text);
    FetchCountsInView();
  });
  auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
  connect(f5, &QShortcut::activated, this, guarded(&TFRMQueueBrowser::Refresh));
  auto* del = new QShortcut(QKeySequence::Delete, tblQueues);
  del->setContext(Qt::WidgetShortcut);
  connect(del, &QShortcut::activated, this, guarded(&TFRMQueueBrowser::DeleteQueue));
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    txtFilter->setFocus();
    txtFilter->selectAll();
  });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { Cancel(); });
  autoRefresh_ = new QTimer(this);
  autoRefresh_->setInterval(kAutoRefreshMs);
  connect(autoRefresh_, &QTimer::timeout, this, [this] {
    if (!Busy()) RunGuarded(this, [this] { Refresh(); });
  });
  connect(chkAutoRefresh, &QCheckBox::toggled, this, [this](bool On) {
    if (On) {
      autoRefresh_->start();
    } else {
      autoRefresh_->stop();
    }
  });
  connect(tblQueues->verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this] { FetchCountsInView(); });
  connect(proxy_, &QAbstractItemModel::layoutChanged, this, [this] { FetchCountsInView(); });
  connect(tblQueues->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { SelectionChanged(); });
  SelectionChanged();
}

void TFRMQueueBrowser::Refresh() {
  ShowError(QString());
  Start([this](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    brv::TStringList queues;
    if (!Client.ListAllQueues(queues, "")) return {};
    std::vector<QString> urls;
    urls.reserve(static_cast<std::size_t>(queues.Count()));
    for (int i = 0; i < queues.Count(); ++i) urls.push_back(QString::fromStdString(queues[i]));
    return [this, urls = std::move(urls)] {
      const QString selected = SelectedQueue();
      requested_.clear();
      // Counts are fetched again for the rows in view.
      model_->SetQueues(urls);
      const int row = model_->RowOf(selected);
      if (row >= 0) {
        tblQueues->selectRow(proxy_->mapFromSource(model_->index(row, 0)).row());
      }
      FetchCountsInView();
    };
  });
}

void TFRMQueueBrowser::SelectionChanged() {
  const QString name = SelectedQueue();
  const int row = model_->RowOf(name);
  const bool fifo = row >= 0 && model_->Row(row).Fifo;
  for (QWidget* w : {static_cast<QWidget*>(btnSend), static_cast<QWidget*>(btnPurge),
                     static_cast<QWidget*>(btnDeleteQueue)}) {
    w->setEnabled(row >= 0);
  }
  txtGroupId->setEnabled(fifo);
  txtDeduplicationId->setEnabled(fifo);
  lstSources->clear();
  MessageSelectionChanged();
  if (row < 0) return;
  Start([this, name = name.toStdString()](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    brv::TStringList sources;
    if (!Client.ListDeadLetterSourceQueues(name, sources)) return {};
    QStringList names;
    for (int i = 0; i < sources.Count(); ++i) {
      names << NameOfURL(QString::fromStdString(sources[i]));
    }
    return [this, name, names] {
      if (SelectedQueue().toStdString() == name) lstSources->addItems(names);
    };
  });
}

void TFRMQueueBrowser::SendMessage() {
  const QString name = SelectedQueue();
  if (name.isEmpty()) return;
  auto shared = std::make_shared<brv::TbrvSQSSendMessageRequest>();
  brv::TbrvSQSSendMessageRequest& message = *shared;
  message.SetMessageBody(txtBody->toPlainText().toStdString());
  message.SetDelaySeconds(spnDelay->value());
  if (txtGroupId->isEnabled()) {
    message.SetMessageGroupId(txtGroupId->text().toStdString());
    message.SetMessageDeduplicationId(txtDeduplicationId->text().toStdString());
  }
  for (int r = 0; r < tblAttributes->rowCount(); ++r) {
    auto text = [&](int Column) {
      const QTableWidgetItem* item = tblAttributes->item(r, Column);
      return item ? item->text().trimmed().toStdString() : std::string();
    };
    if (text(0).empty()) continue;
    message.MessageAttributes().AddSQSAttribute(text(0), text(1).empty() ? "String" : text(1),
                                                text(2));
  }
  ShowError(QString());
  lblSent->clear();
  Start([this, name = name.toStdString(), shared](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    brv::TbrvSQSSendMessageResponse response;
    if (!Client.SendMessage(name, *shared, response)) return {};
    return [this, id = QString::fromStdString(response.MessageId())] {
      lblSent->setText(QStringLiteral("Sent message ") + id);
      FetchCountsInView();
    };
  });
}

void TFRMQueueBrowser::PurgeQueue() {
  ChangeSelectedQueue(
      QStringLiteral("Purge queue \"%1\"? Its approximately %2 visible messages are deleted "
                     "for good."),
      [](brv::TbrvHTTPAWS_SQS_Client& Client, const std::string& Name) {
        return Client.PurgueQueue(Name);
      });
}

void TFRMQueueBrowser::DeleteQueue() {
  ChangeSelectedQueue(
      QStringLiteral("Delete queue \"%1\" with its approximately %2 visible messages?"),
      [](brv::TbrvHTTPAWS_SQS_Client& Client, const std::string& Name) {
        return Client.DeleteQueue(Name);
      });
}

void TFRMQueueBrowser::ChangeSelectedQueue(
    const QString& Question,
    std::function<bool(brv::TbrvHTTPAWS_SQS_Client& Client, const std::string& Name)> Change) {
  const QString name = SelectedQueue();
  const int row = model_->RowOf(name);
  if (row < 0) return;
  const TQueueRow& queue = model_->Row(row);
  const QString count = queue.HasCounts ? QString::number(queue.Visible) : QStringLiteral("?");
  if (!Confirm(this, Question.arg(name, count))) return;
  ShowError(QString());
  Start([this, name = name.toStdString(),
         Change = std::move(Change)](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    if (!Change(Client, name)) return {};
    return [this] { Refresh(); };
  });
}
