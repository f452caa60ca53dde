// The TRV-4 support tool: polls a network of scales on one serial line.
#include <QApplication>

#include "app/app_icon.h"
#include "app/program.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TRV4"));
  QApplication::setWindowIcon(trv4::appIcon());

  trv4::Program program;
  // No configuration file and no port: the messages have been shown, the program ends before
  // its window appears.
  if (!program.start()) return 1;
  return QApplication::exec();
}
