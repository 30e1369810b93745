#pragma once

// The storage engine's error codes (TarsilException::errorCode) and their fixed texts.
// The codes are shown to people and kept in logs; they cannot change.
namespace TarsilError {

inline constexpr int NotEnoughSpace = 1;
inline constexpr int RepositoryMismatch = 2;
inline constexpr int InvalidStorage = 3;
inline constexpr int StorageCorrupted = 4;
inline constexpr int PageOverwritten = 5;
inline constexpr int BadPageFull = 6;

// "Not enough space", ..., "Unknown exception" for any other code.
const char* text(int code);

}  // namespace TarsilError

// Throws the TarsilException of `code` with its fixed text.
#define QF_THROW_TARSIL(code) throw TarsilException(QF_HERE, (code), TarsilError::text(code))
