#include "core/logpane.h"

const QString fontDeepPink = QStringLiteral("<font color=\"DeepPink\">");
const QString fontRed = QStringLiteral("<font color=\"Red\">");
const QString fontDarkBlue = QStringLiteral("<font color=\"DarkBlue\">");
const QString fontEnd = QStringLiteral("</font>");

namespace logpane {

QString entry(const QString &tag, const QString &prefix, const QString &text) { return tag + prefix + text + fontEnd; }

bool isHeavy(const QString &html) { return html.size() >= 512 || html.count(QLatin1Char('<')) >= 24; }

} // namespace logpane
