// The packets of the desktop bus: one Unix datagram each, a fixed header then a payload of
// little-endian fields. Nothing in a packet is trusted: the reader checks every length
// against what arrived and refuses any other version, so malformed traffic is dropped and
// counted instead of read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bus {

constexpr uint32_t kPacketMagic = 0x53425457; // "WTBS" read as little-endian bytes
constexpr uint16_t kPacketVersion = 1;
constexpr size_t kMaxPacket = 64 * 1024;
constexpr size_t kMaxText = 16 * 1024; // longest text field: titles, message box texts

enum class PacketKind : uint16_t {
    Broadcast = 1, // a message for every top-level window of the receiver; answered by Done
    Done = 2,      // a broadcast or a request has been handled (reply)
    Request = 3,   // a controller's request; answered by Done with a status and a payload
    Event = 4,     // a platform event of the sender, for observers
    Ping = 5,      // liveness probe; never answered
    Reaped = 6,    // to oneself: a started process has ended (keeps events in order)
};

enum class RequestKind : uint16_t {
    ListWindows = 1,
    InjectKey = 2,
    WindowCommand = 3,
    Picture = 4,
    FrameCount = 5,
    Stats = 6,
    InjectKeys = 7, // several key strokes into one window in one step
};

constexpr uint32_t kMaxKeyStrokes = 4096; // the most strokes one InjectKeys request carries

// The fixed header in front of every payload.
struct PacketHeader {
    uint32_t magic;
    uint16_t version;
    uint16_t kind;
    uint32_t sequence; // pairs a Done with its Broadcast or Request
    int32_t pid;       // the sender; its endpoint is named after it
    uint32_t flags;    // kFlagObserver: the sender's endpoint is an observer's
    uint32_t length;   // payload bytes after the header
};
static_assert(sizeof(PacketHeader) == 24);

constexpr uint32_t kFlagObserver = 1;

// Builds a packet: header first, then fields appended in order.
class PacketWriter {
public:
    PacketWriter(PacketKind kind, uint32_t sequence, int32_t pid, uint32_t flags);
    // A writer of fields alone, without a header: a part of a payload built apart.
    PacketWriter() = default;

    PacketWriter& u8(uint8_t v);
    PacketWriter& u16(uint16_t v);
    PacketWriter& u32(uint32_t v);
    PacketWriter& u64(uint64_t v);
    PacketWriter& i32(int32_t v) { return u32(uint32_t(v)); }
    PacketWriter& i64(int64_t v) { return u64(uint64_t(v)); }
    PacketWriter& f32(float v);
    // A u32 length then the bytes; texts longer than kMaxText are cut.
    PacketWriter& text(std::string_view s);
    // Bytes as they are (a part built by another writer).
    PacketWriter& append(std::span<const uint8_t> bytes);

    // The finished datagram (the header's length is filled in here; a writer without a header
    // gives its fields).
    [[nodiscard]] const std::vector<uint8_t>& bytes();

private:
    std::vector<uint8_t> m_bytes;
    bool m_header{false};
};

// Reads a payload field by field; once a read runs past the end every later read fails too,
// so a caller checks ok() once after reading all fields.
class PacketReader {
public:
    explicit PacketReader(std::span<const uint8_t> payload) : m_data(payload) {}

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    int32_t i32() { return int32_t(u32()); }
    int64_t i64() { return int64_t(u64()); }
    float f32();
    std::string text();

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] bool at_end() const { return m_ok && m_pos == m_data.size(); }
    [[nodiscard]] std::span<const uint8_t> rest() const { return m_data.subspan(m_pos); }

private:
    bool has(size_t n);
    uint64_t read_le(size_t n);

    std::span<const uint8_t> m_data;
    size_t m_pos{0};
    bool m_ok{true};
};

// A datagram whose header checks out: magic, version, a known kind, a positive pid and a
// length that matches what arrived.
struct Packet {
    PacketHeader header{};
    std::span<const uint8_t> payload;
    [[nodiscard]] PacketKind kind() const { return PacketKind(header.kind); }
};

[[nodiscard]] std::optional<Packet> parse_packet(std::span<const uint8_t> datagram);

} // namespace bus
