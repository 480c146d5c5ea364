// The main of a benchmark of the window's views.
#pragma once

#include <QApplication>

#include "support/BenchMain.h"

namespace brv::bench {

// Runs the registered benchmarks inside a QApplication, on Qt's offscreen platform unless
// QT_QPA_PLATFORM names another.
inline int RunQtBenchmarks(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  RunRegisteredBenchmarks(argc, argv);
  return 0;
}

}  // namespace brv::bench
