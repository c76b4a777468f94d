#include "Dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

struct DispatchQueue {};

namespace {

// Queued invocations on one receiver keep their posting order.
QObject* mainReceiver()
{
    static QObject* receiver = [] {
        auto* object = new QObject;
        if (auto* app = QCoreApplication::instance())
            object->moveToThread(app->thread());
        return object;
    }();
    return receiver;
}

}  // namespace

dispatch_queue_t dispatch_get_main_queue()
{
    static DispatchQueue main;
    return &main;
}

bool dispatch_is_main_thread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void dispatch_async(dispatch_queue_t, dispatch_block_t block)
{
    QMetaObject::invokeMethod(mainReceiver(), std::move(block), Qt::QueuedConnection);
}

void dispatch_sync(dispatch_queue_t, dispatch_block_t block)
{
    if (dispatch_is_main_thread() || !QCoreApplication::instance()) {
        block();
        return;
    }
    QMetaObject::invokeMethod(mainReceiver(), std::move(block), Qt::BlockingQueuedConnection);
}

void dispatch_after_seconds(double seconds, dispatch_queue_t, dispatch_block_t block)
{
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), mainReceiver(), std::move(block));
}
