#include "app/archiving/ArchivingEvent.h"

#include "app/tables/SystemLogCode.h"

int ArchivingEvent::logCode(int type, int value) {
    switch (type) {
        case NotEnoughSpace:
            return SystemLogCode::NotEnoughSpace;
        case StorageWriteError:
            return SystemLogCode::StorageIOError;
        case ConnectFailed:
            return SystemLogCode::FailedToConnect;
        case Disconnected:
            break;
        default:
            return SystemLogCode::None;
    }
    if (value == 110) return SystemLogCode::ConnectionTimeout;
    if (value == 111) return SystemLogCode::ConnectionRefused;
    if (value >= 304 && value <= 306) return SystemLogCode::PlaybackProtocolNotSupported;
    if (value >= 308 && value <= 310) return SystemLogCode::FailedToLogin;
    if (value == 311) return SystemLogCode::PlaybackPermissionDenied;
    if (value == 313) return SystemLogCode::PlaybackChannelFull;
    if (value == 301 || value == 312) return SystemLogCode::None;  // the schedule reconnects
    return SystemLogCode::Disconnected;
}
