// The memory floor for the traffic panes: two plain QPlainTextEdit panes taking the same five HTML
// lines per command as the bridge's (two in the network pane, three in the serial pane), with the
// event loop run between commands so the panes lay out and paint.
//   paneflood --count N --rss-every K --out FILE [--no-undo]
// Writes "commands rss_kb elapsed_ns" lines.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QTextStream>
#include <QWidget>

#include <cstdio>

namespace {

long rssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void append(QPlainTextEdit *pane, const QString &html)
{
    pane->appendHtml(html);
    pane->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    long count = 1000;
    long every = 1000;
    bool undo = true;
    QString outPath;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--count") && i + 1 < args.size())
            count = args[++i].toLong();
        else if (args[i] == QLatin1String("--rss-every") && i + 1 < args.size())
            every = args[++i].toLong();
        else if (args[i] == QLatin1String("--out") && i + 1 < args.size())
            outPath = args[++i];
        else if (args[i] == QLatin1String("--no-undo"))
            undo = false;
    }
    if (count <= 0 || every <= 0 || outPath.isEmpty()) {
        std::fprintf(stderr, "usage: paneflood --count N --rss-every K --out FILE [--no-undo]\n");
        return 2;
    }

    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *tcp = new QPlainTextEdit;
    auto *serial = new QPlainTextEdit;
    for (QPlainTextEdit *pane : {tcp, serial}) {
        pane->setReadOnly(true);
        pane->document()->setUndoRedoEnabled(undo);
        layout->addWidget(pane);
    }
    window.resize(1000, 600);
    window.show();
    QApplication::processEvents();

    QFile out(outPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text))
        return 1;
    QTextStream stream(&out);
    stream << "# commands rss_kb elapsed_ns\n";

    const QString cmd = QStringLiteral("op status ?");
    const QString reply = QStringLiteral("OP STATUS=1\r\n");
    const QString blue = QStringLiteral("<font color=\"DarkBlue\">");
    const QString red = QStringLiteral("<font color=\"Red\">");
    const QString end = QStringLiteral("</font>");
    QElapsedTimer clock;
    clock.start();
    stream << 0 << ' ' << rssKb() << ' ' << 0 << '\n';
    for (long i = 1; i <= count; ++i) {
        append(tcp, blue + QStringLiteral("TCP>") + cmd + end);
        append(serial, blue + QStringLiteral("&gt;") + cmd + end);
        append(serial, red + QStringLiteral("&gt;&gt;&gt;") + cmd + QStringLiteral("\r\n") + end);
        append(tcp, blue + QStringLiteral("&lt;&lt;&lt;") + reply + end);
        QApplication::processEvents();
        append(serial, blue + QStringLiteral("&lt;&lt;&lt;") + reply + end);
        QApplication::processEvents();
        if (i % every == 0 || i == count)
            stream << i << ' ' << rssKb() << ' ' << clock.nsecsElapsed() << '\n';
    }
    return 0;
}
