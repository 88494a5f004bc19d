#include "core/logpane.h"

#include <QCoreApplication>

const QString fontDeepPink = QStringLiteral("<font color=\"DeepPink\">");
const QString fontRed = QStringLiteral("<font color=\"Red\">");
const QString fontDarkBlue = QStringLiteral("<font color=\"DarkBlue\">");
const QString fontEnd = QStringLiteral("</font>");

namespace logpane {

QString entry(const QString &tag, const QString &prefix, const QString &text) { return tag + prefix + text + fontEnd; }

bool isHeavy(const QString &html) { return html.size() >= 512 || html.count(QLatin1Char('<')) >= 24; }

QString plainLine(const QString &prefix, const QString &text)
{
    QString shownPrefix = prefix;
    const bool bold = shownPrefix.contains(QLatin1String("<b>"));
    shownPrefix.remove(QLatin1String("<b>"));
    shownPrefix.replace(QLatin1String("&gt;"), QLatin1String(">")).replace(QLatin1String("&lt;"), QLatin1String("<"));
    QString plain = text;
    if (bold && plain.endsWith(QLatin1String("</b>")))
        plain.chop(4);
    return shownPrefix + plain;
}

QString shown(const QString &entry)
{
    if (entry.size() <= maxShownChars)
        return entry;
    int kept = maxShownChars;
    // A tag cut in two would take the note in as its attributes.
    const int open = entry.lastIndexOf(QLatin1Char('<'), kept - 1);
    if (open >= 0 && entry.lastIndexOf(QLatin1Char('>'), kept - 1) < open)
        kept = open;
    return entry.left(kept)
        + QCoreApplication::translate("PaneFeed", " \u2026 (%1 more characters not shown)").arg(entry.size() - kept);
}

} // namespace logpane
