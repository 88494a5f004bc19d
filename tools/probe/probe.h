#pragma once

#include <QStringList>

// Sub-commands of tolvane-probe; each takes the arguments after its own name and returns the exit code.
int runDiscover(const QStringList &args);
int runSend(const QStringList &args);
int runWatch(const QStringList &args);
int runSurvey(const QStringList &args);
int runDoctor(const QStringList &args);
