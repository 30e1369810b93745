// recorder-sim: a simulated network video recorder for tests and demonstrations.
//
//   recorder-sim --listen 127.0.0.1:0 --user admin --password secret [--fault NAME] ...
//
// Prints "listening on HOST:PORT" as its first line and serves until SIGINT or SIGTERM.

#include <csignal>
#include <memory>
#include <stdexcept>
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>
#include <pthread.h>

#include "PlaybackService.h"
#include "RecorderSim.h"
#include "base/Exception.h"

namespace {

bool splitHostPort(const std::string& text, std::string& host, uint16_t& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    host = text.substr(0, colon);
    try {
        unsigned long value = std::stoul(text.substr(colon + 1));
        if (value > 65535) {
            return false;
        }
        port = static_cast<uint16_t>(value);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated network video recorder (playback service)"};
    std::string listen = "127.0.0.1:0";
    std::string faultName = "none";
    RecorderSimConfig config;
    bool legacyAliveCheck = false;
    app.add_option("--listen", listen, "HOST:PORT to listen on (port 0 picks a free one)");
    app.add_option("--user", config.user, "user name the recorder accepts");
    app.add_option("--password", config.password, "password the recorder accepts");
    app.add_option("--fault", faultName,
                   "none, channel-full, refuse-login, wrong-protocol-name, wrong-protocol-version, "
                   "no-playback-profile, oversize-header, garbage, close-mid-packet, silent");
    app.add_option("--login-code", config.refusedLoginCode, "code sent with --fault refuse-login (2-5)")
        ->check(CLI::Range(2, 5));
    app.add_flag("--accepts-newer", config.acceptsNewer, "with wrong-protocol-version: say newer clients are fine");
    app.add_flag("--legacy-alive-check", legacyAliveCheck, "do not offer the newer alive-check scheme");
    app.add_option("--alive-interval-ms", config.aliveIntervalMs, "own alive checks after this much silence (0: never)");
    app.add_flag("--fin-after-login", config.finAfterLogin, "send a fin notice right after each login");
    app.add_option("--product-version", config.productVersion, "version in the product information (default 1.2)");

    // The recording served and how it is played.
    PlaybackServiceConfig playback;
    SyntheticRecordingOptions& rec = playback.recording;
    app.add_option("--seed", rec.seed, "seed of the synthetic recording");
    app.add_option("--channels", rec.videoChannels, "video channels (0-16; 0 serves audio alone)");
    app.add_option("--audio-channels", rec.audioChannels, "audio channels (0-16)");
    app.add_option("--fps", rec.framesPerSecond, "frames per second per channel (1-60)");
    app.add_option("--key-interval", rec.keyFrameInterval, "frames per key group");
    app.add_option("--min-frame-size", rec.minFrameSize, "smallest video payload of a dependent frame in bytes");
    app.add_option("--max-frame-size", rec.maxFrameSize, "largest video payload of a dependent frame in bytes");
    app.add_option("--min-key-frame-size", rec.minKeyFrameSize, "smallest video payload of a key frame in bytes");
    app.add_option("--max-key-frame-size", rec.maxKeyFrameSize, "largest video payload of a key frame in bytes");
    app.add_option("--slices", rec.sliceCount, "recorded slices (each a section of its own)");
    app.add_option("--slice-seconds", rec.sliceSeconds, "length of each slice");
    app.add_option("--gap-seconds", rec.gapSeconds, "gap without recording after each slice");
    app.add_option("--clock-back-slice", rec.clockBackSlice, "slice in which the clock is set back (-1: never)");
    app.add_option("--event-every", rec.eventEverySeconds, "one event per this many recorded seconds");
    app.add_option("--text-in-every", rec.textInEverySeconds, "one text-in entry per this many recorded seconds (0: none)");
    app.add_option("--page-size", playback.listPageSize, "entries per event or text-in list response");
    app.add_flag("--real-time", playback.realTime, "stream at recording speed instead of as fast as possible");
    app.add_option("--stall-after-frames", playback.stallAfterFrames,
                   "stop answering after streaming this many frames on a connection");
    app.add_option("--disconnect-after-frames", playback.disconnectAfterFrames,
                   "close a connection after streaming this many frames on it");
    app.add_flag("--overwritten-positions", playback.positionsOverwritten,
                 "a pause at a stored position finds a frame of another time there");
    app.add_option("--unanswered-request", playback.unansweredRequests,
                   "packet type of a playback request that is taken and never answered (repeatable)");
    CLI11_PARSE(app, argc, argv);

    config.newAliveCheck = !legacyAliveCheck;
    if (!RecorderSimConfig::parseFault(faultName, config.fault)) {
        std::fprintf(stderr, "recorder-sim: unknown fault \"%s\"\n", faultName.c_str());
        return 2;
    }
    if (!splitHostPort(listen, config.host, config.port)) {
        std::fprintf(stderr, "recorder-sim: --listen wants HOST:PORT, got \"%s\"\n", listen.c_str());
        return 2;
    }

    // Signals are taken by sigwait below; every thread started from here on inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<PlaybackService> service;
    try {
        service = std::make_unique<PlaybackService>(playback);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "recorder-sim: bad recording options: %s\n", e.what());
        return 2;
    }
    RecorderSim sim(config);
    sim.addHandlerFactory(service->factory());
    try {
        sim.start();
    } catch (const Exception& e) {
        std::fprintf(stderr, "recorder-sim: cannot listen on %s: %s\n", listen.c_str(), messageOf(e));
        return 1;
    }
    std::printf("listening on %s:%u\n", sim.host().c_str(), static_cast<unsigned>(sim.port()));
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    sim.stop();
    std::printf("stopped (%d logins)\n", sim.loginCount());
    return 0;
}
