#include "platform/filedialogs.h"

#include <QFileDialog>

QString QtFileDialogs::saveFileName(QWidget *parent, const QString &folder, const QString &filter,
                                    const QString &proposedPath)
{
    QFileDialog dialog(parent, QString(), folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The program adds ".txt" itself, by its own rule, so the dialog must not.
    dialog.setDefaultSuffix(QString());
    // Replacing an existing file without a question is how the save has always worked.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.selectFile(proposedPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}
