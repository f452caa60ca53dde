// The calibration window end to end, in real time: the program runs in this process against the
// simulator on a pseudo-terminal; an operator types into the window and clicks its buttons, and
// the test reads the frames the scale received and the weights it reports afterwards.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <deque>
#include <string>
#include <vector>

#include "tests/support/program_driver.h"

namespace trv4::e2e {
namespace {

QWidget* calibWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "Calib") return w;
  }
  return nullptr;
}

// Acts on the calibration window every 20 ms: when Start shows, types the next scripted answer
// key by key into the box (when it takes input) and clicks Start. The act is queued, not done in
// the timer's own pass: a timer that fires in the pass in which a message box is closed would
// click Start before the procedure waits for it again, and the click would be lost for good.
class Operator {
 public:
  explicit Operator(std::deque<QString> answers) : answers_(std::move(answers)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (queued_) return;
      queued_ = true;
      QMetaObject::invokeMethod(
          &timer_,
          [this] {
            queued_ = false;
            act();
          },
          Qt::QueuedConnection);
    });
    timer_.start(20);
  }

 private:
  void act() {
    QWidget* w = calibWindow();
    if (!w || !w->isVisible() || answers_.empty() || QApplication::activeModalWidget()) return;
    auto* start = w->findChild<QToolButton*>("StartCmd");
    if (!start->isVisible()) return;
    const QString keys = answers_.front();
    answers_.pop_front();
    auto* box = w->findChild<QLineEdit*>("AskTxt");
    if (box->isVisible() && box->isEnabled()) {
      box->clear();
      for (QChar c : keys) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &press);
      }
    }
    start->click();
  }
  QTimer timer_;
  bool queued_ = false;
  std::deque<QString> answers_;
};

// Bodies of the calibration commands scale B received, in order.
std::vector<std::string> calibrationFrames(scalesim::Simulator& sim) {
  std::vector<std::string> bodies;
  for (const auto& e : received(sim.log())) {
    const std::string body = e.bytes.substr(1, e.bytes.size() - 4);
    if (body.size() >= 2 && body[0] == 'B' &&
        std::string("abcABC").find(body[1]) != std::string::npos)
      bodies.push_back(body.substr(1));
  }
  return bodies;
}

class CalibE2E : public ::testing::Test {
 protected:
  void open(std::vector<std::string> simArgs) {
    s = std::make_unique<InProcessSession>(simArgs, "111");
    ASSERT_EQ(s->failure(), "");
    app = &s->program.app();
    ASSERT_TRUE(runEventsUntil([&] { return !app->monitor().panel(1).view.text.empty(); }, 20000));
    s->program.window()->findChild<QComboBox*>("SingleScale")->setCurrentText("B");
  }
  std::string weightB() const { return app->monitor().panel(1).view.text; }

  std::unique_ptr<InProcessSession> s;
  Application* app = nullptr;
};

TEST_F(CalibE2E, SpanCalibrationKeyedInTheWindowChangesTheWeightTheScaleReports) {
  open({"--scales", "A-C", "--static", "--load", "B=20"});
  const std::string before = weightB();
  Operator op({"2.", "2500"});
  // The point is refused on the spot and empties the box; Start with the box empty asks again.
  const auto boxes = click(*menuEntry(s->program, "mWSpan"));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "DECIMAL POINT NOT ALLOWED");
  EXPECT_EQ(boxes[1].text, "Wrong input data");
  EXPECT_EQ(calibrationFrames(s->sim), std::vector<std::string>{"b02500"});
  EXPECT_FALSE(calibWindow()->isVisible());
  EXPECT_FALSE(app->calib().running());
  // The 20 kg load now reads as the 2500 keyed in, as the display shows it. Waited for as such:
  // the scale's working text, or a reply filed before the step, shows meanwhile.
  EXPECT_TRUE(runEventsUntil([&] { return weightB() == "25.00 kg"; }, 20000))
      << "before " << before << ", now " << weightB();
}

TEST_F(CalibE2E, ClosingTheWindowStopsAWaitAndQuittingEndsAnOperatorWait) {
  // The scale works on each calibration step for 40 s, longer than the window's own 30 s limit.
  open({"--scales", "A-C", "--static", "--work-ms", "40000"});
  // The frame's close button while the scale works on the command: taken as Stop.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [this] {
    QWidget* w = calibWindow();
    if (w && w->isVisible() && w->findChild<QToolButton*>("StopCmd")->isVisible() &&
        app->state().CommandQueue[1].empty())
      w->close();
  });
  closer.start(20);
  {
    Operator op({""});
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(click(*menuEntry(s->program, "mWZero")).empty());
    EXPECT_LT(clock.elapsed(), 20000);  // ended by the close, not by the scale or the limit
  }
  closer.stop();
  EXPECT_FALSE(calibWindow()->isVisible());
  // The command had left the program when the window closed; the simulator logs it once read.
  EXPECT_TRUE(runEventsUntil([&] { return !calibrationFrames(s->sim).empty(); }, 20000));
  EXPECT_EQ(calibrationFrames(s->sim), std::vector<std::string>{"a"});

  // "Exit" while the electronic zero calibration waits for its number: the procedure ends and the
  // menu click returns, so the program's event loop can end.
  QTimer::singleShot(300, [this] { menuEntry(s->program, "mExit")->trigger(); });
  EXPECT_TRUE(click(*menuEntry(s->program, "mEZero")).empty());
  EXPECT_FALSE(app->calib().running());
  EXPECT_EQ(calibrationFrames(s->sim), std::vector<std::string>{"a"});
}

}  // namespace
}  // namespace trv4::e2e
