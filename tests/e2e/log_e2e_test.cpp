// The weight log end to end, in real time: the program runs in this process against the simulator
// on a pseudo-terminal; the test works the "Log" menu and its boxes as an operator would and reads
// the file the program wrote.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <filesystem>
#include <memory>
#include <ostream>
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

// The pieces between CRLF line ends; the last piece is what follows the last one.
std::vector<std::string> splitCrlf(const std::string& text) {
  std::vector<std::string> pieces;
  size_t from = 0;
  for (size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
    pieces.push_back(text.substr(from, end - from));
  }
  pieces.push_back(text.substr(from));
  return pieces;
}

// Scales A (12.5 kg), B (tared with 1 kg, 3 kg on it) and C (showing a Greek text) on the line,
// all three polled.
class WeightLogE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    s_ = std::make_unique<InProcessSession>(
        std::vector<std::string>{"--scales", "A-C", "--static", "--load", "A=12.5", "--tare", "B=1",
                                 "--load", "B=3", "--text", "C=ΖΥΓΟΣ"},
        "111");
    ASSERT_EQ(s_->failure(), "");
    log_ = menuEntry(s_->program, "mWLog");
    ASSERT_NE(log_, nullptr);
  }

  const PanelView& panel(int i) { return s_->program.app().monitor().panel(i).view; }

  std::unique_ptr<InProcessSession> s_;
  QAction* log_ = nullptr;
};

TEST_F(WeightLogE2E, ContinuousLogWritesEveryPolledScaleEachTickUntilStopped) {
  // The first replies of all three scales are in before the log starts: every line holds them.
  ASSERT_TRUE(runEventsUntil(
      [&] { return !panel(0).text.empty() && !panel(1).text.empty() && !panel(2).text.empty(); },
      20000))
      << "the monitor did not show all three scales";
  const std::string a = panel(0).text, b = panel(1).text;
  EXPECT_NE(a.find("12.50"), std::string::npos) << a;
  EXPECT_NE(b.find("2.00"), std::string::npos) << b;  // net: 3 kg less the 1 kg tare

  const std::string path = s_->dir.file("weights.log");
  const std::string firstStamp = stampNow();
  const double startedAt = monotonicSeconds();
  std::vector<ModalBox> boxes = click(*log_, {QString::fromStdString(path), QStringLiteral("0")});
  ASSERT_EQ(boxes.size(), 2u);
  // The file name offered is TRV4W.Log in the current folder.
  const std::filesystem::path offered = boxes[0].value.toStdString();
  EXPECT_EQ(offered.filename(), "TRV4W.Log");
  EXPECT_TRUE(std::filesystem::equivalent(offered.parent_path(), s_->dir.path()))
      << offered.string();

  // Forty lines or more, however long a loaded machine takes to write them.
  EXPECT_TRUE(runEventsUntil([&] { return splitCrlf(readFile(path)).size() > 40; }, 30000));
  boxes = click(*log_);
  const double seconds = monotonicSeconds() - startedAt;
  const std::string lastStamp = stampNow();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Weight Log Finished");

  ASSERT_TRUE(std::filesystem::exists(path));
  const std::string text = readFile(path);
  std::vector<std::string> lines = splitCrlf(text);
  EXPECT_EQ(lines.back(), "") << "the last line has no CRLF";
  lines.pop_back();
  // A line every 25 ms tick: 40 a second, never more; a loaded machine may miss ticks.
  EXPECT_GE(lines.size(), 40u);
  EXPECT_LE(lines.size(), static_cast<size_t>(seconds / 0.025) + 2) << seconds << " s";

  // A's and B's fields as the monitor shows them; C's text as the scale sent it, in Windows-1253.
  const std::string weights = a + ";G;;" + b + ";N;;" + "\xC6\xD5\xC3\xCF\xD3 ;G;;";
  const std::regex stamp(R"(\d{4}-\d{2}-\d{2};\d{2}:\d{2}:\d{2})");
  int bad = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::string when = line.substr(0, 19);
    const bool ok = line.size() > 20 && std::regex_match(when, stamp) && line[19] == ';' &&
                    when >= firstStamp && when <= lastStamp && line.substr(20) == weights &&
                    line.find_first_of("\r\n") == std::string::npos;
    if (!ok && ++bad <= 3) ADD_FAILURE() << "line " << i << ": " << ::testing::PrintToString(line);
  }
  EXPECT_EQ(bad, 0) << "of " << lines.size() << " lines; expected " << firstStamp << "..."
                    << lastStamp << ";" << ::testing::PrintToString(weights);

  // Stopped means stopped: no line is added after the message.
  runEvents(0.1);
  EXPECT_EQ(readFile(path).size(), text.size());
}

}  // namespace
}  // namespace trv4::e2e
