#include "transport/IdDeadline.h"

#include <poll.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace brv {
namespace {

using namespace std::chrono_literals;
using TClock = TIdDeadline::TClock;

TEST(Deadline, WaitIsTheSmallerOfTheTimeoutAndWhatIsLeft) {
  const TClock::time_point now = TClock::now();
  const TIdDeadline none;
  const TIdDeadline soon = TIdDeadline::At(now + 250ms);
  const TIdDeadline past = TIdDeadline::At(now - 1ms);
  struct {
    const TIdDeadline& deadline;
    int timeout;
    int expected;
  } rows[] = {
      {none, -1, -1},   {none, -2, -1},   {none, 0, 0},  {none, 700, 700}, {soon, -1, 250},
      {soon, 100, 100}, {soon, 900, 250}, {past, -1, 0}, {past, 500, 0},
  };
  for (const auto& r : rows) EXPECT_EQ(r.deadline.WaitMs(r.timeout, now), r.expected) << r.timeout;
  // Part of a millisecond left still waits a whole one rather than spinning on 0.
  EXPECT_EQ(TIdDeadline::At(now + 300us).WaitMs(-1, now), 1);
  EXPECT_FALSE(TIdDeadline::After(-1ms).HasLimit());
  // A limit beyond the clock's range saturates to none instead of wrapping into the past.
  EXPECT_FALSE(TIdDeadline::After(std::chrono::milliseconds::max()).Expired());
}

TEST(Deadline, CheckNamesCancelBeforeExpiry) {
  auto cancel = std::make_shared<TIdCancellation>();
  const TIdDeadline d = TIdDeadline::At(TClock::now() - 1s, cancel);
  EXPECT_THROW(d.Check(), EIdDeadlineExceeded);
  cancel->Cancel();
  EXPECT_THROW(d.Check(), EIdOperationCancelled);
  EXPECT_NO_THROW(TIdDeadline().Check());
  // The sooner of two keeps the earlier limit and whichever cancellation there is.
  const TIdDeadline later = TIdDeadline::After(1h);
  const TIdDeadline both = later.Sooner(d);
  EXPECT_EQ(both.Limit(), d.Limit());
  EXPECT_TRUE(both.Cancelled());
}

TEST(Deadline, CancelFromAnotherThreadWakesAPoll) {
  auto cancel = std::make_shared<TIdCancellation>();
  ASSERT_GE(cancel->WaitHandle(), 0);
  std::thread canceller([&] {
    std::this_thread::sleep_for(20ms);
    cancel->Cancel();
  });
  pollfd fd{cancel->WaitHandle(), POLLIN, 0};
  const int ready = ::poll(&fd, 1, -1);  // would hang for ever without the wake-up
  canceller.join();
  EXPECT_EQ(ready, 1);
  EXPECT_TRUE(cancel->Cancelled());
}

}  // namespace
}  // namespace brv
