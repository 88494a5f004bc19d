#include "probe.h"

#include <QTextStream>

int runDoctor(const QStringList &)
{
    QTextStream(stderr) << "tolvane-probe doctor: not built yet\n";
    return 2;
}
