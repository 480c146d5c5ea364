#include "app/ExceptionGuard.h"

#include <exception>
#include <new>

#include <QMessageBox>
#include <QWidget>

#include "base/Exception.h"

namespace {

void ShowInMessageBox(QWidget* Parent, const QString& Message) {
  const QString title = Parent ? Parent->window()->windowTitle() : QString();
  QMessageBox::critical(Parent, title, Message, QMessageBox::Ok);
}

TExceptionReporter& Reporter() {
  static TExceptionReporter reporter = ShowInMessageBox;
  return reporter;
}

}  // namespace

const TExceptionReporter& ExceptionReporter() {
  return Reporter();
}

TExceptionReporter SetExceptionReporter(TExceptionReporter Reporter_) {
  TExceptionReporter previous = std::move(Reporter());
  Reporter() = Reporter_ ? std::move(Reporter_) : TExceptionReporter(ShowInMessageBox);
  return previous;
}

QString CurrentExceptionMessage() {
  try {
    throw;
  } catch (const brv::Exception& e) {
    return QString::fromStdString(e.Message());
  } catch (const std::bad_alloc&) {
    return QStringLiteral("Out of memory: the operation was stopped.");
  } catch (const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
  } catch (...) {
    return QStringLiteral("An unknown error occurred.");
  }
}

bool RunGuarded(QWidget* Parent, const std::function<void()>& Action) noexcept {
  QString message;
  try {
    Action();
    return true;
  } catch (...) {
    try {
      message = CurrentExceptionMessage();
    } catch (...) {
      // Not even the text could be built (out of memory): show what we can.
      message = QStringLiteral("Out of memory: the operation was stopped.");
    }
  }
  // Reported outside the catch block: the reporter runs a modal loop, and a second exception
  // raised while it is open must not meet this one still in flight.
  try {
    ExceptionReporter()(Parent, message);
  } catch (...) {
    // A reporter that fails has nobody left to report to.
  }
  return false;
}
