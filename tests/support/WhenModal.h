#pragma once

// For tests that drive real Qt dialogs: act on a modal dialog once it is up.

#include <QApplication>
#include <QTimer>
#include <functional>
#include <memory>

namespace korvex::test {

// Runs `action` on the first modal dialog of type T once it is up (polled from the event loop,
// so the caller may then start what opens the dialog). The poll gives up after 30 s.
template <typename T>
void whenModal(std::function<void(T*)> action) {
    auto* timer = new QTimer(qApp);  // goes when done, or with the application
    timer->setInterval(5);
    auto left = std::make_shared<int>(6000);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action, left] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog != nullptr || --*left <= 0) {
            timer->stop();
            timer->deleteLater();
        }
        if (dialog != nullptr)
            action(dialog);
    });
    timer->start();
}

}  // namespace korvex::test
