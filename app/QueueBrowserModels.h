// The queue browser's two tables: every listed queue with its counts, and the messages peeked
// at in the selected queue.
#pragma once

#include <array>
#include <cstddef>
#include <unordered_map>
#include <utility>
#include <vector>

#include <QAbstractTableModel>
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace brv {
class TbrvSQSReceiveMessageResponse;
class TbrvSQSReceiveMessageResponses;
}  // namespace brv

// The last path segment of a queue URL: its name.
QString NameOfURL(const QString& URL);

// A table of Columns titled columns over a list of rows the model owns.
template <typename TRow, int Columns>
class TRowTableModel : public QAbstractTableModel {
 public:
  static constexpr int kColumns = Columns;

  TRowTableModel(const std::array<const char*, Columns>& Titles, QObject* Parent)
      : QAbstractTableModel(Parent), titles_(Titles) {}

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override {
    return Parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override {
    return Parent.isValid() ? 0 : Columns;
  }
  QVariant headerData(int Section, Qt::Orientation Orientation,
                      int Role = Qt::DisplayRole) const override {
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole) return {};
    if (Section < 0 || Section >= Columns) return {};
    return QString::fromLatin1(titles_[static_cast<std::size_t>(Section)]);
  }
  const TRow& Row(int Index) const { return rows_[static_cast<std::size_t>(Index)]; }

 protected:
  std::vector<TRow> rows_;

 private:
  std::array<const char*, Columns> titles_;
};

// One queue as the table shows it. The counts and the attributes are unknown (HasCounts
// false) until fetched for the rows in view.
struct TQueueRow {
  QString Name;
  QString URL;
  bool Fifo = false;
  bool HasCounts = false;
  bool Stale = false;  // listed again since they were fetched
  qint64 Visible = 0;
  qint64 InFlight = 0;
  qint64 Delayed = 0;
  QString DeadLetterTarget;  // the name of the queue the redrive policy names
  QDateTime Created;
};

class TQueueTableModel : public TRowTableModel<TQueueRow, 7> {
 public:
  enum TColumn { colName, colType, colVisible, colInFlight, colDelayed, colDeadLetter, colCreated };
  static_assert(kColumns == colCreated + 1);

  explicit TQueueTableModel(QObject* Parent = nullptr);

  QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;

  // Replaces every row (counts of queues still listed are kept, marked stale).
  void SetQueues(const std::vector<QString>& URLs);
  // Stores the attributes of the queue at URL, when it is still listed.
  void SetAttributes(const QString& URL, const TQueueRow& Attributes);
  // The row of the queue named Name, or -1.
  int RowOf(const QString& Name) const;

 private:
  std::unordered_map<QString, int> byURL_;  // row of each URL
};

// One message as the messages pane shows it, from a peek.
struct TMessageRow {
  QString Id;
  QString ReceiptHandle;
  QDateTime Sent;
  qint64 ReceiveCount = 0;
  QByteArray Body;  // as received (UTF-8)
  // System attributes: name, value; message attributes: name, type, value.
  std::vector<std::pair<QString, QString>> SystemAttributes;
  std::vector<std::array<QString, 3>> MessageAttributes;
};

// The row of a received message: the body kept once, as received.
TMessageRow RowFromMessage(const brv::TbrvSQSReceiveMessageResponse& Message);
// The rows of the received messages, in their order. Each record is freed once its row is
// made, so that the rows take the memory the records free instead of adding to it: a
// thousand-message peek then costs about its rows, not its rows and its records.
std::vector<TMessageRow> TakeRows(brv::TbrvSQSReceiveMessageResponses& Received);

class TMessageTableModel : public TRowTableModel<TMessageRow, 5> {
 public:
  enum TColumn { colId, colSent, colReceiveCount, colSize, colBody };
  static_assert(kColumns == colBody + 1);
  // Characters of the body the table shows.
  static constexpr int kPreviewLength = 120;

  explicit TMessageTableModel(QObject* Parent = nullptr);

  QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;

  void SetMessages(std::vector<TMessageRow> Rows);
  // Drops the rows of the messages whose ids are in Ids.
  void Remove(const QStringList& Ids);
};
