// "Save Parameters…", "Load Parameters…" and "Compare Parameters…" of the Service menu, for the
// parameter window that is open: each asks for a file and tells its result in a message or a
// table.
#pragma once

#include <string>

#include "params/parameters.h"

class QWidget;

namespace trv4 {

void saveParamsDialog(QWidget* parent, const Param& param, const std::string& savedAt);
void loadParamsDialog(QWidget* parent, Param& param);
void compareParamsDialog(QWidget* parent, const Param& param);

}  // namespace trv4
