#pragma once

#include "app/panedocument.h"

#include <QThread>

#include <memory>

// Imports markup the way the panes' worker does: on a thread of its own, set up like the worker.
inline QTextDocumentFragment importLikeTheWorker(const QString &html)
{
    QTextDocumentFragment fragment;
    std::unique_ptr<QThread> worker(QThread::create([&] { fragment = panedocument::import(html); }));
    panedocument::prepareWorker(worker.get());
    worker->start();
    return worker->wait(60000) ? fragment : QTextDocumentFragment();
}
