#pragma once

#include <QString>

// The colour tags of the two traffic panes.
extern const QString fontDeepPink;
extern const QString fontRed;
extern const QString fontDarkBlue;
extern const QString fontEnd;

namespace logpane {

// One coloured entry: tag + prefix + text + end tag. The text is not escaped.
QString entry(const QString &tag, const QString &prefix, const QString &text);

} // namespace logpane
