#pragma once
// Base of the component classes and the shape of their events.

#include <functional>

class TObject {
public:
    virtual ~TObject() = default;
};

// An event is a bound routine; it is called only when bound (non-empty).
using TNotifyEvent = std::function<void(TObject* Sender)>;
