#include "net/plant_board.h"

namespace trv4 {

bool PlantSnapshot::anyPolled() const {
  if (singleScaleMode) return true;
  for (const ScaleSnapshot& s : scales)
    if (s.polled) return true;
  return false;
}

}  // namespace trv4
