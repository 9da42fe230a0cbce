#pragma once

#include <QString>

class QWidget;

// The save-file dialog. Returns the chosen path, or an empty string when cancelled.
class FileDialogs
{
public:
    virtual ~FileDialogs() = default;
    virtual QString saveFileName(QWidget *parent, const QString &folder, const QString &filter,
                                 const QString &proposedPath) = 0;
};

class QtFileDialogs : public FileDialogs
{
public:
    QString saveFileName(QWidget *parent, const QString &folder, const QString &filter,
                         const QString &proposedPath) override;
};
