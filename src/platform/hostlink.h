#pragma once

#include <QString>

// A symbolic link, under a name the harness chose, to the virtual port's host end, whose
// /dev/pts number changes from run to run. A run that was killed leaves its link behind; a
// link of ours that dangles or points to a pseudo-terminal made after it is taken for such a
// one and replaced. A link to a pseudo-terminal that was there before it belongs to a run
// still going; that, and anything else at the name, refuses the run.
class HostLink
{
public:
    HostLink() = default;
    HostLink(const HostLink &) = delete;
    HostLink &operator=(const HostLink &) = delete;
    ~HostLink() { remove(); }

    // Before the port is made: true when path is free or a stale link; else the reason.
    static bool check(const QString &path, QString *error);
    // Points path at target; a stale link there is replaced in one step. False with the reason.
    bool make(const QString &path, const QString &target, QString *error);
    // Removes the link, if it still points where make() pointed it.
    void remove();

private:
    QString m_path;
    QString m_target;
};
