#pragma once

// Features a storage offers, depending on its format version (SuperBlock::isAbleTo).
namespace TarsilAbility {
inline constexpr int TimeStamp = 1;        // version >= 2
inline constexpr int Log = 2;              // version >= 3
inline constexpr int Journaling = 5;       // version >= 3
inline constexpr int SingleTrackList = 6;  // version >= 3: only the track list at 0x200
}  // namespace TarsilAbility
