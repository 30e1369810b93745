#include "ProbeCommand.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "network/playback/MediaDispatcher.h"
#include "network/playback/NetworkPlaybackContext.h"
#include "network/playback/RecorderProbe.h"

namespace {

std::string dateText(const Date& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%d/%02d/%02d", date.year(), date.month(), date.day());
    return text;
}

std::string timeText(const DateTime& time) {
    if (!time.isValid()) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%d/%02d/%02d %02d:%02d:%02d", time.year(), time.month(), time.day(),
                  time.hour(), time.minute(), time.second());
    return text;
}

std::string hardwareText(const RemoteSystemInfo& system) {
    char text[24];
    const auto& a = system.hardwareAddress;
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

void printText(const ProbeCommand::Options& options, const RecorderProbeResult& r) {
    std::printf("Recorder %s:%u\n", options.address.c_str(), static_cast<unsigned>(options.port));
    std::printf("  model:     %s (code 0x%04x, kind %u)\n", r.product.modelName(), r.product.modelCode(),
                static_cast<unsigned>(r.product.productKind()));
    std::printf("  version:   %s\n", r.product.version());
    std::printf("  name:      %s (system kind %u, hardware %s)\n", r.system.systemName(),
                static_cast<unsigned>(r.system.systemKind), hardwareText(r.system).c_str());
    std::printf("  inputs:    %u video, %u audio in, %u audio out, %u alarm, %u sensor\n",
                static_cast<unsigned>(r.system.VideoInNum), static_cast<unsigned>(r.system.AudioInNum),
                static_cast<unsigned>(r.system.AudioOutNum), static_cast<unsigned>(r.system.AlarmNum),
                static_cast<unsigned>(r.system.SensorNum));
    std::printf("Recording calendar: %zu day%s\n", r.calendar.size(), r.calendar.size() == 1 ? "" : "s");
    for (const Date& date : r.calendar) {
        std::printf("  %s\n", dateText(date).c_str());
    }
    std::printf("Time table: %zu slice%s\n", r.timeTable.size(), r.timeTable.size() == 1 ? "" : "s");
    for (const RecordedSlice& slice : r.timeTable) {
        std::printf("  section %-6u %s ~ %s  channels 0x%08x\n", slice.id, timeText(slice.interval.from()).c_str(),
                    timeText(slice.interval.to()).c_str(), slice.channels.value());
    }
}

nlohmann::json toJson(const ProbeCommand::Options& options, const RecorderProbeResult& r) {
    nlohmann::json out;
    out["ok"] = r.ok;
    out["address"] = options.address;
    out["port"] = options.port;
    if (!r.ok) {
        out["reason"] = r.reason;
        out["explanation"] = r.explanation;
        return out;
    }
    out["product"] = {{"model", r.product.modelName()},
                      {"modelCode", r.product.modelCode()},
                      {"kind", r.product.productKind()},
                      {"version", r.product.version()}};
    out["system"] = {{"name", r.system.systemName()},
                     {"kind", r.system.systemKind},
                     {"hardwareAddress", hardwareText(r.system)},
                     {"videoIn", r.system.VideoInNum},
                     {"audioIn", r.system.AudioInNum},
                     {"audioOut", r.system.AudioOutNum},
                     {"alarms", r.system.AlarmNum},
                     {"sensors", r.system.SensorNum}};
    nlohmann::json calendar = nlohmann::json::array();
    for (const Date& date : r.calendar) {
        calendar.push_back(dateText(date));
    }
    out["calendar"] = calendar;
    nlohmann::json slices = nlohmann::json::array();
    for (const RecordedSlice& slice : r.timeTable) {
        slices.push_back({{"section", slice.id},
                          {"from", timeText(slice.interval.from())},
                          {"to", timeText(slice.interval.to())},
                          {"channels", slice.channels.value()}});
    }
    out["timeTable"] = slices;
    return out;
}

}  // namespace

int ProbeCommand::run(const Options& options) {
    SiteAddress site{options.address, options.port, options.user, options.password};
    RecorderProbeResult result = RecorderProbe().run(site);
    // The playback threads end here, before the process starts to exit.
    NetworkPlaybackContext::shutdown();
    MediaDispatcher::shutdown();

    if (options.json) {
        std::printf("%s\n", toJson(options, result).dump(2).c_str());
    } else if (result.ok) {
        printText(options, result);
    }
    if (!result.ok) {
        std::fprintf(stderr, "quillfen: probe failed: reason %d: %s\n", result.reason, result.explanation.c_str());
        return 1;
    }
    return 0;
}
