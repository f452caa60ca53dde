// capture_writer FOLDER [COUNT] [BY]: takes captures of scales A to ^ in turn into the journal in
// FOLDER, on a monitor fed settled replies in virtual time, and prints each capture's number on
// its own line once it is committed. Runs until killed, or until it has taken COUNT. BY is what
// asked for them ("writer" by default). Exit status 1 when a capture fails.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "capture/sqlite_journal.h"
#include "tests/support/desk_on_monitor.h"

int main(int argc, char** argv) {
  using namespace trv4;
  if (argc < 2) {
    std::fputs("usage: capture_writer FOLDER [COUNT] [BY]\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  const long count = argc > 2 ? std::atol(argv[2]) : -1;
  const std::string by = argc > 3 ? argv[3] : "writer";

  test::VirtualToolkit journalTk;
  SqliteJournal journal(journalTk, folder + "/" + kCaptureJournalFileName);
  test::DeskOnMonitor rig(journal);
  for (const std::string& m : journalTk.messages) std::fprintf(stderr, "%s\n", m.c_str());

  for (long n = 0; count < 0 || n < count; ++n) {
    const int scale = static_cast<int>(n % kMaxScales);
    CaptureRequest r;
    r.scale = scale;
    r.stableAnswers = 1;
    r.requestedBy = by;
    std::optional<CaptureOutcome> outcome;
    rig.desk.capture(r, [&](const CaptureOutcome& o) { outcome = o; });
    char field[16];
    std::snprintf(field, sizeof field, "%06.2f", static_cast<double>(n % 1000) + 0.25);
    rig.settled(scale, field);
    rig.tk.runUntil([&] { return outcome.has_value(); }, 1000);
    if (!outcome || !outcome->capture) {
      std::fprintf(stderr, "%s\n", outcome ? outcome->message.c_str() : "no outcome");
      return 1;
    }
    // Told only after the commit: whatever is printed must be in the journal.
    const std::string line = std::to_string(outcome->capture->sequence) + "\n";
    if (write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      return 1;
  }
  return 0;
}
