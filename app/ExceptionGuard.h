// The one place where an exception raised by an operation the user started is caught and
// shown. Exceptions must never travel through Qt's event dispatch, so every click handler of
// the window runs through RunGuarded.
#pragma once

#include <functional>

#include <QString>

class QWidget;

// Shows the message of an exception that ended an operation. Parent is the window the
// operation was started from (may be null).
using TExceptionReporter = std::function<void(QWidget* Parent, const QString& Message)>;

// The reporter in force: by default a critical message box with the message and an OK
// button, titled with the parent window's title.
const TExceptionReporter& ExceptionReporter();

// Replaces the reporter (an empty function restores the message box) and returns the one
// that was in force, so that a caller can put it back.
TExceptionReporter SetExceptionReporter(TExceptionReporter Reporter);

// Runs Action. Any exception it raises is caught here and its message is handed to the
// reporter; nothing escapes. Returns true when Action ended normally.
bool RunGuarded(QWidget* Parent, const std::function<void()>& Action) noexcept;

// The text shown for the exception in flight; call only inside a catch block.
QString CurrentExceptionMessage();
