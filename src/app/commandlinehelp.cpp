#include "app/commandlinehelp.h"

namespace CommandLineHelp {

namespace {
const char kUsage[] =
        "Usage: kalo_rs232c [--virtual-port | --port DEVICE] [--folder DIR] [OPTION]...\n"
        "  or:  kalo_rs232c --headless [--events FILE] [--control PATH] [OPTION]...\n"
        "  or:  kalo_rs232c --headless (--virtual-port | --port DEVICE) --record DEVICE\n"
        "  or:  kalo_rs232c --headless [--device NAME] [OPTION]... --exec -- HOST [ARG]...\n"
        "  or:  kalo_rs232c --check-profile FILE\n"
        "  or:  kalo_rs232c --help | --version\n"
        "\n"
        "Simulates an RS-232C measuring instrument for testing host software.\n";

const char kRunning[] =
        "Running:\n"
        "  --virtual-port      make a pseudo-terminal pair and use one end as the port;\n"
        "                      the host end is printed first as HOST_PORT=<path>\n"
        "  --port DEVICE       use DEVICE instead of the device of the port number\n"
        "  --pace line|none    on a virtual port or a pseudo-terminal: carry bytes at the\n"
        "                      line's speed, as a cable does (line, the default), or at once\n"
        "  --folder DIR        application folder (settings files, LogData, lock)\n"
        "  --help              print this text\n"
        "  --version           print the version\n";

const char kHeadless[] =
        "Headless:\n"
        "  --headless          run without windows: start communicating at once, write each\n"
        "                      log line to standard output (a reader that falls behind gets\n"
        "                      LOG_LINES_SKIPPED=N instead of lines; the saved log has all);\n"
        "                      SIGINT, SIGTERM, SIGHUP or SIGQUIT stops sending at once,\n"
        "                      without the pending cycle, lets queued output drain (3 s at\n"
        "                      most), saves the log to LogData/ and prints LOG_FILE=<path>,\n"
        "                      then COUNTS=commands_seen=N answered=N dropped=N bytes_in=N\n"
        "                      bytes_out=N refused=N (read by key: keys are only added)\n"
        "  --duration SECONDS  with --headless: a stop request after this many seconds\n";

const char kProfiles[] =
        "Profiles:\n"
        "  --profile FILE      instrument profile instead of the folder's Instrument.toml\n"
        "                      (a regular file of at most 16 MiB)\n"
        "  --seed N            seed of the profile's random values and faults, instead of\n"
        "                      the profile's own\n"
        "  --check-profile FILE  check a profile and exit: 0 when it can be used, 3 with\n"
        "                      FILE:LINE:COL: reason lines on standard error otherwise\n";

const char kHarness[] =
        "Harness:\n"
        "  --events FILE       with --headless: one JSON object per line for each event on\n"
        "                      the line (start, stop, received, sent, answer, unanswered,\n"
        "                      fault, refused, load, port, dropped_output, skipped,\n"
        "                      log_not_saved, line_settings, host_lines, break); FILE -\n"
        "                      is standard output, which then has no log lines, only the\n"
        "                      KEY=value ones\n"
        "  --control PATH      with --headless: a Unix socket (mode 0600) taking one JSON\n"
        "                      request per line (set, call, fault, load, send, lines,\n"
        "                      counters, stop) and answering each with one JSON line; a\n"
        "                      stale socket at PATH is replaced, any other file there\n"
        "                      refuses the start\n"
        "  --host-link PATH    with --virtual-port: PATH becomes a symbolic link to the host\n"
        "                      end for the run; a link left there by an earlier run (one\n"
        "                      that dangles, or points to a pseudo-terminal made after it)\n"
        "                      is replaced; a live run's link and anything else refuse the\n"
        "                      start\n"
        "  --exec -- HOST ARG...  with --headless: run HOST on the virtual port's host end,\n"
        "                      which HOST (and its children, no one else) sees as a serial\n"
        "                      device with modem lines; the run ends when HOST does, with\n"
        "                      HOST's exit status once the log is saved; a stop of the run\n"
        "                      ends HOST (SIGTERM, SIGKILL 2 s later)\n"
        "  --device NAME       with --exec: the device HOST opens (default /dev/ttyUSB0)\n";

const char kRecording[] =
        "Recording:\n"
        "  --record DEVICE     with --headless: relay between the host's port and the\n"
        "                      instrument on DEVICE, log both ways, and at the end write\n"
        "                      the instrument as DIR/Recorded.toml, printing\n"
        "                      RECORDED=<path>\n";

const char kExitStatus[] =
        "Exit status: 0 after a saved log, 1 when the run failed (port, folder, lock, log,\n"
        "events file, Recorded.toml, a path given for the harness), 2 for a bad command\n"
        "line, 3 for a bad profile.\n";
} // namespace

QString text()
{
    QString help;
    for (const char *part : { kUsage, kRunning, kHeadless, kProfiles, kHarness, kRecording })
        help += QString::fromUtf8(part) + QLatin1Char('\n');
    return help + QString::fromUtf8(kExitStatus);
}

} // namespace CommandLineHelp
