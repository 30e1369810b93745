#include "RecorderSimConfig.h"

#include <map>

bool RecorderSimConfig::parseFault(const std::string& name, Fault& fault) {
    static const std::map<std::string, Fault> names = {
        {"none", Fault::None},
        {"channel-full", Fault::ChannelFull},
        {"refuse-login", Fault::RefuseLogin},
        {"wrong-protocol-name", Fault::WrongProtocolName},
        {"wrong-protocol-version", Fault::WrongProtocolVersion},
        {"no-playback-profile", Fault::NoPlaybackProfile},
        {"oversize-header", Fault::OversizeHeader},
        {"garbage", Fault::Garbage},
        {"close-mid-packet", Fault::CloseMidPacket},
        {"silent", Fault::Silent},
    };
    auto found = names.find(name);
    if (found == names.end()) {
        return false;
    }
    fault = found->second;
    return true;
}
