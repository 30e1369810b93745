#pragma once

#include <string>

#include "base/UniqueID.h"

// Something a schedule reports to the application through the event manager: a change of
// its speed class, a full group, a write error, a lost connection, a connection that could
// not be requested. The types and their values are fixed by the station's log and its
// callers. A plain value.
struct ArchivingEvent {
    static constexpr int SpeedClassChanged = 1;  // value: the new class, 0..2
    static constexpr int NotEnoughSpace = 4;
    static constexpr int StorageWriteError = 5;
    static constexpr int Disconnected = 6;       // value: the disconnection reason
    static constexpr int ConnectFailed = 7;      // text: why, or empty

    int key = 0;      // the schedule's key in the scheduler
    UniqueID site;    // the schedule's site, whose log the event goes to
    int type = 0;
    int value = 0;
    std::string text;

    // The system-log code of an event of `type` with `value` (0 when it writes none); also
    // the code a failed schedule's site shows.
    static int logCode(int type, int value);
};
