// Reading a modal message box from inside its own event loop.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// While this object lives, the first modal message box that opens is read and accepted; its
// text, title and icon are then in the fields.
class TModalBoxReader {
 public:
  TModalBoxReader() {
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      poll_.stop();
      Text = box->text();
      Title = box->windowTitle();
      Icon = box->icon();
      box->accept();
    });
    poll_.start(10);
  }
  TModalBoxReader(const TModalBoxReader&) = delete;
  TModalBoxReader& operator=(const TModalBoxReader&) = delete;

  QString Text, Title;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;

 private:
  QTimer poll_;
};
