#pragma once

// Where a connection stands: CONNECTING -> CONNECTED -> DISCONNECTING -> DISCONNECTED.
// A small value object with equality; the numeric values appear in trace output.
class SessionState {
public:
    static const SessionState CONNECTING;
    static const SessionState CONNECTED;
    static const SessionState DISCONNECTING;
    static const SessionState DISCONNECTED;

    constexpr SessionState() : _value(3) {}
    constexpr int value() const { return _value; }
    const char* name() const;
    constexpr bool operator==(const SessionState& other) const { return _value == other._value; }

private:
    constexpr explicit SessionState(int value) : _value(value) {}
    int _value;
};

inline constexpr SessionState SessionState::CONNECTING{0};
inline constexpr SessionState SessionState::CONNECTED{1};
inline constexpr SessionState SessionState::DISCONNECTING{2};
inline constexpr SessionState SessionState::DISCONNECTED{3};

inline const char* SessionState::name() const {
    static const char* const names[] = {"CONNECTING", "CONNECTED", "DISCONNECTING", "DISCONNECTED"};
    return _value >= 0 && _value <= 3 ? names[_value] : "?";
}
