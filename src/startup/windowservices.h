#pragma once

class MessageBoxes;
class TrayIcon;
class ProcessExit;
class FileDialogs;
class UrlOpener;
class SessionClock;

// Everything outside the process that the windows reach. The program passes the real
// ones; tests pass their own and answer the questions themselves.
struct WindowServices
{
    MessageBoxes *messages = nullptr;
    TrayIcon *tray = nullptr;
    ProcessExit *exit = nullptr;
    FileDialogs *fileDialogs = nullptr;
    UrlOpener *urls = nullptr;
    // The clock of the line work; the steady clock when none is given.
    SessionClock *clock = nullptr;
};
