#include "capture/capture_desk.h"

namespace trv4 {

const char* captureFailureName(CaptureFailure failure) {
  switch (failure) {
    case CaptureFailure::kMoving:
      return "moving";
    case CaptureFailure::kNoAnswer:
      return "no answer";
    case CaptureFailure::kOffRange:
      return "off range";
    case CaptureFailure::kNotAWeight:
      return "not a weight";
    case CaptureFailure::kNotPolled:
      return "not polled";
    case CaptureFailure::kJournal:
      return "journal";
  }
  return "journal";
}

}  // namespace trv4
