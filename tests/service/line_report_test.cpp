// The statistics and traffic files, line for line.
#include "service/line_report.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tests/support/link_fixture.h"

namespace trv4::test {
namespace {

TEST(LineReportTest, StatisticsAndTrafficFilesReadLineForLine) {
#ifdef _WIN32
  _putenv_s("TZ", "UTC");
  _tzset();
#else
  setenv("TZ", "UTC", 1);
  tzset();
#endif
  VirtualToolkit tk;
  LinkStats stats(tk);
  TrafficRing ring(tk);
  auto sent = [&](int scale, bool status, const std::string& frame) {
    stats.sent(scale, status, frame);
    ring.sent(scale, status, frame);
  };
  auto received = [&](int scale, RxKind kind, const std::string& bytes) {
    stats.received(scale, kind, bytes);
    ring.received(scale, kind, bytes);
  };
  sent(0, true, makeFrame('A', "?0"));
  tk.advance(12);
  received(0, RxKind::StatusReply, makeFrame('A', "?0 12.50"));
  sent(1, true, makeFrame('B', "?0"));
  tk.advance(300);
  const std::string fragment = std::string(1, '\x02') + "B?";
  stats.timedOut(1, fragment);
  ring.timedOut(1, fragment);
  sent(2, false, makeFrame('C', "Z"));
  tk.advance(8);
  std::string spoilt = makeFrame('C', "\x15");
  spoilt[spoilt.size() - 2] ^= 1;
  received(2, RxKind::Reply, spoilt);
  received(2, RxKind::Noise, "\xc1\x01");  // Greek capital alpha, SOH
  sent(-1, false, makeFrame('@', "Z"));
  tk.advance(1000);

  EXPECT_EQ(statsCsv(stats, tk.steadyMs()),
            "Scale,Requests,Commands,Replies,Time-outs,Bad check,Cut,Wrong address,Noise,NAK,"
            "Last reply ms,Mean reply ms,Max reply ms,Since reply ms,Answered %\r\n"
            "A,1,0,1,0,0,0,0,0,0,12,12.0,12,1308,100.0\r\n"
            "B,1,0,0,1,0,1,0,0,0,,,,,0.0\r\n"
            "C,0,1,1,0,1,0,0,1,1,8,8.0,8,1000,100.0\r\n"
            "Line,2,2,2,1,1,1,0,1,1,8,10.0,12,1000,66.7\r\n");

  ASSERT_EQ(ring.size(), 9u);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < ring.size(); ++i) lines.push_back(trafficLine(ring.at(i)));
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "14:03:59.000\tsent\tA\tstatus request\t<STX>A?04<<ETX>\t02 41 3F 30 34 3C 03\tyes",
                "14:03:59.012\treceived\tA\tstatus reply\t<STX>A?0 12.5044<ETX>\t"
                "02 41 3F 30 20 31 32 2E 35 30 34 34 03\tyes",
                "14:03:59.012\tsent\tB\tstatus request\t<STX>B?04?<ETX>\t02 42 3F 30 34 3F 03\tyes",
                "14:03:59.312\treceived\tB\tfragment\t<STX>B?\t02 42 3F\tno",
                "14:03:59.312\treceived\tB\ttime-out\t\t\t",
                "14:03:59.312\tsent\tC\tcommand\t<STX>CZ1;<ETX>\t02 43 5A 31 3B 03\tyes",
                "14:03:59.320\treceived\tC\tacknowledge\t<STX>C<NAK>55<ETX>\t02 43 15 35 35 03\tno",
                "14:03:59.320\treceived\tC\tnoise\t\xCE\x91<SOH>\tC1 01\t",
                "14:03:59.320\tsent\t@\tcommand\t<STX>@Z18<ETX>\t02 40 5A 31 38 03\tyes"}));
}

}  // namespace
}  // namespace trv4::test
