#pragma once
// Base classes of the device components: change-notifying persistent objects, components with
// their life-cycle state, and small sets of enumeration members.

#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/Classes.h"
#include "platform/Exception.h"

// The error of an assignment between objects that cannot be copied into each other.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A set of members of the enumeration E (at most 32 members).
template <class E>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> Members) {
        for (E m : Members)
            bits_ |= Bit(m);
    }
    constexpr bool Contains(E Member) const { return (bits_ & Bit(Member)) != 0; }
    constexpr TSet& Include(E Member) {
        bits_ |= Bit(Member);
        return *this;
    }
    constexpr TSet& Exclude(E Member) {
        bits_ &= ~Bit(Member);
        return *this;
    }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr uint32_t Bits() const { return bits_; }
    constexpr bool operator==(const TSet& Other) const = default;

private:
    static constexpr uint32_t Bit(E Member) { return uint32_t{1} << static_cast<unsigned>(Member); }
    uint32_t bits_ = 0;
};

// An object whose changes are announced through OnChange, with BeginUpdate/EndUpdate to fold
// a series of changes into one announcement.
class TVaPersistent : public TObject {
public:
    int32_t UpdateCount() const { return updateCount_; }
    TNotifyEvent OnChange;

    void BeginUpdate();
    void EndUpdate();
    // Copies Source into this object. The base refuses with EConvertError ("Cannot assign a %s
    // to a %s"); classes that can copy a source override it.
    virtual void Assign(const TVaPersistent& Source);
    virtual std::string ClassName() const { return "TVaPersistent"; }

protected:
    virtual void Changed();

private:
    int32_t updateCount_ = 0;
};

enum TComponentStateFlag { csLoading, csDestroying };
using TComponentState = TSet<TComponentStateFlag>;

// A non-visual component. Owner is informational (components are members of their owner).
class TVaComponent : public TObject {
public:
    explicit TVaComponent(TObject* Owner = nullptr) : owner_(Owner) {}
    TObject* Owner() const { return owner_; }
    TComponentState ComponentState() const { return state_; }

    // Loading: the owner sets the properties of its description without applying them; Loaded
    // ends it.
    void BeginLoading() { state_.Include(csLoading); }
    virtual void Loaded() { state_.Exclude(csLoading); }

protected:
    // Called first in the destructors of derived components that act on destruction.
    void Destroying() { state_.Include(csDestroying); }

private:
    TObject* owner_;
    TComponentState state_;
};

class TVaCoreComponent : public TVaComponent {
public:
    using TVaComponent::TVaComponent;
};
