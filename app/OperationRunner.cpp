#include "app/OperationRunner.h"

#include <utility>

#include <QThread>

TOperationRunner::TOperationRunner(QObject* Parent)
    : QObject(Parent),
      cancel_(std::make_shared<brv::TIdCancellation>()),
      stopping_(std::make_shared<std::atomic<bool>>(false)) {
  thread_ = new QThread();
  thread_->setObjectName(QStringLiteral("sqs-worker"));
  worker_ = new QObject();
  worker_->moveToThread(thread_);
  thread_->start();
}

TOperationRunner::~TOperationRunner() {
  Shutdown();
}

void TOperationRunner::Run(TWork Work, TFailed Failed) {
  if (thread_ == nullptr) return;
  if (pending_++ == 0 && OnBusyChanged) OnBusyChanged(true);
  // Each piece of work keeps the cancellation in force when it was started: Cancel raises it
  // for everything queued so far, not for what is started afterwards.
  auto job = [this, Work = std::move(Work), Failed = std::move(Failed), cancel = cancel_,
              stopping = stopping_]() {
    TDone done;
    std::exception_ptr error;
    try {
      if (stopping->load() || cancel->Cancelled()) throw brv::EIdOperationCancelled();
      done = Work(cancel);
    } catch (...) {
      error = std::current_exception();
    }
    if (stopping->load()) return;  // nobody is left to tell
    const bool cancelled = cancel->Cancelled();
    QMetaObject::invokeMethod(
        this,
        [this, done = std::move(done), error, cancelled, Failed, stopping] {
          if (stopping->load()) return;
          if (error) {
            if (Failed) Failed(error, cancelled);
          } else if (done) {
            done();
          }
          Finished();
        },
        Qt::QueuedConnection);
  };
  QMetaObject::invokeMethod(worker_, std::move(job), Qt::QueuedConnection);
}

void TOperationRunner::Post(std::function<void()> Action) {
  QMetaObject::invokeMethod(this, std::move(Action), Qt::QueuedConnection);
}

void TOperationRunner::Finished() {
  if (--pending_ == 0 && OnBusyChanged) OnBusyChanged(false);
}

void TOperationRunner::Cancel() {
  cancel_->Cancel();
  cancel_ = std::make_shared<brv::TIdCancellation>();
}

void TOperationRunner::Shutdown() {
  if (thread_ == nullptr) return;
  stopping_->store(true);
  cancel_->Cancel();
  thread_->quit();
  thread_->wait();
  delete worker_;  // with the work still queued on it
  worker_ = nullptr;
  delete thread_;
  thread_ = nullptr;
}
