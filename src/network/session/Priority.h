#pragma once

// The send queue a packet goes to. Urgent (0) carries alive checks and is always written
// before Normal (1), which carries the handshake and every request; a Normal packet already
// being written is finished first.
class Priority {
public:
    static const Priority Urgent;
    static const Priority Normal;

    constexpr explicit Priority(int value) : _value(value) {}
    constexpr int value() const { return _value; }
    constexpr bool operator==(const Priority& other) const { return _value == other._value; }

private:
    int _value;
};

inline constexpr Priority Priority::Urgent{0};
inline constexpr Priority Priority::Normal{1};
