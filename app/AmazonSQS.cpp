// Program start: the GUI application, its one window, the message loop.
#include <sys/prctl.h>

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstring>

#include "app/FAmazonSQS.h"
#include "app/StartupProbe.h"

namespace {

const char kHelp[] =
    "Usage: amazon-sqs [--help] [--version]\n"
    "\n"
    "Amazon SQS desktop client: one window to list, create, inspect, reconfigure, purge and\n"
    "delete queues, and to send, receive and delete messages. Type a region, an access key\n"
    "and a secret key, name a queue, and press an operation's button (Escape cancels it).\n"
    "View > Queue Browser lists every queue with its counts.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n"
    "The standard Qt options (-platform NAME, ...) are accepted as well.\n"
    "\n"
    "Environment:\n"
    "  AWS_ENDPOINT_URL_SQS, AWS_ENDPOINT_URL\n"
    "                 send requests to this endpoint instead of the regional one\n"
    "  AWS_CA_BUNDLE  trust the CA certificates in this PEM file besides the system's\n"
    "  AWS_PROFILE, AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN\n"
    "                 credentials used when both key fields are empty (then the profile's\n"
    "                 keys or credential_process in ~/.aws/credentials and ~/.aws/config)\n"
    "  HTTPS_PROXY, HTTP_PROXY, NO_PROXY\n"
    "                 the HTTP proxy for https and http endpoints, and hosts reached directly\n"
    "\n"
    "See also: sqs(1), the same operations (and more) from the command line.\n";

}  // namespace

int main(int argc, char* argv[]) {
  // The window holds the secret key: no core file, and no other process of the user may
  // attach to it or read its memory.
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  // Answered before the application object exists: that needs a display, and these do not.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fputs("amazon-sqs " BRV_VERSION "\n", stdout);
      return 0;
    }
  }
  // The menu bar always stands in the window. Without this, making it first asks the session
  // bus whether a global menu service runs, a wait for the bus before the window can paint,
  // for a menu the window would not hand over anyway.
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
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
