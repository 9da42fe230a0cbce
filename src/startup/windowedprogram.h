#pragma once

struct StartOptions;

// The program with its windows and tray icon. Returns the exit code.
int runWindowed(int &argc, char **argv, const StartOptions &options);
