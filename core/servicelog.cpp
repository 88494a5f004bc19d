#include "core/servicelog.h"

#include <QList>

namespace servicelog {

bool isJournal(const QByteArray &journalStream, quint64 device, quint64 inode)
{
    const QList<QByteArray> parts = journalStream.split(':');
    if (parts.size() != 2)
        return false;
    bool deviceOk = false, inodeOk = false;
    const quint64 d = parts.at(0).toULongLong(&deviceOk);
    const quint64 i = parts.at(1).toULongLong(&inodeOk);
    return deviceOk && inodeOk && d == device && i == inode;
}

QString line(Priority priority, const QString &title, const QString &text, bool journal)
{
    QString body = title.isEmpty() ? text : title + QStringLiteral(": ") + text;
    while (body.endsWith(QLatin1Char('\n')) || body.endsWith(QLatin1Char('\r')))
        body.chop(1);
    for (QChar &c : body) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    }
    return journal ? QStringLiteral("<%1>").arg(int(priority)) + body : body;
}

} // namespace servicelog
