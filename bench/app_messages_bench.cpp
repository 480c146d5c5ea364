// The queue browser's messages pane with 10,000 listed messages of 1 KiB each: how long
// filling the table (shown, offscreen) takes, and how much the process's resident memory grows
// by (the "rss_growth_MiB" counter; /proc/self/statm before and after, the rows kept).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/FQueueBrowser.h"
#include "support/QtBenchMain.h"
#include "sqs/brvSQSRecords.h"

namespace {

// Resident memory of this process, in bytes.
double ResidentBytes() {
  long pages = 0;
  long resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Rows as a peek fills them: received messages with a 1 KiB body, the system attributes a
// receive with "All" brings and one message attribute, turned into rows as the browser does
// once the receive has ended.
std::vector<TMessageRow> CannedMessages(int Count) {
  brv::TbrvSQSReceiveMessageResponses received;
  for (int i = 0; i < Count; ++i) {
    auto message = std::make_unique<brv::TbrvSQSReceiveMessageResponse>();
    char id[40];
    std::snprintf(id, sizeof id, "%08x-4818-9212-879a-af435382", static_cast<unsigned>(i));
    message->SetMessageId(id);
    message->SetReceiptHandle(std::string(180, 'h') + std::to_string(i));
    std::string body = "{\"order\":" + std::to_string(i) + ",\"pad\":\"";
    body += std::string(1024 - body.size() - 2, 'x') + "\"}";
    message->SetBody(body);
    for (const char* name : {"SenderId", "SentTimestamp", "ApproximateReceiveCount",
                             "ApproximateFirstReceiveTimestamp"}) {
      message->Attributes().AddSQSAttribute(name, "1796800000000");
    }
    message->MessageAttributes().AddSQSAttribute("customer", "String", "Zo\xc3\xab");
    received.AdoptItem(std::move(message));
  }
  return TakeRows(received);
}

void BM_ListMessages(benchmark::State& State) {
  const int count = static_cast<int>(State.range(0));
  double growth = 0;
  for (auto _ : State) {
    State.PauseTiming();
    auto model = std::make_unique<TMessageTableModel>();
    auto view = std::make_unique<QTableView>();
    view->setModel(model.get());
    view->resize(900, 400);
    view->show();
    QApplication::processEvents();
    const double before = ResidentBytes();
    std::vector<TMessageRow> rows = CannedMessages(count);
    State.ResumeTiming();
    model->SetMessages(std::move(rows));
    QApplication::processEvents();  // the view lays out and paints the rows in view
    State.PauseTiming();
    growth = std::max(growth, (ResidentBytes() - before) / (1024.0 * 1024.0));
    view.reset();
    model.reset();
    State.ResumeTiming();
  }
  State.counters["rss_growth_MiB"] = growth;
  State.counters["rss_total_MiB"] = ResidentBytes() / (1024.0 * 1024.0);
}
BENCHMARK(BM_ListMessages)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  return brv::bench::RunQtBenchmarks(argc, argv);
}
