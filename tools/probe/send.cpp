#include "probe.h"

#include <QTextStream>

int runSend(const QStringList &)
{
    QTextStream(stderr) << "tolvane-probe send: not built yet\n";
    return 2;
}
