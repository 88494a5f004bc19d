// Serves a fixed status record and a few lines of traffic on loopback, for the browser check
// (scripts/test.d/55-statuspage.sh): status-page-server [PORT]. Prints the port once it listens.
#include "net/statusserver.h"
#include "support/statusfixture.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const StatusSnapshot fixed{statusfixture::open(), statusfixture::traffic()};
    StatusServer server([fixed] { return fixed; });
    if (!server.listen(QHostAddress(QHostAddress::LocalHost), quint16(app.arguments().value(1).toUInt()))) {
        std::fprintf(stderr, "status-page-server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("%u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
