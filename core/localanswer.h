#pragma once

#include <QByteArray>
#include <QString>

namespace localanswer {

// What a machine without a serial port answers to a command (its terminated text):
// the two identity queries get fixed answers, anything else its own text without "?" plus "=NA".
QByteArray answer(const QString &terminatedText);

} // namespace localanswer
