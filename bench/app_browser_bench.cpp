// The queue browser's table with 5,000 queues: listing them into the model behind the
// sort/filter proxy and a shown table view (offscreen), listing them again with their counts
// kept, and filtering as one types.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QSortFilterProxyModel>
#include <QString>
#include <QTableView>
#include <vector>

#include "app/FQueueBrowser.h"
#include "support/QtBenchMain.h"

namespace {

std::vector<QString> CannedQueues(int Count) {
  std::vector<QString> urls;
  urls.reserve(static_cast<std::size_t>(Count));
  for (int i = 0; i < Count; ++i) {
    urls.push_back(QStringLiteral("https://sqs.us-east-1.amazonaws.com/123456789012/orders-%1%2")
                       .arg((i * 7919) % Count, 5, 10, QLatin1Char('0'))
                       .arg(i % 10 == 0 ? QStringLiteral(".fifo") : QString()));
  }
  return urls;
}

struct TTable {
  TQueueTableModel model;
  QSortFilterProxyModel proxy;
  QTableView view;
  TTable() {
    proxy.setSourceModel(&model);
    proxy.setFilterKeyColumn(TQueueTableModel::colName);
    proxy.setSortRole(Qt::EditRole);
    view.setModel(&proxy);
    view.setSortingEnabled(true);
    view.sortByColumn(TQueueTableModel::colName, Qt::AscendingOrder);
    view.resize(900, 600);
    view.show();
    QApplication::processEvents();
  }
};

void BM_FillTable(benchmark::State& State) {
  const std::vector<QString> urls = CannedQueues(static_cast<int>(State.range(0)));
  for (auto _ : State) {
    TTable table;
    table.model.SetQueues(urls);
    QApplication::processEvents();  // the view lays out and paints the rows in view
    benchmark::DoNotOptimize(table.proxy.rowCount());
  }
}
BENCHMARK(BM_FillTable)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_RefreshKeepingCounts(benchmark::State& State) {
  const std::vector<QString> urls = CannedQueues(static_cast<int>(State.range(0)));
  TTable table;
  table.model.SetQueues(urls);
  TQueueRow counts;
  counts.Visible = 12;
  for (const QString& url : urls) table.model.SetAttributes(url, counts);
  for (auto _ : State) {
    table.model.SetQueues(urls);
    QApplication::processEvents();
  }
}
BENCHMARK(BM_RefreshKeepingCounts)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_FilterAsYouType(benchmark::State& State) {
  TTable table;
  table.model.SetQueues(CannedQueues(static_cast<int>(State.range(0))));
  for (auto _ : State) {
    for (const char* typed : {"o", "or", "ord", "orders-0", "orders-01", ""}) {
      table.proxy.setFilterFixedString(QString::fromLatin1(typed));
      QApplication::processEvents();
    }
  }
}
BENCHMARK(BM_FilterAsYouType)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return brv::bench::RunQtBenchmarks(argc, argv);
}
