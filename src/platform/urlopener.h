#pragma once

#include <QUrl>

// Opens a web address in the user's browser. False when no browser could be started.
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;
    virtual bool openUrl(const QUrl &url) = 0;
};

class DesktopUrlOpener : public UrlOpener
{
public:
    bool openUrl(const QUrl &url) override;
};
