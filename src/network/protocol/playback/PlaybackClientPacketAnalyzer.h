#pragma once

#include "network/protocol/ClientPacketAnalyzer.h"
#include "network/protocol/playback/PlaybackMessageVariants.h"
#include "network/protocol/playback/PlaybackWire.h"

class PlaybackClientFacade;

// The client side of the playback service: builds every playback request and turns every
// playback response into one notification of the PlaybackClientFacade it is dispatched
// for. Packets of other types go to the session-level analyzer (fin notice, unknown-type
// notice). Stateless; one analyzer serves every session, on any thread, as long as each
// caller builds into its own packet.
class PlaybackClientPacketAnalyzer : public ClientPacketAnalyzer {
public:
    // A malformed playback response raises ByteBufferException (the session treats the
    // packet as not handled); every parsed one counts as handled.
    bool dispatch(int handle, Packet& packet, CommonFacade& facade) override;

    // Builds any playback request into `packet`, finished and padded.
    template <typename Request>
    void build(Packet& packet, const Request& request) const {
        writePlaybackMessage(packet, request);
    }

private:
    void deliver(int handle, PlaybackResponseMessage& response, PlaybackClientFacade& facade);
};
