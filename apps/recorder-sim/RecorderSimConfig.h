#pragma once

#include <cstdint>
#include <string>

// What a simulated recorder is and which faults it plays. Fixed for the simulator's life.
struct RecorderSimConfig {
    // Ways to misbehave, one at a time.
    enum class Fault {
        None,
        ChannelFull,          // answer the sync request with "channel full"
        RefuseLogin,          // answer every login with refusedLoginCode
        WrongProtocolName,    // sync response with protocol name "XVRZ"
        WrongProtocolVersion, // sync response with version 2 (acceptsNewer decides)
        NoPlaybackProfile,    // profile list without the playback service
        OversizeHeader,       // a header announcing 1 MiB + 1 payload bytes
        Garbage,              // bytes that are no packet at all instead of a sync response
        CloseMidPacket,       // half a sync response, then close
        Silent,               // after the login, never answer or send anything again
    };

    std::string host = "127.0.0.1";
    uint16_t port = 0;  // 0 picks a free port
    std::string user = "admin";
    std::string password = "admin";

    Fault fault = Fault::None;
    int refusedLoginCode = 2;
    bool acceptsNewer = false;

    // Offer the newer alive-check scheme (sync option 13).
    bool newAliveCheck = true;
    // Send our own alive check after this long without sending anything while a client is
    // logged in; 0 never.
    int aliveIntervalMs = 10000;
    // The version the recorder reports in its product information (storage lists are
    // offered from 1.2 on).
    std::string productVersion = "1.2";
    // Send a fin notice right after a successful login.
    bool finAfterLogin = false;

    // Parses a fault name as the command line spells it ("channel-full", "refuse-login", ...).
    static bool parseFault(const std::string& name, Fault& fault);
};
