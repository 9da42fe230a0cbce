#pragma once

#include <QString>

// What --help prints, and what follows a bad command line: the ways to start the program,
// then its options in sections by what they are for. help2man makes the manual page from it,
// so a section is a line of its own ending in a colon.
namespace CommandLineHelp {
QString text();
} // namespace CommandLineHelp
