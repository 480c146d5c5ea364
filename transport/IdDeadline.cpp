#include "transport/IdDeadline.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace brv {

TIdCancellation::TIdCancellation() : FEventFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TIdCancellation::~TIdCancellation() {
  if (FEventFd >= 0) ::close(FEventFd);
}

void TIdCancellation::Cancel() noexcept {
  FCancelled.store(true, std::memory_order_release);
  if (FEventFd >= 0) {
    const std::uint64_t one = 1;
    // A full counter (never reached by one increment a cancel) only means it is readable.
    [[maybe_unused]] const ssize_t written = ::write(FEventFd, &one, sizeof one);
  }
}

TIdDeadline TIdDeadline::After(std::chrono::milliseconds ALimit,
                               std::shared_ptr<TIdCancellation> ACancel) {
  TIdDeadline d;
  if (ALimit.count() >= 0) {
    const TClock::time_point now = TClock::now();
    // Saturate rather than overflow for limits near the clock's range.
    const auto room =
        std::chrono::duration_cast<std::chrono::milliseconds>(TClock::time_point::max() - now);
    d.FLimit = ALimit >= room ? TClock::time_point::max() : now + ALimit;
  }
  d.FCancel = std::move(ACancel);
  return d;
}

TIdDeadline TIdDeadline::At(TClock::time_point AInstant, std::shared_ptr<TIdCancellation> ACancel) {
  TIdDeadline d;
  d.FLimit = AInstant;
  d.FCancel = std::move(ACancel);
  return d;
}

TIdDeadline TIdDeadline::Sooner(const TIdDeadline& AOther) const {
  TIdDeadline d;
  d.FLimit = std::min(FLimit, AOther.FLimit);
  d.FCancel = FCancel ? FCancel : AOther.FCancel;
  return d;
}

int TIdDeadline::WaitMs(int ATimeout, TClock::time_point ANow) const noexcept {
  if (!HasLimit()) return ATimeout < 0 ? -1 : ATimeout;
  if (ANow >= FLimit) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(FLimit - ANow).count();
  const long long capped = std::min<long long>(left, std::numeric_limits<int>::max());
  const int leftMs = static_cast<int>(capped);
  return ATimeout < 0 ? leftMs : std::min(ATimeout, leftMs);
}

void TIdDeadline::Check() const {
  if (Cancelled()) throw EIdOperationCancelled();
  if (Expired()) throw EIdDeadlineExceeded();
}

}  // namespace brv
