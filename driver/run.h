// One run of the program: a waiting PDF delivered, then the spooled pages converted and
// delivered, a PDF of at most 256 pages a round, until none is left. Runs take turns: a run waits
// up to ten minutes for one still working, then goes on as if it had started after it, or ends with
// "Another run is still working." and nothing touched.
#pragma once

// Runs both stages; returns the exit code, always 0.
int RunVellumTransit();
