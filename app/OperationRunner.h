// Runs the window's library calls on a worker thread of their own, one at a time in the order
// they were started, and brings their results back to the UI thread. A call in progress can be
// cancelled: its cancellation wakes every wait of the transport at once.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

#include <QObject>

#include "transport/IdDeadline.h"

class QThread;

// Runs Call(Client) with Cancel as the client's cancellation, cleared again however Call ends.
template <typename TClient, typename TCall>
auto RunCancellable(TClient& Client, const std::shared_ptr<brv::TIdCancellation>& Cancel,
                    TCall&& Call) {
  Client.SetCancellation(Cancel);
  struct TReset {
    TClient& Client;
    ~TReset() { Client.SetCancellation(nullptr); }
  } reset{Client};
  return Call(Client);
}

class TOperationRunner : public QObject {
 public:
  // What runs on the UI thread once the work is done (may be empty).
  using TDone = std::function<void()>;
  // The work, run on the worker thread with the cancellation it must hand to the library.
  using TWork = std::function<TDone(const std::shared_ptr<brv::TIdCancellation>& Cancel)>;
  // Runs on the UI thread when the work raised; Cancelled says whether it was cancelled.
  using TFailed = std::function<void(std::exception_ptr Error, bool Cancelled)>;

  // The runner lives on the thread that makes it (the UI thread) and starts its worker thread.
  explicit TOperationRunner(QObject* Parent = nullptr);
  // Cancels what runs and waits for the worker thread to end.
  ~TOperationRunner() override;

  // Queues Work behind the work already started.
  void Run(TWork Work, TFailed Failed);
  // Hands Action to the UI thread; callable from the worker. Actions and completions keep the
  // order in which the worker handed them over.
  void Post(std::function<void()> Action);

  // Work started and not yet completed on the UI thread.
  bool Busy() const { return pending_ > 0; }
  // Cancels the work running now and every piece still queued.
  void Cancel();
  // Cancels, ends the worker thread and waits for it. Nothing runs after it returns; safe to
  // call twice.
  void Shutdown();

  // The thread the work runs on (null after Shutdown).
  QThread* Thread() const { return thread_; }

  // Called on the UI thread when Busy() changes.
  std::function<void(bool Busy)> OnBusyChanged;

 private:
  void Finished();

  QThread* thread_ = nullptr;
  QObject* worker_ = nullptr;  // lives on thread_
  std::shared_ptr<brv::TIdCancellation> cancel_;
  std::shared_ptr<std::atomic<bool>> stopping_;
  int pending_ = 0;
};
