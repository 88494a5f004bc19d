#include "app/panedocument.h"

#include <QPlainTextDocumentLayout>
#include <QTextCursor>

namespace panedocument {

void prepare(QPlainTextEdit *pane)
{
    auto *document = new PaneDocument(pane);
    document->setDocumentLayout(new QPlainTextDocumentLayout(document));
    document->setPlainText(pane->toPlainText());
    document->setDefaultFont(pane->document()->defaultFont());
    document->setUndoRedoEnabled(false);
    pane->setDocument(document);
}

QTextDocumentFragment import(const QString &html)
{
    // The pane's document is what appendHtml asks for style sheets and resources; this one answers
    // the same (an empty default style sheet, nothing loaded) and belongs to the calling thread.
    const PaneDocument resources;
    const QTextDocumentFragment fragment = QTextDocumentFragment::fromHtml(html, &resources);
    // The fragment's document makes its root frame when first asked, and inserting the fragment asks.
    // Inserted here once, the frame is made on this thread like its document, not as an orphan on the
    // pane's. (Serialising it would ask too, but recurses once per nested table.)
    QTextDocument scratch;
    QTextCursor(&scratch).insertFragment(fragment);
    return fragment;
}

// The steps of QPlainTextEdit::appendHtml after its import: a new block in the format of the pane's
// cursor, the fragment into it, the cursor's character format kept. The scrolling that appendHtml
// adds is left to the move of the cursor that follows every HTML entry.
void prepareWorker(QThread *worker) { worker->setStackSize(workerStackBytes); }

void appendImported(QPlainTextEdit *pane, const QTextDocumentFragment &fragment)
{
    QTextDocument *document = pane->document();
    QTextCursor cursor = pane->textCursor();
    QTextCursor end(document);
    end.beginEditBlock();
    end.movePosition(QTextCursor::End);
    if (!document->isEmpty())
        end.insertBlock(cursor.blockFormat(), cursor.charFormat());
    else
        end.setCharFormat(cursor.charFormat());
    const QTextCharFormat kept = cursor.charFormat();
    end.insertFragment(fragment);
    if (!cursor.hasSelection()) {
        cursor.setCharFormat(kept);
        pane->setTextCursor(cursor);
    }
    end.endEditBlock();
}

} // namespace panedocument
