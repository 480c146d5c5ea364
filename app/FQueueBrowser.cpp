#include "app/FQueueBrowser.h"

#include <algorithm>
#include <utility>

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
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

// The last path segment of a queue URL: its name.
QString NameOfURL(const QString& URL) {
  QString url = URL;
  while (url.endsWith('/')) url.chop(1);
  return url.mid(url.lastIndexOf('/') + 1);
}

// The attributes a row shows, from GetQueueAttributes.
TQueueRow RowFromAttributes(const brv::TbrvSQSAttributes& Attributes) {
  TQueueRow row;
  row.HasCounts = true;
  auto value = [&](const char* Name) -> QString {
    const brv::TbrvSQSAttribute* item = Attributes.Find(Name);
    return item ? QString::fromStdString(item->AttributeValue()) : QString();
  };
  row.Visible = value("ApproximateNumberOfMessages").toLongLong();
  row.InFlight = value("ApproximateNumberOfMessagesNotVisible").toLongLong();
  row.Delayed = value("ApproximateNumberOfMessagesDelayed").toLongLong();
  const QString created = value("CreatedTimestamp");
  if (!created.isEmpty()) {
    row.Created = QDateTime::fromSecsSinceEpoch(created.toLongLong(), Qt::UTC);
  }
  const QJsonObject policy = QJsonDocument::fromJson(value("RedrivePolicy").toUtf8()).object();
  const QString arn = policy.value(QStringLiteral("deadLetterTargetArn")).toString();
  if (!arn.isEmpty()) row.DeadLetterTarget = arn.mid(arn.lastIndexOf(':') + 1);
  return row;
}

}  // namespace

// --- the model ---

int TQueueTableModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TQueueTableModel::columnCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : kColumns;
}

QVariant TQueueTableModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= rowCount()) return {};
  const TQueueRow& row = Row(Index.row());
  const int column = Index.column();
  if (Role == Qt::TextAlignmentRole && column >= colVisible && column <= colDelayed) {
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (Role != Qt::DisplayRole && Role != Qt::EditRole) return {};
  const bool sorting = Role == Qt::EditRole;  // the proxy sorts by the edit role
  switch (column) {
    case colName:
      return row.Name;
    case colType:
      return row.Fifo ? QStringLiteral("FIFO") : QStringLiteral("Standard");
    case colVisible:
    case colInFlight:
    case colDelayed: {
      if (!row.HasCounts) return sorting ? QVariant(qint64(-1)) : QVariant(QString());
      const qint64 n = column == colVisible    ? row.Visible
                       : column == colInFlight ? row.InFlight
                                               : row.Delayed;
      return QVariant(n);
    }
    case colDeadLetter:
      return row.DeadLetterTarget;
    case colCreated:
      if (sorting) return row.Created;
      return row.Created.isValid() ? row.Created.toString(Qt::ISODate) : QString();
    default:
      return {};
  }
}

QVariant TQueueTableModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole) return {};
  static const char* const kTitles[kColumns] = {"Name",    "Type",        "Visible", "In flight",
                                                "Delayed", "Dead-letter", "Created"};
  return Section >= 0 && Section < kColumns ? QString::fromLatin1(kTitles[Section]) : QVariant();
}

void TQueueTableModel::SetQueues(const std::vector<QString>& URLs) {
  std::unordered_map<QString, TQueueRow> known;
  for (TQueueRow& row : rows_) known.emplace(row.URL, std::move(row));
  beginResetModel();
  rows_.clear();
  rows_.reserve(URLs.size());
  for (const QString& url : URLs) {
    auto found = known.find(url);
    if (found != known.end()) {
      // Shown until counted again.
      found->second.Stale = true;
      rows_.push_back(std::move(found->second));
      continue;
    }
    TQueueRow row;
    row.URL = url;
    row.Name = NameOfURL(url);
    row.Fifo = row.Name.endsWith(QStringLiteral(".fifo"));
    rows_.push_back(std::move(row));
  }
  byURL_.clear();
  byURL_.reserve(rows_.size());
  for (std::size_t i = 0; i < rows_.size(); ++i) byURL_.emplace(rows_[i].URL, static_cast<int>(i));
  endResetModel();
}

void TQueueTableModel::SetAttributes(const QString& URL, const TQueueRow& Attributes) {
  const auto found = byURL_.find(URL);
  if (found == byURL_.end()) return;  // no longer listed
  const int r = found->second;
  TQueueRow& row = rows_[static_cast<std::size_t>(r)];
  row.HasCounts = true;
  row.Stale = false;
  row.Visible = Attributes.Visible;
  row.InFlight = Attributes.InFlight;
  row.Delayed = Attributes.Delayed;
  row.DeadLetterTarget = Attributes.DeadLetterTarget;
  row.Created = Attributes.Created;
  emit dataChanged(index(r, colVisible), index(r, colCreated));
}

int TQueueTableModel::RowOf(const QString& Name) const {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].Name == Name) return static_cast<int>(i);
  }
  return -1;
}

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

void TFRMQueueBrowser::Start(std::function<TDone(brv::TbrvHTTPAWS_SQS_Client& SQS)> Work) {
  // The credentials as typed in the main window now.
  brv::TbrvAWSConfigRequest request;
  request.Region = owner_.txtRegion->text().toStdString();
  request.AccessKey = owner_.txtAccessKey->text().toStdString();
  request.SecretKey = owner_.txtSecretKey->text().toStdString();
  runner_->Run(
      [this, request, Work = std::move(Work)](
          const std::shared_ptr<brv::TIdCancellation>& Cancel) mutable -> TOperationRunner::TDone {
        request.Service = sqs_->AWSOptions().Service;  // the client belongs to the worker
        brv::ApplyAWSConfig(resolver_->Resolve(request), *sqs_);
        sqs_->SetCancellation(Cancel);
        struct TReset {
          brv::TbrvHTTPAWS_SQS_Client& Client;
          ~TReset() { Client.SetCancellation(nullptr); }
        } reset{*sqs_};
        return Work(*sqs_);
      },
      [this](std::exception_ptr Error, bool Cancelled) {
        requested_.clear();
        if (Cancelled) {
          ShowError(QStringLiteral("Cancelled."));
          return;
        }
        // Without an answer: shown as the main window shows it.
        RunGuarded(this, [&] { std::rethrow_exception(Error); });
      });
}

void TFRMQueueBrowser::ShowError(const QString& Text) {
  lblError->setText(Text);
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

void TFRMQueueBrowser::FetchCountsInView() {
  if (proxy_->rowCount() == 0) return;
  const int first = std::max(0, tblQueues->rowAt(0));
  int last = tblQueues->rowAt(tblQueues->viewport()->height() - 1);
  if (last < 0) last = proxy_->rowCount() - 1;
  std::vector<std::pair<QString, std::string>> wanted;  // URL, name
  for (int r = first; r <= last; ++r) {
    const TQueueRow& row = model_->Row(proxy_->mapToSource(proxy_->index(r, 0)).row());
    if (row.HasCounts && !row.Stale) continue;
    if (std::find(requested_.begin(), requested_.end(), row.URL) != requested_.end()) continue;
    requested_.push_back(row.URL);
    wanted.emplace_back(row.URL, row.Name.toStdString());
  }
  if (wanted.empty()) return;
  Start([this, wanted](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    for (const auto& wish : wanted) {
      // Named copies: a structured binding cannot be captured by the lambda below in clang 14.
      const auto url = wish.first;
      const std::string& name = wish.second;
      brv::TbrvSQSAttributes attributes;
      if (!Client.GetQueueAttributes(name, attributes)) continue;
      const TQueueRow row = RowFromAttributes(attributes);
      runner_->Post([this, url, row] {
        model_->SetAttributes(url, row);
        requested_.erase(std::remove(requested_.begin(), requested_.end(), url), requested_.end());
      });
    }
    return {};
  });
}

QString TFRMQueueBrowser::SelectedQueue() const {
  const QModelIndexList rows = tblQueues->selectionModel()->selectedRows();
  if (rows.isEmpty()) return {};
  return model_->Row(proxy_->mapToSource(rows.first()).row()).Name;
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
  const QString name = SelectedQueue();
  const int row = model_->RowOf(name);
  if (row < 0) return;
  const TQueueRow& queue = model_->Row(row);
  const QString count = queue.HasCounts ? QString::number(queue.Visible) : QStringLiteral("?");
  if (!Confirm(this, QStringLiteral("Purge queue \"%1\"? Its approximately %2 visible messages "
                                    "are deleted for good.")
                         .arg(name, count))) {
    return;
  }
  ShowError(QString());
  Start([this, name = name.toStdString()](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    if (!Client.PurgueQueue(name)) return {};
    return [this] { Refresh(); };
  });
}

void TFRMQueueBrowser::DeleteQueue() {
  const QString name = SelectedQueue();
  const int row = model_->RowOf(name);
  if (row < 0) return;
  const TQueueRow& queue = model_->Row(row);
  const QString count = queue.HasCounts ? QString::number(queue.Visible) : QStringLiteral("?");
  if (!Confirm(this, QStringLiteral("Delete queue \"%1\" with its approximately %2 visible "
                                    "messages?")
                         .arg(name, count))) {
    return;
  }
  ShowError(QString());
  Start([this, name = name.toStdString()](brv::TbrvHTTPAWS_SQS_Client& Client) -> TDone {
    if (!Client.DeleteQueue(name)) return {};
    return [this] { Refresh(); };
  });
}
