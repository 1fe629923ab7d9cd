#pragma once
// SIGINT and SIGTERM during a write: the frame on the line is finished and
// no other is sent, so that the write can end with a read-back and its
// journal record instead of a sign left half-changed without a word.

namespace station {

// From now on SIGINT and SIGTERM are noted, not fatal; a second one during
// the read-back ends that too.
void CatchStopSignals();

// The signals caught so far, and the first of them (0 when none).
int StopsCaught();
int FirstStopSignal();

}  // namespace station
