// The program in this process against the simulator, worked through its menus and windows.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/program_driver.h"

namespace trv4::e2e {
namespace {

using scalesim::monotonicSeconds;
using scalesim::readFile;

// The local time as the log writes it, "yyyy-MM-dd;HH:mm:ss": such stamps sort as text.
std::string stampNow() {
  return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd;HH:mm:ss")).toStdString();
}

// Line contents are proven in virtual time; here the real clock paces them. B tared, C Greek.
TEST(WeightLogE2E, ContinuousLogWritesEveryPolledScaleEachTickUntilStopped) {
  InProcessSession s({"--scales", "A-C", "--static", "--load", "A=12.5", "--tare", "B=1", "--load",
                      "B=3", "--text", "C=ΖΥΓΟΣ"},
                     "111");
  ASSERT_EQ(s.failure(), "");
  QAction* log = menuEntry(s.program, "mWLog");
  ASSERT_NE(log, nullptr);
  auto panel = [&](int i) { return s.program.app().monitor().panel(i).view.text; };
  // The first replies of all three scales are in before the log starts: every line holds them.
  ASSERT_TRUE(runEventsUntil(
      [&] { return !panel(0).empty() && !panel(1).empty() && !panel(2).empty(); }, 20000))
      << "the monitor did not show all three scales";
  const std::string a = panel(0), b = panel(1);
  const std::string path = s.dir.file("weights.log");
  const std::string firstStamp = stampNow();
  const double startedAt = monotonicSeconds();
  ASSERT_EQ(click(*log, {QString::fromStdString(path), QStringLiteral("0")}).size(), 2u);
  // Forty lines or more, however long a loaded machine takes to write them.
  EXPECT_TRUE(runEventsUntil([&] { return std::ranges::count(readFile(path), '\n') > 40; }, 30000));
  ASSERT_EQ(click(*log).size(), 1u);
  const double seconds = monotonicSeconds() - startedAt;
  const std::string lastStamp = stampNow();
  const std::string text = readFile(path);
  ASSERT_TRUE(text.ends_with("\r\n"));
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < text.size(); at = end + 2)
    lines.push_back(text.substr(at, (end = text.find("\r\n", at)) - at));
  // A line every 25 ms tick: 40 a second, never more; a loaded machine may miss ticks.
  EXPECT_LE(lines.size(), static_cast<size_t>(seconds / 0.025) + 2) << seconds << " s";

  // A's and B's fields as the monitor shows them; C's text as the scale sent it, in Windows-1253.
  const std::string weights = a + ";G;;" + b + ";N;;" + "\xC6\xD5\xC3\xCF\xD3 ;G;;";
  const std::regex stamp(R"(\d{4}-\d{2}-\d{2};\d{2}:\d{2}:\d{2})");
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string when = lines[i].substr(0, 19);
    ASSERT_TRUE(std::regex_match(when, stamp) && when >= firstStamp && when <= lastStamp &&
                lines[i].substr(19) == ";" + weights)
        << "line " << i << " of " << lines.size() << ": " << ::testing::PrintToString(lines[i])
        << "; expected " << firstStamp << "..." << lastStamp << ";"
        << ::testing::PrintToString(weights);
  }

  // Stopped means stopped: no line is added after the message.
  runEvents(0.1);
  EXPECT_EQ(readFile(path).size(), text.size());
}

TEST(ParamsE2E, UploadDownloadAndUploadAgainReadBackWhatWasWritten) {
  InProcessSession s({"--scales", "A-C", "--static"}, "111");
  ASSERT_EQ(s.failure(), "");
  Application& app = s.program.app();
  ASSERT_TRUE(runEventsUntil([&] { return !app.monitor().panel(1).view.text.empty(); }, 20000));
  s.program.window()->findChild<QComboBox*>("SingleScale")->setCurrentText("B");

  ASSERT_TRUE(click(*menuEntry(s.program, "mParam")).empty()) << "a message during the upload";
  ASSERT_TRUE(runEventsUntil([&] { return app.param() && !app.param()->busy(); }, 30000));
  QWidget* window = topLevelWindow("Param");
  ASSERT_NE(window, nullptr);
  auto button = [&](const char* name) { return window->findChild<QPushButton*>(name); };

  window->findChild<QLineEdit*>("vSetp1")->setText("321");
  {
    ModalAnswerer answerer;
    button("Command4")->click();  // download operational parameters
    button("Command3")->click();  // download weight parameters
    EXPECT_TRUE(answerer.boxes().empty()) << answerer.boxes().front().text.toStdString();
  }
  // What the scale took reads back (the frames: ParamTest.DownloadsWriteFieldByField...).
  window->findChild<QLineEdit*>("vSetp1")->setText("9");
  button("Command2")->click();  // upload again
  EXPECT_EQ(app.param()->value("vSetp1"), "00321");
}

}  // namespace
}  // namespace trv4::e2e
