#pragma once

// The message codes of the system log and the levels its entries carry. The numbers are
// stored in the "log" table of existing databases and cannot change.
namespace SystemLogCode {

enum : int {
    None = 0,
    StartArchiving = 1,
    ArchivingStopped = 2,
    ScheduleAdded = 3,
    ScheduleDeleted = 4,
    Scheduled = 5,
    SiteAddressChanged = 6,
    PlaybackPortChanged = 7,
    UsernameChanged = 8,
    StorageAdded = 9,
    StorageRemoved = 10,
    StorageFormatted = 11,
    NotEnoughSpace = 12,
    StorageIOError = 13,
    ArchivingSpeedSlow = 14,
    FailedToFindSite = 15,
    FailedToLogin = 16,
    PlaybackPermissionDenied = 17,
    PlaybackChannelFull = 18,
    PlaybackProtocolNotSupported = 19,
    ConnectionTimeout = 20,
    ConnectionRefused = 21,
    Disconnected = 22,
    FailedToConnect = 23,
};

// The text shown for `code`: "" for 0 and for codes it does not know.
const char* text(int code);

}  // namespace SystemLogCode

namespace SystemLogLevel {

enum : int { Fatal = 0, Error = 1, Warn = 2, Info = 3, Debug = 4 };

// "Fatal", "Error", "Warn", "Info", "Debug"; "" for any other value.
const char* name(int level);

}  // namespace SystemLogLevel
