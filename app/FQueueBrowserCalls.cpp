// The queue browser's plumbing that both its panes use: calls on the browser's worker with
// the credentials typed in the main window, the error line, the selected queue, and the
// counts of the queues in view.
#include "app/FQueueBrowser.h"

#include <algorithm>
#include <string>
#include <utility>

#include <QItemSelectionModel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTableView>

#include "app/ExceptionGuard.h"
#include "app/FAmazonSQS.h"
#include "app/OperationRunner.h"
#include "sqs/brvSQSRecords.h"

namespace {

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

void TFRMQueueBrowser::Start(std::function<TDone(brv::TbrvHTTPAWS_SQS_Client& SQS)> Work) {
  // The credentials as typed in the main window now.
  runner_->Run(
      [this, request = owner_.TypedCredentials(), Work = std::move(Work)](
          const std::shared_ptr<brv::TIdCancellation>& Cancel) mutable -> TOperationRunner::TDone {
        request.Service = sqs_->AWSOptions().Service;  // the client belongs to the worker
        brv::ApplyAWSConfig(resolver_->Resolve(request), *sqs_);
        return RunCancellable(*sqs_, Cancel, Work);
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

QString TFRMQueueBrowser::SelectedQueue() const {
  const QModelIndexList rows = tblQueues->selectionModel()->selectedRows();
  if (rows.isEmpty()) return {};
  return model_->Row(proxy_->mapToSource(rows.first()).row()).Name;
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
