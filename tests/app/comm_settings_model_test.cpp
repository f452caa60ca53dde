#include "app/comm_settings_model.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/config.h"
#include "link/port_settings.h"
#include "tests/app/temp_dir.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4 {
namespace {

using Model = CommSettingsModel;
constexpr int kNone = Model::kNone;

class CommSettingsModelTest : public ::testing::Test {
 protected:
  CommSettingsModelTest() {
    port.existingPorts = {1, 2, 5};
    port.setSettings("9600,N,8,1");
    port.setPortOpen(true);
  }

  std::vector<int> marks() const {
    std::vector<int> marks;
    for (int g = 0; g < Model::kGroupCount; ++g) marks.push_back(model.marked(Model::Group(g)));
    return marks;
  }
  // The first two lines of the configuration file: port number and settings text.
  std::string fileStart() const {
    const std::string text = test::readBytes(path);
    return text.substr(0, text.find("\r\n", text.find("\r\n") + 2));
  }

  test::TempDir dir;
  test::VirtualToolkit toolkit;
  test::SimSerialPort port{toolkit};
  LinkState state;
  std::string path = dir.file("TRV4.INI");
  Configuration config{state, port, toolkit, path};
  Model model{port, toolkit, [this] { config.SaveSettings(); }};
};

TEST_F(CommSettingsModelTest, ShowsThePortAndOkAppliesTheChoice) {
  model.load();
  EXPECT_EQ(marks(), (std::vector<int>{0, 4, 0, 1, 0, 0}));  // Com1 9600 None 8 1 None
  model.click(Model::ComPortGroup, 1);                       // Com2
  model.click(Model::BaudGroup, 5);                          // 19200
  model.click(Model::ParityGroup, 2);                        // Even
  model.click(Model::DataGroup, 0);                          // 7
  model.click(Model::FlowGroup, 1);                          // Xon/Xoff
  model.ok();
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_EQ(port.closes, 1);
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(port.commPort(), 2);
  EXPECT_EQ(port.settings(), "19200,E,7,1");
  EXPECT_EQ(port.handshaking(), 1);
  EXPECT_EQ(fileStart(), "\"2 ' port nr 1,2,3,4\"\r\n\"19200,E,7,1\"");
}

struct MarkingCase {
  const char* name;
  int commPort;
  const char* settings;
  int handshaking;
  std::vector<int> marks;
  const char* choice;  // the settings text the marked options make
};

class CommSettingsMarkingTest : public CommSettingsModelTest,
                                public ::testing::WithParamInterface<MarkingCase> {};

TEST_P(CommSettingsMarkingTest, MarksWhatThePortHolds) {
  const MarkingCase& c = GetParam();
  port.setPortOpen(false);
  ASSERT_FALSE(port.setCommPort(c.commPort));
  ASSERT_FALSE(port.setSettings(c.settings));
  ASSERT_FALSE(port.setHandshaking(c.handshaking));
  model.load();
  EXPECT_EQ(marks(), c.marks);
  EXPECT_EQ(model.settingsChoice(), c.choice);
}

INSTANTIATE_TEST_SUITE_P(
    PortStates, CommSettingsMarkingTest,
    ::testing::Values(
        // 600 cannot be clicked but is shown.
        MarkingCase{"SixHundredBaud", 2, "600,O,7,2", 3, {1, 0, 1, 0, 1, 3}, "600,O,7,2"},
        MarkingCase{"LowerCaseParity", 4, "115200,e,8,1", 2, {3, 8, 2, 1, 0, 2}, "115200,E,8,1"},
        MarkingCase{"BaudWithoutOption", 1, "300,N,8,1", 0, {0, kNone, 0, 1, 0, 0}, ",N,8,1"},
        MarkingCase{"PortWithoutOption", 5, "4800,E,7,1", 1, {kNone, 3, 2, 0, 0, 1}, "4800,E,7,1"}),
    [](const ::testing::TestParamInfo<MarkingCase>& info) { return std::string(info.param.name); });

TEST_F(CommSettingsModelTest, RefusedSettingsAreReportedAndTheRestStillRuns) {
  port.setPortOpen(false);
  port.setSettings("300,N,8,1");  // no option shows 300: the baud field stays empty
  model.load();
  model.click(Model::ComPortGroup, 1);
  model.click(Model::FlowGroup, 2);
  model.ok();

  std::string error;
  ASSERT_FALSE(parseLineSettings(",N,8,1", &error));
  ASSERT_EQ(toolkit.messages.size(), 1u);
  EXPECT_NE(toolkit.messages[0].find(error), std::string::npos);
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(port.handshaking(), 2);
  EXPECT_EQ(fileStart(), "\"2 ' port nr 1,2,3,4\"\r\n\"300,N,8,1\"");
}

TEST_F(CommSettingsModelTest, PortThatFailsToOpenIsReportedAndTheRestStillRuns) {
  model.load();
  model.click(Model::ComPortGroup, 2);  // Com3 does not exist
  model.click(Model::BaudGroup, 6);     // 38400
  model.ok();
  ASSERT_EQ(toolkit.messages.size(), 1u);
  EXPECT_NE(toolkit.messages[0].find("Port 3 does not exist"), std::string::npos);
  EXPECT_FALSE(port.portOpen());
  EXPECT_EQ(fileStart(), "\"3 ' port nr 1,2,3,4\"\r\n\"38400,N,8,1\"");
}

TEST_F(CommSettingsModelTest, PortWithoutOptionKeepsItsNumberOnOk) {
  port.setPortOpen(false);
  port.setCommPort(5);
  model.load();
  model.ok();
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_EQ(port.commPort(), 5);
  EXPECT_TRUE(port.portOpen());
}

}  // namespace
}  // namespace trv4
