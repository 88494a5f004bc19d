#pragma once

#include <QPlainTextEdit>
#include <QThread>
#include <QTextDocument>
#include <QTextDocumentFragment>

// The traffic panes' documents, and appending HTML to them in two steps: the import, which is most
// of the cost and may run on any thread, and the insertion, on the pane's own (GUI) thread.
namespace panedocument {

// A document that never fetches what markup points at: text from the network is shown as it came,
// and an <img> or <link> in it must not make the program read files, devices or URLs.
class PaneDocument : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl &) override { return QVariant(); }
};

// Gives the pane a PaneDocument with its text and font, and no undo history (the panes are read-only
// and keep every line: a history would only cost memory).
void prepare(QPlainTextEdit *pane);

// The markup imported as the pane's appendHtml would import it. Safe on any thread: it makes and
// uses documents of that thread only.
QTextDocumentFragment import(const QString &html);

// The stack of the thread that imports: the same on every platform (their defaults run from 512 KiB
// to 8 MiB), and several times what the deepest entry the panes take needs (docs/HACKING.md).
inline constexpr uint workerStackBytes = 8u << 20;

// Sets up a thread to run import() with that stack; call before it starts.
void prepareWorker(QThread *worker);

// The imported markup appended as a new paragraph, exactly as appendHtml appends it. (The scrolling
// appendHtml adds is left to the move of the cursor to the end that follows every HTML entry.)
void appendImported(QPlainTextEdit *pane, const QTextDocumentFragment &fragment);

} // namespace panedocument
