#include "packet.h"

#include <cstring>

namespace bus {

PacketWriter::PacketWriter(PacketKind kind, uint32_t sequence, int32_t pid, uint32_t flags) {
    m_bytes.reserve(256);
    u32(kPacketMagic).u16(kPacketVersion).u16(uint16_t(kind)).u32(sequence).i32(pid).u32(flags);
    u32(0); // length, filled in by bytes()
    m_header = true;
}

PacketWriter& PacketWriter::u8(uint8_t v) {
    m_bytes.push_back(v);
    return *this;
}

PacketWriter& PacketWriter::u16(uint16_t v) {
    return u8(uint8_t(v)).u8(uint8_t(v >> 8));
}

PacketWriter& PacketWriter::u32(uint32_t v) {
    return u16(uint16_t(v)).u16(uint16_t(v >> 16));
}

PacketWriter& PacketWriter::u64(uint64_t v) {
    return u32(uint32_t(v)).u32(uint32_t(v >> 32));
}

PacketWriter& PacketWriter::f32(float v) {
    uint32_t bits;
    memcpy(&bits, &v, sizeof bits);
    return u32(bits);
}

PacketWriter& PacketWriter::text(std::string_view s) {
    if (s.size() > kMaxText)
        s = s.substr(0, kMaxText);
    u32(uint32_t(s.size()));
    m_bytes.insert(m_bytes.end(), s.begin(), s.end());
    return *this;
}

PacketWriter& PacketWriter::append(std::span<const uint8_t> bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

const std::vector<uint8_t>& PacketWriter::bytes() {
    if (!m_header)
        return m_bytes;
    uint32_t length = uint32_t(m_bytes.size() - sizeof(PacketHeader));
    for (int i = 0; i < 4; ++i)
        m_bytes[offsetof(PacketHeader, length) + i] = uint8_t(length >> (8 * i));
    return m_bytes;
}

bool PacketReader::has(size_t n) {
    if (!m_ok || m_data.size() - m_pos < n)
        m_ok = false;
    return m_ok;
}

uint64_t PacketReader::read_le(size_t n) {
    if (!has(n))
        return 0;
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v |= uint64_t(m_data[m_pos + i]) << (8 * i);
    m_pos += n;
    return v;
}

uint8_t PacketReader::u8() {
    return uint8_t(read_le(1));
}
uint16_t PacketReader::u16() {
    return uint16_t(read_le(2));
}
uint32_t PacketReader::u32() {
    return uint32_t(read_le(4));
}
uint64_t PacketReader::u64() {
    return read_le(8);
}

float PacketReader::f32() {
    uint32_t bits = u32();
    float v;
    memcpy(&v, &bits, sizeof v);
    return v;
}

std::string PacketReader::text() {
    uint32_t n = u32();
    if (n > kMaxText || !has(n))
        return m_ok = false, std::string();
    std::string s(reinterpret_cast<const char*>(m_data.data() + m_pos), n);
    m_pos += n;
    return s;
}

std::optional<Packet> parse_packet(std::span<const uint8_t> datagram) {
    PacketReader r(datagram);
    Packet p;
    p.header.magic = r.u32();
    p.header.version = r.u16();
    p.header.kind = r.u16();
    p.header.sequence = r.u32();
    p.header.pid = r.i32();
    p.header.flags = r.u32();
    p.header.length = r.u32();
    if (!r.ok() || p.header.magic != kPacketMagic || p.header.version != kPacketVersion)
        return std::nullopt;
    if (p.header.kind < uint16_t(PacketKind::Broadcast) ||
        p.header.kind > uint16_t(PacketKind::Reaped) || p.header.pid <= 0)
        return std::nullopt;
    if (r.rest().size() != p.header.length)
        return std::nullopt;
    p.payload = r.rest();
    return p;
}

} // namespace bus
