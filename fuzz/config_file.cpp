// TRV4.INI as an editor, a disk or a person may leave it. What the program makes of it is within
// the limits the link relies on, and the file it writes from that reads back the same.
#include <string>

#include "app/config.h"
#include "fuzz/require.h"
#include "fuzz/scratch_file.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4 {
namespace {

struct Loaded {
  test::VirtualToolkit tk;
  LinkState state;
  test::SimSerialPort port{tk};
  std::string text;  // what SaveSettings would write

  explicit Loaded(const std::string& path) {
    port.existingPorts = {1, 2, 3, 4};
    Configuration config(state, port, tk, path);
    fuzz::require(config.LoadSettings(), "config", "an existing file ended the program");
    text = config.settingsText();
  }
};

}  // namespace
}  // namespace trv4

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trv4;
  static const fuzz::ScratchFile file(kConfigFileName);
  const Loaded first(file.write({reinterpret_cast<const char*>(data), size}));
  for (int ms :
       {first.state.StatusReplyTimeout, first.state.CommandReplyTimeout,
        first.state.StatusScanDelay, first.state.CommandScanDelay, first.state.CharTimeout}) {
    fuzz::require(ms >= 0 && ms <= 9999, "config", "a timing beyond four digits");
  }
  for (int i = 0; i < kMaxScales; ++i) {
    const int mark = first.state.ScanList[i];
    fuzz::require(mark >= 0 && mark <= 9, "config", "a scan mark that is no digit");
  }

  const Loaded second(file.write(first.text));
  fuzz::require(second.text == first.text, "config", "the written file reads back otherwise");
  fuzz::require(second.port.settings() == first.port.settings() &&
                    second.port.commPort() == first.port.commPort(),
                "config", "the written port reads back otherwise");
  return 0;
}
