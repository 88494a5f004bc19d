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

// Markup whose import as HTML takes long enough to hold up the traffic (milliseconds and more): long
// or with many tags. Every entry the bridge writes of its own is light; heavy ones carry what came
// from the network.
bool isHeavy(const QString &html);

} // namespace logpane
