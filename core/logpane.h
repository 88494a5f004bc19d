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

// An entry as one plain line: the prefix as the pane shows it ("&gt;" is ">", tags go), then the text
// as it came (its markup stays text); a bold entry's closing tag goes with the prefix's.
QString plainLine(const QString &prefix, const QString &text);

// The most a pane shows of one entry. Laying out a paragraph costs the pane's (GUI) thread time that
// grows faster than its length: 64 KiB of text without a break holds it for a second, 8 KiB for a few
// tens of milliseconds, which is also what the deepest markup that fits costs to insert.
inline constexpr int maxShownChars = 8192;

// The entry as a pane shows it: unchanged up to maxShownChars; longer, its first part (never ending
// inside a tag), then a note of how many characters were left out. What goes on the wire is never cut.
QString shown(const QString &entry);

} // namespace logpane
