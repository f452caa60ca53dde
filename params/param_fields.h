// The parameter window's fields: control name, caption, kind, choices, length and default, in
// the order the window lays them out. Values are text, as the scale reads and writes them.
#pragma once

#include <string>
#include <vector>

namespace trv4 {

enum class FieldKind { Choice, Text, Pin, Check, Label };

struct ParamField {
  std::string name;     // vDecimalPoint ...
  std::string caption;  // "Decimal Point" ...
  FieldKind kind;
  std::vector<std::string> choices;  // Choice only, in list order
  int maxLength = 0;                 // Text and Pin
  std::string initial;               // value when the window is created
  bool enabled = true;
};

// Left column, top to bottom, then the right column, then the lock labels.
const std::vector<ParamField>& paramFields();
// The field of a control name; nullptr for a name that is not a field.
const ParamField* paramField(const std::string& name);

}  // namespace trv4
