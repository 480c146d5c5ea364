// The time by which an operation must end, and the cancellation that may end it sooner. One
// value is handed down from the caller (the AWS client's overall deadline, the window's Cancel,
// the command's Ctrl-C) to every wait of the transport and the TLS engines, so that no poll
// waits longer than the call has left.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "transport/IdException.h"

namespace brv {

// The call was cancelled (the window's Cancel, the command's Ctrl-C).
BRV_DECLARE_EXCEPTION(EIdOperationCancelled, EIdException, "Operation cancelled.");
// The call's overall time limit ran out (every attempt and every wait included).
BRV_DECLARE_EXCEPTION(EIdDeadlineExceeded, EIdException, "Time limit of the call exceeded.");

// A cancellation flag that one thread raises and another's waits watch. Besides the flag it
// holds an event descriptor that becomes readable once cancelled, so a poll on a socket can
// watch it too and wake at once. Thread-safe; cannot be lowered again (make a new one).
class TIdCancellation {
 public:
  TIdCancellation();
  ~TIdCancellation();
  TIdCancellation(const TIdCancellation&) = delete;
  TIdCancellation& operator=(const TIdCancellation&) = delete;

  // Raises the flag and wakes every wait that watches WaitHandle(). Safe from any thread and
  // from a signal handler.
  void Cancel() noexcept;
  bool Cancelled() const noexcept { return FCancelled.load(std::memory_order_acquire); }
  // A descriptor for poll (POLLIN once cancelled), or -1 where none could be made (the flag
  // still works; waits then wake at their next time-out).
  int WaitHandle() const noexcept { return FEventFd; }

 private:
  std::atomic<bool> FCancelled{false};
  int FEventFd = -1;
};

// A deadline: an instant on the steady clock (or none) plus an optional cancellation. A plain
// value, cheap to copy; the default one neither expires nor can be cancelled.
class TIdDeadline {
 public:
  using TClock = std::chrono::steady_clock;

  TIdDeadline() = default;
  // Ends ALimit from now (a negative limit: no limit).
  static TIdDeadline After(std::chrono::milliseconds ALimit,
                           std::shared_ptr<TIdCancellation> ACancel = nullptr);
  // The bound of one wait of ATimeout milliseconds (the transport's convention: negative, no
  // limit of its own) that also ends with this deadline and its cancellation.
  TIdDeadline ForWait(int ATimeout) const {
    return ATimeout < 0 ? *this : Sooner(After(std::chrono::milliseconds(ATimeout)));
  }
  // Ends at AInstant.
  static TIdDeadline At(TClock::time_point AInstant,
                        std::shared_ptr<TIdCancellation> ACancel = nullptr);

  bool HasLimit() const noexcept { return FLimit != TClock::time_point::max(); }
  // It limits waits at all: it has a limit or can be cancelled.
  bool Bounded() const noexcept { return HasLimit() || FCancel != nullptr; }
  TClock::time_point Limit() const noexcept { return FLimit; }
  const std::shared_ptr<TIdCancellation>& Cancellation() const noexcept { return FCancel; }
  // The cancellation's wait handle, or -1.
  int CancelHandle() const noexcept { return FCancel ? FCancel->WaitHandle() : -1; }

  bool Cancelled() const noexcept { return FCancel && FCancel->Cancelled(); }
  bool Expired(TClock::time_point ANow = TClock::now()) const noexcept {
    return HasLimit() && ANow >= FLimit;
  }
  // The sooner of this deadline and AOther; the cancellation of this one, else AOther's.
  TIdDeadline Sooner(const TIdDeadline& AOther) const;

  // How long one wait may take, in the transport's convention: the smaller of ATimeout
  // (milliseconds; negative: no limit of its own) and what is left of the deadline, rounded up
  // to whole milliseconds; -1 (poll's "no limit") when neither limits the wait, 0 once expired.
  int WaitMs(int ATimeout = -1, TClock::time_point ANow = TClock::now()) const noexcept;

  // Raises EIdOperationCancelled when cancelled, else EIdDeadlineExceeded when expired.
  void Check() const;

 private:
  TClock::time_point FLimit = TClock::time_point::max();
  std::shared_ptr<TIdCancellation> FCancel;
};

}  // namespace brv
