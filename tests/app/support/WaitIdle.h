// Waiting for the window's operations, which run on its worker thread.
#pragma once

#include <QTest>

#include "app/FAmazonSQS.h"

// Processes events until every operation started in Form has logged its result. The bound
// only keeps a broken build from hanging the run.
inline bool WaitUntilIdle(const TFRMAmazonSQS& Form) {
  return QTest::qWaitFor([&] { return !Form.Busy(); }, 120000);
}
