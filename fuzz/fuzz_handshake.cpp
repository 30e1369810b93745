// The client's side of a connection, fed whatever a recorder might send: the input is the
// byte stream from the recorder (sync response or channel full, login response, then
// anything a logged-in session receives). A real ClientSession runs its whole state machine
// on it: header checks, alive checks, sync response and options, the login request with
// its digest, the login response, fin notices, unknown types and every playback response,
// up to the end of the connection.
//
// Checked: every packet the client sends is well framed; the first is the sync request;
// a login request goes out at most once, only after a sync response was accepted, and
// reads back as user, 16-byte digest and "md5"; login success or failure is reported at
// most once and only after the login request; playback responses reach the facade only
// after a successful login; an unknown-type notice names the type that was not
// understood; alive checks are answered with the reply flag; the connection ends exactly
// once, last, with a reason the station knows; and the session never stalls without
// reading, writing or closing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/ByteBuffer.h"
#include "base/Clock.h"
#include "base/DateTime.h"
#include "network/protocol/ClientSession.h"
#include "network/protocol/Login.h"
#include "network/protocol/PacketFormat.h"
#include "network/session/DisconnectReason.h"
#include "support/CheckingPlaybackFacade.h"
#include "support/FuzzCheck.h"
#include "support/ScriptedSessionContext.h"

namespace {

using Event = CheckingPlaybackFacade::Event;
using Entry = CheckingPlaybackFacade::Entry;

constexpr const char* User = "admin";

// What lives for the whole run: the clock stands still, so the alive checker (kept
// running by the idle session) never acts on its own; the facade is never started.
struct World {
    ManualClock clock{DateTime(2020, 1, 1, 0, 0, 0)};
    CheckingPlaybackFacade facade;
    ClientSession idle{facade};
    SocketAddress address{"127.0.0.1", 7000};
    Login login{User, "secret"};
};

World& world() {
    static World* instance = new World();
    return *instance;
}

void checkLoginRequest(const uint8_t* payload, int length) {
    std::vector<uint8_t> copy(payload, payload + length);
    ByteBuffer buffer(static_cast<int>(copy.size()), copy.data());
    buffer.setOrder(ByteOrder::BigEndian);
    QF_FUZZ_CHECK(std::strcmp(buffer.getString(), User) == 0);
    QF_FUZZ_CHECK(buffer.get() == 16);
    buffer.skip(16);
    QF_FUZZ_CHECK(std::strcmp(buffer.getString(), "md5") == 0);
    QF_FUZZ_CHECK(buffer.remaining() < 4);
}

void checkSent(CheckingPlaybackFacade& facade, uint16_t type, const uint8_t* payload, int length) {
    switch (type) {
        case PacketType::LoginRequest:
            checkLoginRequest(payload, length);
            break;
        case PacketType::AliveCheck:
            // The alive checker never runs, so the client only ever answers.
            QF_FUZZ_CHECK(length == 4 && payload[0] == 0xFF);
            break;
        case PacketType::UnknownTypeNotice: {
            QF_FUZZ_CHECK(length == 4);
            const std::vector<Entry>& t = facade.transcript();
            QF_FUZZ_CHECK(!t.empty() && t.back().event == Event::Unknown);
            QF_FUZZ_CHECK(((payload[0] << 8) | payload[1]) == t.back().value);
            break;
        }
        default:
            QF_FUZZ_CHECK(type == PacketType::SyncRequest);
            break;
    }
    facade.note(Event::Sent, type);
}

bool isKnownEndReason(int reason) {
    switch (reason) {
        case DisconnectReason::Other:
        case DisconnectReason::PeerClosed:
        case DisconnectReason::InvalidPayloadSize:
        case DisconnectReason::ProtocolError:
        case DisconnectReason::NoPlaybackProfile:
        case DisconnectReason::LoginRefused:
        case DisconnectReason::LoginRefusedCode3:
        case DisconnectReason::LoginRefusedCode4:
        case DisconnectReason::LoginRefusedCode5:
        case DisconnectReason::ChannelFull:
            return true;
        default:
            return false;
    }
}

void checkTranscript(const std::vector<Entry>& transcript, int closedReason) {
    QF_FUZZ_CHECK(!transcript.empty());
    QF_FUZZ_CHECK(transcript.front().event == Event::Connected);
    QF_FUZZ_CHECK(transcript.size() >= 2 && transcript[1].event == Event::Sent &&
                  transcript[1].value == PacketType::SyncRequest);
    QF_FUZZ_CHECK(transcript.back().event == Event::Disconnected);
    QF_FUZZ_CHECK(transcript.back().value == closedReason);
    QF_FUZZ_CHECK(isKnownEndReason(closedReason));

    bool syncAccepted = false;
    bool loginSent = false;
    bool loginAnswered = false;
    bool loggedIn = false;
    int syncRequests = 0;
    for (size_t i = 0; i < transcript.size(); ++i) {
        const Entry& e = transcript[i];
        switch (e.event) {
            case Event::Connected:
                QF_FUZZ_CHECK(i == 0);
                break;
            case Event::SystemInfo:
            case Event::ProductInfo:
                QF_FUZZ_CHECK(!loginSent);
                syncAccepted = true;
                break;
            case Event::Sent:
                if (e.value == PacketType::SyncRequest) ++syncRequests;
                if (e.value == PacketType::LoginRequest) {
                    QF_FUZZ_CHECK(syncAccepted && !loginSent);
                    loginSent = true;
                }
                if (e.value == PacketType::UnknownTypeNotice) QF_FUZZ_CHECK(loggedIn);
                break;
            case Event::LoginSucceeded:
            case Event::LoginFailed:
                QF_FUZZ_CHECK(loginSent && !loginAnswered);
                loginAnswered = true;
                loggedIn = e.event == Event::LoginSucceeded;
                break;
            case Event::Fin:
            case Event::Playback:
            case Event::Unknown:
                QF_FUZZ_CHECK(loggedIn);
                break;
            case Event::Disconnected:
                QF_FUZZ_CHECK(i + 1 == transcript.size());
                break;
        }
    }
    QF_FUZZ_CHECK(syncRequests == 1);
    bool refused =
        closedReason >= DisconnectReason::LoginRefused && closedReason <= DisconnectReason::LoginRefusedCode5;
    if (refused) QF_FUZZ_CHECK(loginAnswered && !loggedIn);
    if (loginAnswered && !loggedIn) QF_FUZZ_CHECK(refused);
    if (closedReason == DisconnectReason::ChannelFull ||
        closedReason == DisconnectReason::NoPlaybackProfile) {
        QF_FUZZ_CHECK(!loginSent);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = world();
    CheckingPlaybackFacade& facade = w.facade;
    facade.clearTranscript();

    auto session = std::make_unique<ClientSession>(facade);
    ScriptedSessionContext context(*session, [&](uint16_t type, const uint8_t* payload, int length) {
        checkSent(facade, type, payload, length);
    });
    facade.bind(*session);
    session->setContext(&context);
    session->open(0);
    session->connect(w.address, w.login);

    context.run(data, size);

    checkTranscript(facade.transcript(), context.closedReason());
    QF_FUZZ_CHECK(session->isFree());
    QF_FUZZ_CHECK(session->state() == SessionState::DISCONNECTED);
    return 0;
}
