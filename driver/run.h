// One run of the program: the conversion stage, then (unless it ended the run) delivery.
#pragma once

// Runs both stages; returns the exit code, always 0.
int RunVellumTransit();
