// One run of the program: the conversion stage, then (unless it ended the run) delivery. Runs
// take turns: a run waits up to ten minutes for one still working, then goes on as if it had
// started after it, or ends with "Another run is still working." and nothing touched.
#pragma once

// Runs both stages; returns the exit code, always 0.
int RunVellumTransit();
