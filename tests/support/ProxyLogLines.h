// Lines the daemon's proxy thread writes, as tests look for them in the log.
#pragma once

namespace qxtest {

inline constexpr char kStartReceived[] = " QXPROXY_MSG_START message received.";
inline constexpr char kMaximumReached[] = " Maximum number of connections to Quodrix reached, abort instruction.";
inline constexpr char kRpcError[] = "RPC Error, trying to disconnect from Quodrix and connect again...";
inline constexpr char kNotConnected[] = "Quodrix found not connected, piloting request will not be sent";
inline constexpr char kStalledStopping[] =
    "The Quodrix proxy thread made no progress for 30 s, stuck in a call to Quodrix: stopping without it";

}  // namespace qxtest
