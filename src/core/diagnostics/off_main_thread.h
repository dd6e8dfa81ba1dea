#pragma once

#include <memory>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>
#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QThread>

namespace vernalo {

// Runs `work` on a thread of its own and resumes the awaiting coroutine with its result on the
// caller's thread, so packing megabytes of diagnostics never stalls the main thread (and the
// audio it forwards). `work` must only touch what it holds by value. The thread deletes itself
// once done; the result is handed over through a future, so a thread that finishes before the
// caller starts waiting is never missed.
template<typename Result, typename Work> QCoro::Task<Result> runOffMainThread(Work work)
{
    auto promise = std::make_shared<QPromise<Result>>();
    const QFuture<Result> future = promise->future();
    promise->start();
    QThread *thread = QThread::create([promise, work = std::move(work)]() mutable {
        promise->addResult(work());
        promise->finish();
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    // Awaited as a named value: g++ 12 mishandles temporaries in a co_return co_await.
    Result result = co_await future;
    co_return result;
}

} // namespace vernalo
