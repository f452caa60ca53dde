#include "params/param_fields.h"

#include "link/link_state.h"

namespace trv4 {

namespace {

std::vector<std::string> addressChoices() {
  std::vector<std::string> list;
  for (int i = 0; i < kMaxScales; ++i) list.emplace_back(1, scaleAddress(i));
  list.emplace_back("@");
  return list;
}

std::vector<ParamField> makeFields() {
  using K = FieldKind;
  return {
      {"vDecimalPoint", "Decimal Point", K::Choice, {"0", "1", "2", "3", "4"}, 0, "4"},
      {"vResolution",
       "Display Resolution",
       K::Choice,
       {"01", "02", "05", "10", "20", "50"},
       0,
       "01"},
      {"vRange", "Weighing Range", K::Text, {}, 2, "99"},
      {"vFilter", "Digital Filter", K::Choice, {"0", "1", "2"}, 0, "2"},
      {"vMotionSamples", "No Motion Samples", K::Choice, {"1", "2", "3", "4", "5", "6"}, 0, "2"},
      {"vInterval", "Dual Interval", K::Text, {}, 2, "0"},
      {"vUnit", "Weight Unit", K::Choice, {"Kg", "Lb"}, 0, "Kg", false},
      {"vLcNo", "Number of LoadCells", K::Choice, {"1", "2", "3", "4"}, 0, "4"},
      {"vGain", "Gain Set", K::Choice, {"2mV/V", "4mV/V"}, 0, "2mV/V"},
      {"vConv", "Conversions Rate", K::Choice, {"1", "2", "3", "4"}, 0, "2"},
      {"vATCounter", "Audit Trail Counter", K::Text, {}, 6, ""},
      {"vScaleAddr", "Scale Address :", K::Choice, addressChoices(), 0, "A"},
      {"vBaud",
       "Baud Rate",
       K::Choice,
       {"2400", "9600", "19200", "38400", "57600", "115200"},
       0,
       "9600"},
      {"vDataBits", "Parity/Data Bits", K::Choice, {"E7", "N8"}, 0, "E7"},
      {"vSetp1", "Setpoint1", K::Text, {}, 5, ""},
      {"vSetp2", "Setpoint2", K::Text, {}, 5, ""},
      {"vAZero", "Auto Zero Maintenance", K::Check, {}, 0, "0"},
      {"vPowerUpZero", "Auto Zero On Power up", K::Check, {}, 0, "0"},
      {"vDualFilter", "Dual Digital Filter", K::Check, {}, 0, "0"},
      {"vLZero", "Leading Zero Blank", K::Check, {}, 0, "0"},
      {"vTiltMode", "Tilt mode", K::Choice, {"NO", "NC"}, 0, ""},
      {"vTiltDelay",
       "Tilt delay",
       K::Choice,
       {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"},
       0,
       ""},
      {"vPin", "Pin", K::Pin, {}, 6, ""},
      {"vCalLock", "CAL LOCK", K::Label, {}, 0, "0"},
      {"vPinLock", "PIN LOCK", K::Label, {}, 0, "0"},
  };
}

}  // namespace

const std::vector<ParamField>& paramFields() {
  static const std::vector<ParamField> fields = makeFields();
  return fields;
}

const ParamField* paramField(const std::string& name) {
  for (const ParamField& f : paramFields()) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

}  // namespace trv4
