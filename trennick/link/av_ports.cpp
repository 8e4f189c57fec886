#include "trennick/link/av_ports.h"

#include "trennick/link/packet_connection.h"

namespace trennick {

bool PacketConnectionAvLink::sendToken(WORD tokenId) { return m_link.SendAcknowledgment(tokenId) != 0; }

LONG PacketConnectionAvLink::sendBucket(WORD bucketType, const BYTE* payload, DWORD length, WORD bucketNo) {
    return m_link.SendBucket(bucketType, payload, length, bucketNo);
}

int PacketConnectionAvLink::protocolVersion() { return m_link.GetProtocolVersion(); }
LONG PacketConnectionAvLink::peerProtocolNumber() { return m_link.GetPeerProtocolNumber(); }
BYTE PacketConnectionAvLink::holdBits() { return m_link.GetHoldStatus(); }
WORD PacketConnectionAvLink::remoteVideoStatus() { return m_link.GetRemoteVideoStatus(); }
DWORD PacketConnectionAvLink::nowMs() { return m_link.now(); }

}  // namespace trennick
