#include "tools/probe/outcome.h"

QString nameOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Answered: return QStringLiteral("answered");
    case Outcome::Timeout: return QStringLiteral("timeout");
    case Outcome::Closed: return QStringLiteral("closed");
    case Outcome::NoConnection: return QStringLiteral("no connection");
    case Outcome::NotSent: return QStringLiteral("not sent");
    case Outcome::NotAsked: break;
    }
    return QStringLiteral("not asked");
}

QString nameOf(Connection connection)
{
    switch (connection) {
    case Connection::NotTried: return QStringLiteral("-");
    case Connection::Accepted: return QStringLiteral("accepted");
    case Connection::Refused: return QStringLiteral("refused");
    case Connection::Timeout: return QStringLiteral("timeout");
    case Connection::Failed: break;
    }
    return QStringLiteral("failed");
}

QString nameOf(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Ok: return QStringLiteral("OK");
    case Verdict::NoAnswer: return QStringLiteral("NO ANSWER");
    case Verdict::Refused: return QStringLiteral("REFUSED");
    case Verdict::Local: break;
    }
    return QStringLiteral("LOCAL");
}
