#pragma once
// Acting while the window waits for work on another thread: the window's
// nested event loop runs timers, so a test schedules what a user would do.

#include <QObject>
#include <QTimer>
#include <functional>

// Runs action every 20 ms until it returns true (or context is destroyed).
inline void During(QObject* context, const std::function<bool()>& action) {
    auto* timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, context, [timer, action] {
        if (action()) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
}
