#pragma once

#include <QByteArray>
#include <QString>

// The lines the bridge writes to stderr when it runs unattended: one per event, with the journal's
// priority prefix when stderr is the journal.
namespace servicelog {

// syslog's levels, which the journal reads from a "<N>" at the start of a line.
enum Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// True when JOURNAL_STREAM ("DEVICE:INODE", set by systemd for a service's stdout and stderr) names
// the stream whose device and inode are given.
bool isJournal(const QByteArray &journalStream, quint64 device, quint64 inode);

// "title: text", or the text alone without a title; prefixed with "<N>" for the journal. Line ends
// at its end go and those inside become blanks: one event, one line.
QString line(Priority priority, const QString &title, const QString &text, bool journal);

} // namespace servicelog
