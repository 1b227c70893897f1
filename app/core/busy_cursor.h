// The hourglass pointer for the length of a procedure; nothing when there is no screen.
#pragma once

#include <QCursor>
#include <QGuiApplication>

namespace tovra {

class BusyCursor {
public:
    BusyCursor() : active_(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        if (active_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyCursor() {
        if (active_) QGuiApplication::restoreOverrideCursor();
    }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    bool active_;
};

} // namespace tovra
