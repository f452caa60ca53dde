// A parameter file as a person may have edited it. A file that is taken fills the window with
// its settings, and the file the window then saves is taken again with the same settings.
#include <string>

#include "fuzz/require.h"
#include "service/param_file.h"
#include "tests/support/sim_serial_port.h"
#include "tests/support/virtual_toolkit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trv4;
  std::string error;
  const auto file = parseParamFile({reinterpret_cast<const char*>(data), size}, &error);
  if (!file) {
    fuzz::require(!error.empty(), "param file", "a file refused without a reason");
    return 0;
  }

  test::VirtualToolkit tk;
  test::SimSerialPort port(tk);
  LinkState state;
  DisplaySettings settings;
  Param param(state, settings, port, tk);
  loadParamFile(param, *file);
  for (const ParamDifference& d : compareParamFile(param, *file))
    fuzz::require(!d.loaded, "param file", "a setting the load took differs from the file");

  const auto saved = parseParamFile(paramFileText(param, "2026-12-06 14:03:59"), &error);
  fuzz::require(saved.has_value(), "param file", "the window's own file is refused");
  fuzz::require(compareParamFile(param, *saved).empty(), "param file",
                "the window's own file reads back otherwise");
  return 0;
}
