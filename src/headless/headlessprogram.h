#pragma once

struct StartOptions;

// The program without windows, display or platform plugin: communicates at once, writes the
// log to standard output and saves it when told to stop. Returns the exit code: 0 after a
// saved log, 1 when the start failed or the log could not be saved.
int runHeadless(int &argc, char **argv, const StartOptions &options);
