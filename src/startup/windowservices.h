#pragma once

class MessageBoxes;
class TrayIcon;
class ProcessExit;
class FileDialogs;
class UrlOpener;

// Everything outside the process that the windows reach. The program passes the real
// ones; tests pass their own and answer the questions themselves.
struct WindowServices
{
    MessageBoxes *messages = nullptr;
    TrayIcon *tray = nullptr;
    ProcessExit *exit = nullptr;
    FileDialogs *fileDialogs = nullptr;
    UrlOpener *urls = nullptr;
};
