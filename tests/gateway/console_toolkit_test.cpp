// The shared Qt clock, as the gateway's toolkit has it: the texts a log line starts with.
#include "gateway/console_toolkit.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "base/widget_text.h"

namespace trv4 {
namespace {

TEST(ConsoleToolkit, ClockTextsAreTheLocalDateAndTimeOfThisSecond) {
  setenv("TZ", "<+0530>-5:30", 1);  // half an hour off whole hours, so local is not UTC
  tzset();
  ConsoleToolkit toolkit;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const QDateTime before = QDateTime::currentDateTime();
    const Toolkit::ClockText first = toolkit.clockText();
    const Toolkit::ClockText again = toolkit.clockText();
    const QDateTime after = QDateTime::currentDateTime();
    if (before.toSecsSinceEpoch() != after.toSecsSinceEpoch()) continue;  // a second began
    EXPECT_EQ(first.date, toCodePage(before.toString(QStringLiteral("yyyy-MM-dd"))));
    EXPECT_EQ(first.time, toCodePage(before.toString(QStringLiteral("HH:mm:ss"))));
    EXPECT_EQ(std::pair(again.date, again.time), std::pair(first.date, first.time));
    return;
  }
  FAIL() << "every attempt straddled a second";
}

}  // namespace
}  // namespace trv4
