#include "capture/journal_copy.h"

#include <algorithm>

namespace trv4 {

void JournalCopy::reload(std::vector<Capture> newest, std::size_t undelivered) {
  if (newest.size() > kNewestKept) newest.resize(kNewestKept);
  const std::lock_guard lock(mutex_);
  newest_.assign(std::make_move_iterator(newest.begin()), std::make_move_iterator(newest.end()));
  undelivered_ = undelivered;
}

void JournalCopy::committed(const Capture& capture) {
  const std::lock_guard lock(mutex_);
  newest_.push_front(capture);
  if (newest_.size() > kNewestKept) newest_.pop_back();
  if (!capture.delivered) ++undelivered_;
}

void JournalCopy::delivered(uint64_t sequence) {
  const std::lock_guard lock(mutex_);
  if (undelivered_ > 0) --undelivered_;
  const auto it = std::ranges::find(newest_, sequence, &Capture::sequence);
  if (it != newest_.end()) it->delivered = true;
}

std::vector<Capture> JournalCopy::newest(std::size_t limit) const {
  const std::lock_guard lock(mutex_);
  const std::size_t n = std::min(limit, newest_.size());
  return {newest_.begin(), newest_.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::size_t JournalCopy::undelivered() const {
  const std::lock_guard lock(mutex_);
  return undelivered_;
}

}  // namespace trv4
