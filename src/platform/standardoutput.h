#pragma once

// Standard output as the headless run writes it: a descriptor for a StreamWriter, in a
// process that goes on when a reader leaves early.
namespace StandardOutput {

int descriptor();

// A reader of standard output (or of any stream of the run) that leaves early must not end
// the process: a write to it fails instead, and the run goes on and saves.
void outliveReaders();

} // namespace StandardOutput
