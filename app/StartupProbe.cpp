#include "app/StartupProbe.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>

#include "app/ExceptionGuard.h"
#include "app/FAmazonSQS.h"
#include "app/FQueueBrowser.h"

namespace {

long long MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// CLOCK_MONOTONIC at the start of this process, from its start time in clock ticks since boot
// (coarse: one tick is usually 10 ms). Boot-time and monotonic clocks differ by time spent
// suspended, which does not occur during a measurement.
long long ProcessStartNs() {
  std::ifstream stat("/proc/self/stat");
  std::string line;
  std::getline(stat, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return MonotonicNs();
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  // Fields after the command name start with the state (field 3); starttime is field 22.
  for (int i = 3; i <= 22 && fields >> field; ++i) {
  }
  timespec boot{};
  clock_gettime(CLOCK_BOOTTIME, &boot);
  const long long bootNs = static_cast<long long>(boot.tv_sec) * 1000000000LL + boot.tv_nsec;
  const long long startNs = std::stoll(field) * (1000000000LL / sysconf(_SC_CLK_TCK));
  return MonotonicNs() - (bootNs - startNs);
}

// User and system CPU time of this process, all threads, in nanoseconds. An exec keeps the
// count, so it includes what the launcher spent before it.
long long ProcessCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(1 << 16, '\n');
  }
  return -1;
}

// Calls Action once, after the watched window's first paint has been handled.
class TFirstPaint : public QObject {
 public:
  TFirstPaint(QWidget& Window, std::function<void()> Action)
      : QObject(&Window), action_(std::move(Action)) {
    Window.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::Paint && action_) {
      Watched->removeEventFilter(this);
      // Queued so that it runs once this paint has reached the screen.
      QTimer::singleShot(0, this, [this] {
        auto action = std::move(action_);
        action();
      });
    }
    return false;
  }

 private:
  std::function<void()> action_;
};

}  // namespace

bool InstallStartupProbe(TFRMAmazonSQS& Window) {
  bool installed = false;
  if (const char* file = std::getenv("AMAZON_SQS_SCREENSHOT"); file && *file) {
    const QString path = QString::fromLocal8Bit(file);
    // AMAZON_SQS_SCREENSHOT_WINDOW=browser: the queue browser, listed with the keys of
    // AWS_ACCESS_KEY_ID / AWS_SECRET_ACCESS_KEY, its last queue selected and peeked at.
    const char* which = std::getenv("AMAZON_SQS_SCREENSHOT_WINDOW");
    const bool browser = which != nullptr && std::strcmp(which, "browser") == 0;
    TFRMAmazonSQS* form = &Window;
    new TFirstPaint(Window, [path, form, browser] {
      QWidget* window = form;
      if (browser) {
        if (const char* key = std::getenv("AWS_ACCESS_KEY_ID")) {
          form->txtAccessKey->setText(QString::fromLocal8Bit(key));
        }
        if (const char* secret = std::getenv("AWS_SECRET_ACCESS_KEY")) {
          form->txtSecretKey->setText(QString::fromLocal8Bit(secret));
        }
        TFRMQueueBrowser* queues = form->ShowQueueBrowser();
        queues->resize(1100, 860);
        while (queues->Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        queues->tblQueues->selectRow(queues->tblQueues->model()->rowCount() - 1);
        while (queues->Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // Its messages listed, the first one's details shown.
        queues->PeekMessages();
        while (queues->Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        queues->tblMessages->selectRow(0);
        window = queues;
      }
      // A short pause lets the window manager (if any) and the text cursor settle.
      QTimer::singleShot(500, window, [path, window] {
        // The screen's own pixels in the window's frame, not a rendering of the widget.
        const QRect frame = window->frameGeometry();
        const QPixmap shot =
            window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        const bool saved = shot.save(path, "PNG");
        std::fprintf(stderr, "amazon-sqs: screenshot %s %s\n", saved ? "saved to" : "FAILED for",
                     path.toLocal8Bit().constData());
        QApplication::exit(saved ? 0 : 1);
      });
    });
    installed = true;
  }
  if (const char* bench = std::getenv("AMAZON_SQS_BENCH"); bench && *bench == '1') {
    long long t0 = 0;
    if (const char* given = std::getenv("AMAZON_SQS_T0_NS"); given && *given) {
      t0 = std::atoll(given);
    } else {
      t0 = ProcessStartNs();
    }
    long long cpu0 = 0;
    if (const char* given = std::getenv("AMAZON_SQS_T0_CPU_NS"); given && *given) {
      cpu0 = std::atoll(given);
    }
    TFRMAmazonSQS* window = &Window;
    // No modal box in a measurement: a failed click is reported on standard error.
    SetExceptionReporter([](QWidget*, const QString& Message) {
      std::fprintf(stderr, "amazon-sqs: %s\n", Message.toLocal8Bit().constData());
    });
    new TFirstPaint(Window, [t0, cpu0, window] {
      std::printf("first_paint_ms=%.1f\n", (MonotonicNs() - t0) / 1e6);
      std::printf("first_paint_cpu_ms=%.1f\n", (ProcessCpuNs() - cpu0) / 1e6);
      std::printf("rss_kb_after_paint=%ld\n", ResidentKb());
      std::fflush(stdout);
      // The keys a measurement against a local service needs, typed as a user would.
      if (const char* key = std::getenv("AWS_ACCESS_KEY_ID")) {
        window->txtAccessKey->setText(QString::fromLocal8Bit(key));
      }
      if (const char* secret = std::getenv("AWS_SECRET_ACCESS_KEY")) {
        window->txtSecretKey->setText(QString::fromLocal8Bit(secret));
      }
      window->btnListQueues->click();
      // The call runs on the window's worker: wait for its result to reach the log.
      while (window->Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      std::printf("rss_kb=%ld\n", ResidentKb());
      for (const QString& line : window->memoLog->toPlainText().split('\n')) {
        std::printf("log: %s\n", line.toLocal8Bit().constData());
      }
      std::fflush(stdout);
      // Then View > Queue Browser: the time from the click to its first paint, and the
      // memory once it has listed the queues with their counts.
      const long long clicked = MonotonicNs();
      const long long clickedCpu = ProcessCpuNs();
      TFRMQueueBrowser* browser = window->ShowQueueBrowser();
      new TFirstPaint(*browser, [clicked, clickedCpu, browser] {
        std::printf("browser_paint_ms=%.1f\n", (MonotonicNs() - clicked) / 1e6);
        std::printf("browser_paint_cpu_ms=%.1f\n", (ProcessCpuNs() - clickedCpu) / 1e6);
        while (browser->Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        std::printf("browser_queues=%d\n", browser->Model()->rowCount());
        std::printf("rss_kb_browser=%ld\n", ResidentKb());
        std::fflush(stdout);
        QApplication::exit(0);
      });
    });
    installed = true;
  }
  return installed;
}
