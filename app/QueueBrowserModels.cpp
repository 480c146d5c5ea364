#include "app/QueueBrowserModels.h"

#include <algorithm>
#include <utility>

#include "sqs/brvSQSRecords.h"

QString NameOfURL(const QString& URL) {
  QString url = URL;
  while (url.endsWith('/')) url.chop(1);
  return url.mid(url.lastIndexOf('/') + 1);
}

// --- the queues ---

TQueueTableModel::TQueueTableModel(QObject* Parent)
    : TRowTableModel({"Name", "Type", "Visible", "In flight", "Delayed", "Dead-letter", "Created"},
                     Parent) {}

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

// --- the messages ---

TMessageRow RowFromMessage(const brv::TbrvSQSReceiveMessageResponse& Message) {
  TMessageRow row;
  row.Id = QString::fromStdString(Message.MessageId());
  row.ReceiptHandle = QString::fromStdString(Message.ReceiptHandle());
  row.Body = QByteArray::fromStdString(Message.Body());
  const brv::TbrvSQSAttributes& system = Message.Attributes();
  for (int i = 0; i < system.Count(); ++i) {
    const brv::TbrvSQSAttribute* item = system.Items(i);
    const QString name = QString::fromStdString(item->AttributeName());
    const QString value = QString::fromStdString(item->AttributeValue());
    row.SystemAttributes.emplace_back(name, value);
    if (name == QLatin1String("SentTimestamp")) {
      row.Sent = QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
    } else if (name == QLatin1String("ApproximateReceiveCount")) {
      row.ReceiveCount = value.toLongLong();
    }
  }
  const brv::TbrvSQSMessageAttributes& attributes = Message.MessageAttributes();
  for (int i = 0; i < attributes.Count(); ++i) {
    const brv::TbrvSQSMessageAttributeItem* item = attributes.Items(i);
    row.MessageAttributes.push_back({QString::fromStdString(item->AttributeName()),
                                     QString::fromStdString(item->AttributeType()),
                                     QString::fromStdString(item->AttributeValue())});
  }
  return row;
}

std::vector<TMessageRow> TakeRows(brv::TbrvSQSReceiveMessageResponses& Received) {
  std::vector<TMessageRow> rows;
  rows.reserve(static_cast<std::size_t>(Received.Count()));
  // From the last: dropping a list's last record moves nothing.
  for (int i = Received.Count() - 1; i >= 0; --i) {
    rows.push_back(RowFromMessage(*Received.Items(i)));
    Received.DeleteItem(i);
  }
  std::reverse(rows.begin(), rows.end());
  return rows;
}

TMessageTableModel::TMessageTableModel(QObject* Parent)
    : TRowTableModel({"Message id", "Sent", "Receives", "Size", "Body"}, Parent) {}

QVariant TMessageTableModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= rowCount()) return {};
  const TMessageRow& row = Row(Index.row());
  if (Role == Qt::TextAlignmentRole &&
      (Index.column() == colReceiveCount || Index.column() == colSize)) {
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (Role != Qt::DisplayRole) return {};
  switch (Index.column()) {
    case colId:
      return row.Id;
    case colSent:
      return row.Sent.isValid() ? row.Sent.toString(Qt::ISODate) : QString();
    case colReceiveCount:
      return row.ReceiveCount;
    case colSize:
      return static_cast<qint64>(row.Body.size());
    case colBody: {
      // One line: control characters would break the row.
      QString preview = QString::fromUtf8(row.Body.left(kPreviewLength * 4)).left(kPreviewLength);
      for (QChar& c : preview) {
        if (c.category() == QChar::Other_Control) c = QChar(' ');
      }
      return preview;
    }
    default:
      return {};
  }
}

void TMessageTableModel::SetMessages(std::vector<TMessageRow> Rows) {
  beginResetModel();
  rows_ = std::move(Rows);
  endResetModel();
}

void TMessageTableModel::Remove(const QStringList& Ids) {
  beginResetModel();
  rows_.erase(std::remove_if(rows_.begin(), rows_.end(),
                             [&](const TMessageRow& R) { return Ids.contains(R.Id); }),
              rows_.end());
  endResetModel();
}
