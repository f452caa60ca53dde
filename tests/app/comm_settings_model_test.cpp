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
    return {model.marked(Model::ComPortGroup), model.marked(Model::BaudGroup),
            model.marked(Model::ParityGroup),  model.marked(Model::DataGroup),
            model.marked(Model::StopGroup),    model.marked(Model::FlowGroup)};
  }

  // Line n (1-based) of the configuration file, without its quotes and line end.
  std::string fileLine(int n) const {
    const std::string text = test::readBytes(path);
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) start = text.find("\r\n", start) + 2;
    const std::size_t end = text.find("\r\n", start);
    return text.substr(start + 1, end - start - 2);
  }

  test::TempDir dir;
  test::VirtualToolkit toolkit;
  test::SimSerialPort port{toolkit};
  LinkState state;
  std::string path = dir.file("TRV4.INI");
  Configuration config{state, port, toolkit, path};
  Model model{port, toolkit, [this] { config.SaveSettings(); }};
};

TEST_F(CommSettingsModelTest, ShowsThePortAndOkReopensItUnchanged) {
  model.load();
  // Com1, 9600, None, 8, 1, None.
  EXPECT_EQ(marks(), (std::vector<int>{0, 4, 0, 1, 0, 0}));
  EXPECT_EQ(model.PortChoice, 1);
  EXPECT_EQ(model.settingsChoice(), "9600,N,8,1");
  EXPECT_EQ(model.FlowChoice, 0);

  model.ok();
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_EQ(port.closes, 1);
  EXPECT_EQ(port.opens, 2);
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(port.commPort(), 1);
  EXPECT_EQ(port.settings(), "9600,N,8,1");
  EXPECT_EQ(port.handshaking(), 0);
  EXPECT_EQ(fileLine(1), "1 ' port nr 1,2,3,4");
  EXPECT_EQ(fileLine(2), "9600,N,8,1");
}

TEST_F(CommSettingsModelTest, OkAppliesTheOperatorsChoice) {
  model.load();
  model.click(Model::ComPortGroup, 1);  // Com2
  model.click(Model::BaudGroup, 5);     // 19200
  model.click(Model::ParityGroup, 2);   // Even
  model.click(Model::DataGroup, 0);     // 7
  model.click(Model::StopGroup, 0);     // 1
  model.click(Model::FlowGroup, 1);     // Xon/Xoff
  EXPECT_EQ(marks(), (std::vector<int>{1, 5, 2, 0, 0, 1}));

  model.ok();
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(port.commPort(), 2);
  EXPECT_EQ(port.settings(), "19200,E,7,1");
  EXPECT_EQ(port.handshaking(), 1);
  EXPECT_EQ(fileLine(1), "2 ' port nr 1,2,3,4");
  EXPECT_EQ(fileLine(2), "19200,E,7,1");
  EXPECT_EQ(fileLine(8).substr(0, 8), "11111111");  // the handshaking has no place in the file
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
  EXPECT_EQ(model.PortChoice, c.marks[0] == kNone ? 0 : c.marks[0] + 1);
}

INSTANTIATE_TEST_SUITE_P(
    PortStates, CommSettingsMarkingTest,
    ::testing::Values(
        // 600 and 1200 cannot be clicked but are shown.
        MarkingCase{"SixHundredBaud", 2, "600,O,7,2", 3, {1, 0, 1, 0, 1, 3}, "600,O,7,2"},
        MarkingCase{"LowerCaseParity", 4, "115200,e,8,1", 2, {3, 8, 2, 1, 0, 2}, "115200,E,8,1"},
        MarkingCase{"BaudWithoutOption", 1, "300,N,8,1", 0, {0, kNone, 0, 1, 0, 0}, ",N,8,1"},
        MarkingCase{"PortWithoutOption", 5, "4800,E,7,1", 1, {kNone, 3, 2, 0, 0, 1}, "4800,E,7,1"}),
    [](const ::testing::TestParamInfo<MarkingCase>& info) { return std::string(info.param.name); });

TEST_F(CommSettingsModelTest, RefusedSettingsAreReportedAndTheRestStillRuns) {
  port.setPortOpen(false);
  port.setSettings("300,N,8,1");  // no baud option shows 300
  model.load();
  model.click(Model::ComPortGroup, 1);
  model.click(Model::FlowGroup, 2);
  model.ok();

  std::string error;
  ASSERT_FALSE(parseLineSettings(",N,8,1", &error));
  ASSERT_EQ(toolkit.messages.size(), 1u);
  EXPECT_NE(toolkit.messages[0].find(",N,8,1"), std::string::npos);
  EXPECT_NE(toolkit.messages[0].find(error), std::string::npos);
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(port.commPort(), 2);
  EXPECT_EQ(port.handshaking(), 2);
  EXPECT_EQ(fileLine(1), "2 ' port nr 1,2,3,4");
  EXPECT_EQ(fileLine(2), "300,N,8,1");
}

TEST_F(CommSettingsModelTest, PortThatFailsToOpenIsReportedAndTheRestStillRuns) {
  model.load();
  model.click(Model::ComPortGroup, 2);  // Com3 does not exist
  model.click(Model::BaudGroup, 6);     // 38400
  model.ok();

  ASSERT_EQ(toolkit.messages.size(), 1u);
  EXPECT_NE(toolkit.messages[0].find("Port 3 does not exist"), std::string::npos);
  EXPECT_FALSE(port.portOpen());
  EXPECT_EQ(port.commPort(), 3);
  EXPECT_EQ(port.settings(), "38400,N,8,1");
  EXPECT_EQ(fileLine(1), "3 ' port nr 1,2,3,4");
  EXPECT_EQ(fileLine(2), "38400,N,8,1");
}

TEST_F(CommSettingsModelTest, PortWithoutOptionKeepsItsNumberOnOk) {
  port.setPortOpen(false);
  port.setCommPort(5);
  port.setPortOpen(true);
  model.load();
  model.ok();
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_EQ(port.commPort(), 5);
  EXPECT_TRUE(port.portOpen());
  EXPECT_EQ(fileLine(1), "5 ' port nr 1,2,3,4");
}

TEST_F(CommSettingsModelTest, ClicksAloneChangeNothing) {
  model.load();
  model.click(Model::ComPortGroup, 1);
  model.click(Model::BaudGroup, 2);
  model.click(Model::FlowGroup, 3);
  model.click(Model::BaudGroup, 99);  // not an option: ignored
  EXPECT_EQ(model.BaudChoice, "2400");
  // Cancel drops the model without OK: the port and the file stay as they were.
  EXPECT_EQ(port.commPort(), 1);
  EXPECT_EQ(port.settings(), "9600,N,8,1");
  EXPECT_EQ(port.handshaking(), 0);
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.closes, 0);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace trv4
