#include "http/quiet_qt_logging.h"

#include <QLoggingCategory>
#include <atomic>
#include <cstring>
#include <mutex>

namespace trv4 {

namespace {

std::atomic<QLoggingCategory::CategoryFilter> previous{nullptr};

bool isServers(const char* name) {
  return std::strncmp(name, "qt.httpserver", 13) == 0 ||
         std::strncmp(name, "qt.websockets", 13) == 0;
}

void filter(QLoggingCategory* category) {
  if (const QLoggingCategory::CategoryFilter before = previous.load()) before(category);
  if (!isServers(category->categoryName())) return;
  category->setEnabled(QtDebugMsg, false);
  category->setEnabled(QtInfoMsg, false);
}

}  // namespace

void keepQtServerDebugOff() {
  static std::once_flag once;
  std::call_once(once, [] { previous = QLoggingCategory::installFilter(filter); });
}

}  // namespace trv4
