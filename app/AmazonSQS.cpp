// Program start: the GUI application, its one window, the message loop.
#include <QApplication>
#include <QIcon>

#include "app/FAmazonSQS.h"
#include "app/StartupProbe.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Amazon SQS"));
  QApplication::setDesktopFileName(QStringLiteral("amazon-sqs"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/amazon-sqs.png")));
  TFRMAmazonSQS window;
  FRMAmazonSQS = &window;
  InstallStartupProbe(window);
  window.show();
  const int result = QApplication::exec();
  FRMAmazonSQS = nullptr;
  return result;
}
