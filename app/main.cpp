// The TRV-4 support tool: polls a network of scales on one serial line.
#include <QApplication>

#include "app/app_icon.h"
#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_toolkit.h"
#include "link/qt_serial_port.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TRV4"));
  QApplication::setWindowIcon(trv4::appIcon());

  trv4::QtToolkit toolkit(QStringLiteral("TRV4"));
  trv4::QtSerialPort port;
  trv4::Application app(port, toolkit);
  // No configuration file and no port: the messages have been shown, the program ends before
  // its window appears.
  if (!app.MDIForm_Load()) return 1;

  trv4::MainWindow window(app, toolkit);
  window.show();
  return QApplication::exec();
}
