// Program start: the GUI application, its one window, the message loop.
#include <sys/prctl.h>

#include <QApplication>
#include <QIcon>

#include "app/FAmazonSQS.h"
#include "app/StartupProbe.h"

int main(int argc, char* argv[]) {
  // The window holds the secret key: no core file, and no other process of the user may
  // attach to it or read its memory.
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
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
