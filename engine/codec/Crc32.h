// CRC-32 (ZIP, reflected 0xEDB88320) and CRC-16/ARC over constant tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parcelix {

inline constexpr uint32_t CrcMask = 0xFFFFFFFFu;  // start value and final XOR mask
inline constexpr uint8_t kCrcKind16 = 16;
inline constexpr uint8_t kCrcKind32 = 32;

extern const uint32_t Crc32Table[256];
extern const uint16_t Crc16Table[256];

// One table step.
uint32_t UpdateCrc32Byte(uint8_t value, uint32_t crc);
// Runs Count bytes through the register; Count <= 0 leaves it unchanged. No
// pre- or post-conditioning: the caller loads CrcMask and XORs at the end.
void UpdateCrc32(const void* buffer, int32_t count, uint32_t& crc);
void UpdateCrc16(const void* buffer, int32_t count, uint32_t& crc);
// The same as UpdateCrc32 for any length: returns the updated register.
uint32_t UpdateCrc32Block(const void* buffer, size_t count, uint32_t crc);

// The CRC registers of one operation (never process-wide).
struct TCrcRegister {
  uint32_t CrcValue32 = CrcMask;
  uint32_t CrcValue16 = 0;
  // Kind 16 updates CrcValue16, kind 32 CrcValue32, any other nothing.
  void UpdateCrcOfKind(uint8_t kind, const void* buffer, int32_t count);
};

}  // namespace parcelix
