// The state behind a window: fields the window shows, and one signal that tells it they changed.
#pragma once

#include <QObject>

namespace tovra {

class StateObject : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void changed();

protected:
    // Sets a field and tells the views, when the value is new.
    template <typename T> void set(T& field, const T& value) {
        if (field == value) return;
        field = value;
        emit changed();
    }
};

} // namespace tovra
