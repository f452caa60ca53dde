// A capture desk for the tests of what uses one: it keeps every capture asked for open until the
// test finishes it, commits with the next sequence number, and holds its journal in memory.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_desk.h"

namespace trv4::test {

class FakeCaptureDesk : public CaptureDesk {
 public:
  struct Asked {
    CaptureRequest request;
    std::function<void(const CaptureOutcome&)> done;
  };

  void capture(const CaptureRequest& request,
               std::function<void(const CaptureOutcome&)> done) override;
  std::vector<Capture> after(uint64_t sequence, std::size_t limit) const override;
  std::vector<Capture> newest(std::size_t limit) const override;
  std::size_t waitingForDelivery() const override;
  int addListener(std::function<void(const Capture&)> listener) override;
  void removeListener(int id) override;

  // Captures asked for and not finished yet, oldest first.
  std::deque<Asked> open;
  // Every request asked for, finished or not.
  std::vector<CaptureRequest> asked;
  std::vector<Capture> journal;

  // Commits the oldest open capture with text (such as "12.34 kg") and tells its asker and the
  // listeners. The capture as committed.
  Capture commitNext(const std::string& text, int32_t digits, int decimals, bool net = false);
  // Fails the oldest open capture.
  void failNext(CaptureFailure failure, const std::string& message);
  // Commits a capture nobody asked for here (the operator's, say).
  Capture commitOther(int scale, const std::string& text, int32_t digits, int decimals);

 private:
  Capture commit(int scale, const std::string& by, const std::string& text, int32_t digits,
                 int decimals, bool net);

  std::map<int, std::function<void(const Capture&)>> listeners_;
  int nextListener_ = 0;
};

}  // namespace trv4::test
