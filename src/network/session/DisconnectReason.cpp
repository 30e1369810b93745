#include "network/session/DisconnectReason.h"

#include <cerrno>

int DisconnectReason::fromSocketError(int error) {
    switch (error) {
        case EACCES:
            return AccessDenied;
        case ENETDOWN:
            return NetworkDown;
        case EADDRNOTAVAIL:
        case ENETUNREACH:
            return AddressNotAvailable;
        case EHOSTDOWN:
            return HostDown;
        case EHOSTUNREACH:
            return HostUnreachable;
        case ECONNRESET:
            return ConnectionReset;
        case ETIMEDOUT:
            return TimedOut;
        case ECONNREFUSED:
            return ConnectionRefused;
        default:
            return Other;
    }
}
