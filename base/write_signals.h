// Writes that fail must fail as errors the program can report, not as signals that end it: a
// log to a pipe whose reader went away (SIGPIPE) or a file past the size limit (SIGXFSZ).
#pragma once

namespace trv4 {

// Makes such writes return an error (EPIPE, EFBIG) instead of raising the signal. Called once at
// start-up; affects the whole process.
void keepWritesFromSignalling();

}  // namespace trv4
