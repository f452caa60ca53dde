// What a panel's text shows is read in display/, where the capture desk reads it too.
#pragma once

#include "display/shown_weight.h"
