// Channels: one TCP connection between two broker processes, as the
// transport knows it: a socket and the peer's identity.
//
// A channel carries its number, the peer's identity (both addresses, the
// descriptor number for trace lines, the kernel credentials of a local
// peer) and whether this process made it. The protocol it speaks and what
// the upper layers learn about the peer later (its binding) are theirs to
// keep, by channel id. The event loop
// (event_loop.h) creates, owns and destroys channels; upper layers hold a
// Channel& only while a callback or a call runs, and its id() beyond that.
//
// Each class answers a type query by its class name and passes any other
// name to its base; a name no class in the chain has gives null.
//
// Thread safety: none; channels belong to the event loop's thread.

#ifndef TALVO_RUNTIME_TRANSPORT_CHANNEL_H_
#define TALVO_RUNTIME_TRANSPORT_CHANNEL_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace talvo {

class Channel {
 public:
  Channel() = default;
  virtual ~Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // This channel when `class_name` is "Channel" (or a derived class's own
  // name), else null.
  virtual Channel* typeQuery(std::string_view class_name);
  // The channel's own description, shown in the connection trace lines.
  virtual std::string description() const { return {}; }

  // A number that names this channel for its whole life (never reused).
  std::uint64_t id() const { return identity_.channel; }
  // Who is at the other end, taken when the connection was made.
  const platform::PeerIdentity& identity() const { return identity_; }
  const platform::SocketAddress& peerAddress() const { return identity_.peer; }
  // False once closed.
  bool connected() const { return connected_; }
  // True for a channel this process connected, false for an accepted one.
  bool outgoing() const { return outgoing_; }

 protected:
  friend class EventLoop;
  platform::PeerIdentity identity_;
  bool connected_ = false;
  bool outgoing_ = false;
};

class TalvoChannel : public Channel {
 public:
  Channel* typeQuery(std::string_view class_name) override;
};

// A broker channel over TCP; describes itself as "a.b.c.d:port" of the peer.
class TalvoTCPChannel : public TalvoChannel {
 public:
  Channel* typeQuery(std::string_view class_name) override;
  std::string description() const override;
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_TRANSPORT_CHANNEL_H_
