#pragma once

// Why a connection attempt failed or a connection ended. The values reach the facade's
// disconnected() and from there the archiving schedules, which decide on them whether to
// reconnect; they are also written to the system log, so they never change.
namespace DisconnectReason {

constexpr int Other = 0;
constexpr int NotInitialised = 101;
constexpr int PeerClosed = 102;
constexpr int AccessDenied = 103;
constexpr int NetworkDown = 104;
constexpr int AddressNotAvailable = 105;
constexpr int HostDown = 106;
constexpr int HostUnreachable = 107;
constexpr int HostNotFound = 108;
constexpr int ConnectionReset = 109;
constexpr int TimedOut = 110;
constexpr int ConnectionRefused = 111;
constexpr int DispatcherStopped = 201;
constexpr int UnexpectedWritable = 202;
constexpr int UnexpectedReadable = 203;
constexpr int ClosedByClient = 301;
constexpr int InvalidPayloadSize = 303;
constexpr int ProtocolError = 304;
constexpr int NoPlaybackProfile = 305;
constexpr int LoginRefused = 308;
constexpr int LoginRefusedCode3 = 309;
constexpr int LoginRefusedCode4 = 310;
constexpr int LoginRefusedCode5 = 311;
// The recorder does not answer: no alive-check answer, or no answer to a playback request
// within the reply time-out. The archiving schedules reconnect on it.
constexpr int NoAliveAnswer = 312;
constexpr int ChannelFull = 313;

// The reason for a socket error number (errno); 0 for errors without a reason of their own.
// A host name that does not resolve is reported by SocketAddress with HostNotFound itself.
int fromSocketError(int error);

}  // namespace DisconnectReason
