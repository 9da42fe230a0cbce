#pragma once

#include "platform/filedialogs.h"
#include "platform/messageboxes.h"
#include "platform/processexit.h"
#include "platform/trayicon.h"
#include "platform/urlopener.h"
#include "startup/windowservices.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Stand-ins for the desktop: questions are answered from a script and recorded.
class ScriptedMessages : public MessageBoxes
{
public:
    struct Shown
    {
        QString kind;
        QString title;
        QString text;
    };
    QList<Shown> shown;
    QList<bool> answers; // taken in order; true for OK/Yes
    bool defaultAnswer = false;
    // Runs while a question is open, as the time a user takes to answer it.
    std::function<void()> whileAsking;

    void information(QWidget *, const QString &title, const QString &text) override
    {
        shown.append({ QStringLiteral("information"), title, text });
    }
    bool okCancel(QWidget *, const QString &title, const QString &text) override
    {
        shown.append({ QStringLiteral("okCancel"), title, text });
        if (whileAsking)
            whileAsking();
        return next();
    }
    bool yesNo(QWidget *, const QString &title, const QString &text) override
    {
        shown.append({ QStringLiteral("yesNo"), title, text });
        return next();
    }
    void warning(QWidget *, const QString &title, const QString &text) override
    {
        shown.append({ QStringLiteral("warning"), title, text });
    }

private:
    bool next() { return answers.isEmpty() ? defaultAnswer : answers.takeFirst(); }
};

class RecordingTray : public TrayIcon
{
public:
    bool available = true;
    bool registered = false;
    int registrations = 0;
    int removals = 0;
    QString currentTip;
    QIcon currentIcon;
    QMenu *menu = nullptr;

    bool isAvailable() const override { return available; }
    void registerIcon(const QIcon &icon, const QString &tip) override
    {
        registered = true;
        ++registrations;
        currentIcon = icon;
        currentTip = tip;
    }
    void remove() override
    {
        if (registered)
            ++removals;
        registered = false;
    }
    bool isRegistered() const override { return registered; }
    QString tip() const override { return currentTip; }
    void setMenu(QMenu *m) override { menu = m; }
    std::function<void()> menuRequested;
    void setMenuRequestHandler(std::function<void()> handler) override { menuRequested = std::move(handler); }
};

class RecordingExit : public ProcessExit
{
public:
    int calls = 0;
    void endNow() override { ++calls; }
};

class ScriptedFileDialogs : public FileDialogs
{
public:
    QString answer; // returned as the chosen name; empty means Cancel
    QString lastFolder, lastFilter, lastProposed;
    int calls = 0;
    QString saveFileName(QWidget *, const QString &folder, const QString &filter,
                         const QString &proposedPath) override
    {
        ++calls;
        lastFolder = folder;
        lastFilter = filter;
        lastProposed = proposedPath;
        return answer;
    }
};

class RecordingUrls : public UrlOpener
{
public:
    QList<QUrl> opened;
    bool works = true;
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return works;
    }
};

struct FakeServices
{
    ScriptedMessages messages;
    RecordingTray tray;
    RecordingExit exit;
    ScriptedFileDialogs files;
    RecordingUrls urls;

    WindowServices services()
    {
        WindowServices s;
        s.messages = &messages;
        s.tray = &tray;
        s.exit = &exit;
        s.fileDialogs = &files;
        s.urls = &urls;
        return s;
    }
};
