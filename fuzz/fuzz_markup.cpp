// Markup of any shape and depth through the panes' own road: cut to what a pane shows, imported on a
// thread set up like the import worker, appended and laid out on this (the GUI) thread. Nothing may
// crash, and the pane must end up as appendHtml would have left it. The input's first byte picks a
// shape to nest (or none: the input is the markup), the next two how deep, the rest goes inside.
#include "fuzz/check.h"

#include "app/panedocument.h"
#include "core/logpane.h"
#include "tests/support/importworker.h"
#include "tests/support/nestedmarkup.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>

namespace {

void ensureApplication()
{
    if (qApp)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_markup";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

QString markup(const uint8_t *data, size_t size)
{
    const auto &shapes = nestedmarkup::shapes();
    if (size < 3 || data[0] >= shapes.size())
        return QString::fromUtf8(fuzz::bytes(data, size));
    const int depth = (data[1] << 8 | data[2]) % 4000;
    const std::string inside = fuzz::bytes(data + 3, size - 3).toStdString();
    return QString::fromStdString(nestedmarkup::atDepth(shapes[data[0]], depth, inside));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureApplication();
    const QString entry = logpane::shown(logpane::entry(fontDeepPink, QStringLiteral("<b>UDP>"), markup(data, size)));
    FUZZ_CHECK(entry.size() <= logpane::maxShownChars + 64);

    QPlainTextEdit direct, imported;
    for (QPlainTextEdit *pane : {&direct, &imported}) {
        panedocument::prepare(pane);
        pane->resize(400, 300);
        pane->show();
    }
    direct.appendHtml(entry);
    direct.moveCursor(QTextCursor::End);

    panedocument::appendImported(&imported, importLikeTheWorker(entry));
    imported.moveCursor(QTextCursor::End);
    imported.viewport()->repaint(); // lays out what is visible

    FUZZ_CHECK(imported.document()->blockCount() == direct.document()->blockCount());
    FUZZ_CHECK(imported.document()->toPlainText() == direct.document()->toPlainText());
    FUZZ_CHECK(imported.textCursor().position() == direct.textCursor().position());
    return 0;
}
