#pragma once

#include <cstdint>

// The deterministic mixing every generated choice of the synthetic recording is drawn
// from (sizes, event seconds and kinds, payload bytes). Pure functions: the same inputs
// give the same numbers on every machine and in every run.
namespace SyntheticHash {

// The splitmix64 finaliser: a cheap, well-spread bijection of 64-bit values.
inline constexpr uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

inline constexpr uint64_t of(uint64_t seed, uint64_t a, uint64_t b = 0, uint64_t c = 0) {
    return mix(seed ^ mix(a ^ mix(b ^ mix(c))));
}

}  // namespace SyntheticHash
