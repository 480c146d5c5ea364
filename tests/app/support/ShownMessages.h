// Collecting what the window would show in a message box.
#pragma once

#include <QStringList>

#include "app/ExceptionGuard.h"

// The messages given to the exception reporter while this object lives, in order; the
// reporter in place before is back once it goes. Declare it before the window it watches, so
// that the window is gone first.
class TShownMessages : public QStringList {
 public:
  TShownMessages()
      : previous_(
            SetExceptionReporter([this](QWidget*, const QString& Message) { *this << Message; })) {}
  ~TShownMessages() { SetExceptionReporter(previous_); }
  TShownMessages(const TShownMessages&) = delete;
  TShownMessages& operator=(const TShownMessages&) = delete;

 private:
  TExceptionReporter previous_;
};
