// A line that disappears and comes back, in real time: the program runs in this process against
// the simulator; the simulator ends (its pseudo-terminal goes away, as a pulled adapter does) and
// a new one starts under the same ./COM1 link. The program opens the port again by itself.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <csignal>
#include <filesystem>
#include <memory>

#include "tests/support/program_driver.h"

namespace trv4::e2e {
namespace {

bool polled(const scalesim::Simulator& sim) {
  return !received(sim.log()).empty();
}

TEST(ReconnectE2E, ALineThatComesBackUnderTheSameLinkIsPolledAgain) {
  InProcessSession s({"--scales", "A-C", "--static"}, "111");
  ASSERT_EQ(s.failure(), "");
  ASSERT_TRUE(runEventsUntil([&] { return polled(s.sim); }, 20000));
  const std::string settings = s.program.app().port().settings();

  ModalAnswerer answerer;
  ASSERT_TRUE(s.sim.process().stop(SIGTERM, 10000));
  ASSERT_TRUE(runEventsUntil([&] { return !s.program.app().port().portOpen(); }, 20000));
  // Tries while the device is gone: no message for them, and the port number does not fall to
  // another device meanwhile (./COM1 is gone, /dev/ttyS0 may exist).
  runEvents(2.5);
  EXPECT_FALSE(s.program.app().port().portOpen());

  std::filesystem::remove(s.dir.file("sim.log"));
  scalesim::Simulator back(s.dir, {"--scales", "A-C", "--static"});
  ASSERT_TRUE(back.ready());
  // Polled and open, waited for together.
  EXPECT_TRUE(
      runEventsUntil([&] { return polled(back) && s.program.app().port().portOpen(); }, 20000))
      << "polled " << polled(back) << ", open " << s.program.app().port().portOpen();
  EXPECT_EQ(s.program.app().port().settings(), settings);
  EXPECT_EQ(answerer.boxes().size(), 1u);  // the loss only (its text: ReconnectTest)
}

}  // namespace
}  // namespace trv4::e2e
