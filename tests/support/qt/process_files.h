// What another process has open, read from /proc.
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>

// True when the process has the file open.
inline bool ProcessHolds(qint64 pid, const QString& path) {
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& entry :
         descriptors.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.symLinkTarget() == path) {
            return true;
        }
    }
    return false;
}
