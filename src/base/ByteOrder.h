#pragma once

#include <bit>
#include <cstdint>

// The order in which buffers store 16-, 32- and 64-bit values. The numbers are part of
// stored and exchanged data and cannot change. Single bytes and byte arrays are never
// reordered.
enum class ByteOrder : int {
    BigEndian = 1,
    LittleEndian = 2,
};

static_assert(std::endian::native == std::endian::little, "the host is expected to be little-endian");
inline constexpr ByteOrder HostByteOrder = ByteOrder::LittleEndian;

// The value as it is stored in (or was read from) memory of the given order.
inline uint16_t toOrder(ByteOrder order, uint16_t v) { return order == HostByteOrder ? v : __builtin_bswap16(v); }
inline uint32_t toOrder(ByteOrder order, uint32_t v) { return order == HostByteOrder ? v : __builtin_bswap32(v); }
inline uint64_t toOrder(ByteOrder order, uint64_t v) { return order == HostByteOrder ? v : __builtin_bswap64(v); }
