// The engine's stream family (TStream32) and the codec adapters over zlib.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <zlib.h>

#include "engine/codec/Crc32.h"

namespace parcelix {

class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TSeekOrigin : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

enum TDeflateType : uint8_t { dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX };
// zlib level of each TDeflateType: 0, 1, -1 (zlib's default, 6), 9.
int DeflateLevel(TDeflateType t);

enum TEncryptionMethod : uint8_t { emNone = 0 };

class TStream32;
using TStreamProgress = std::function<void(TStream32& sender)>;

// What a caller hands an adapter: CRC start, its progress counter, its cancel
// flag, end-of-data (given as 0) and the encryption method.
struct TJobRecord {
  uint32_t Crc = CrcMask;
  int64_t* BytesLeft = nullptr;
  uint8_t* Cancel = nullptr;
  uint8_t EndOfData = 0;
  uint8_t EncryptionMethod = emNone;
  // Called once per chunk by DeflateStream and StoreStream; may be empty.
  std::function<void()> ProcessMessages;
};

class TStream32 {
 public:
  virtual ~TStream32() = default;
  virtual int64_t GetSize();
  virtual void SetSize(int64_t newSize);
  // Bytes read or written; 0 on failure; -1 when this kind cannot do it.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // New position, or -1 when this kind cannot seek that way.
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  // Copies count bytes (0: the whole source from its start) in chunks of up
  // to 128 KiB, pumping messages and testing the cancel flag per chunk.
  // A short read or write throws EStreamError.
  virtual int64_t CopyFrom(TStream32& source, int64_t count);

  // Reads count bytes at pos; the position afterwards is unspecified (a
  // file stream reads without moving it). No progress event: a peek.
  virtual int64_t ReadAt(int64_t pos, void* buffer, int64_t count);

  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soFromBeginning); }
  void ReadBuffer(void* buffer, int64_t count);         // throws EStreamError on a short read
  void WriteBuffer(const void* buffer, int64_t count);  // throws EStreamError on a short write
  void DoProgress() {
    if (OnProgress) OnProgress(*this);
  }

  TStreamProgress ProgressHandler;  // stored by the owner; becomes OnProgress when a copy starts
  TStreamProgress OnProgress;       // active progress event
  TStreamProgress OnReadProgress;   // fired by file streams after reads
  std::function<void()> ProcessMessages;
  uint8_t* OwnerCancel = nullptr;  // owner's cancel flag, may be null
  int64_t* BytesLeft = nullptr;    // owner's count of bytes still to process

 protected:
  bool Cancelled() const { return OwnerCancel && *OwnerCancel; }
};

// File modes: fmCreate creates or truncates; the others open an existing file.
inline constexpr uint16_t fmCreate = 0xFFFF;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;

class THandleStream32 : public TStream32 {
 public:
  explicit THandleStream32(int handle = -1) : handle_(handle) {}
  ~THandleStream32() override;
  THandleStream32(const THandleStream32&) = delete;
  THandleStream32& operator=(const THandleStream32&) = delete;
  int64_t GetSize() override;
  void SetSize(int64_t newSize) override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t ReadAt(int64_t pos, void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  // Copies count bytes (0: the whole source from its start) in large
  // blocks, pumping messages and testing the cancel flag per block. File to
  // file the bytes move in the kernel and start going to the disk at once,
  // so that a flush before a rename has little left to wait for. A short
  // read or write throws EStreamError.
  int64_t CopyFrom(TStream32& source, int64_t count) override;
  int Handle() const { return handle_; }
  bool IsOpen() const { return handle_ >= 0; }
  int LastErrno() const { return lastErrno_; }  // errno of the last failed call (ENOSPC: disk full)
  void Close();

 protected:
  virtual void CopiedStep(int64_t) {}  // after each block of a copy, with its size

  int handle_;
  int lastErrno_ = 0;
};

// Opening never throws: a file that cannot be opened leaves a negative handle.
class TFileStream32 : public THandleStream32 {
 public:
  TFileStream32(const std::string& fileName, uint16_t mode);
  const std::string& FileName() const { return fileName_; }

 protected:
  std::string fileName_;
};

class TMemoryStream32 : public TStream32 {
 public:
  int64_t GetSize() override { return size_; }
  void SetSize(int64_t newSize) override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  uint8_t* Memory() { return data_.get(); }
  const uint8_t* Memory() const { return data_.get(); }
  int64_t Capacity() const { return capacity_; }
  void Clear();

 private:
  void Grow(int64_t needed);  // capacity rounded up to 8192; throws EStreamError when out of memory
  // The block is never cleared when it grows: every byte below size_ was
  // written, and bytes a stream gains are zeroed where they are gained.
  std::unique_ptr<uint8_t[]> data_;
  int64_t allocated_ = 0;  // the block's real size: grows geometrically
  int64_t capacity_ = 0;   // the capacity as seen by callers: whole blocks of 8192
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// Bytes written are raw-Deflate compressed into the destination, with the
// CRC-32 of the uncompressed bytes in Crc. Destroying it finishes the data.
class TCompressStream : public TStream32 {
 public:
  TCompressStream(TStream32& destination, TDeflateType type, int windowBits, const TJobRecord& job);
  ~TCompressStream() override;
  int64_t Read(void*, int64_t) override { return -1; }
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, int origin) override;  // only (0, current): bytes taken in
  // Finishes the Deflate data now; a failing destination throws here. The
  // destructor finishes too, but cannot report a failure.
  void Finish();
  uint32_t Crc;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Bytes read from it are raw-Deflate decoded from the source.
class TDecompressStream : public TStream32 {
 public:
  TDecompressStream(TStream32& source, int windowBits, uint8_t encryptionMethod = emNone);
  // Moves the source back by the input it read but the decoder did not use.
  ~TDecompressStream() override;
  // Decoded bytes delivered into buffer (up to count), refilling from the
  // source refillSize bytes at a time; a negative zlib status on error
  // (Z_BUF_ERROR when the input ran out).
  int64_t ReadChunk(void* buffer, int64_t count, int64_t refillSize);
  int64_t Read(void* buffer, int64_t count) override { return ReadChunk(buffer, count, count); }
  int64_t Write(const void*, int64_t) override { return -1; }
  int64_t Seek(int64_t offset, int origin) override;  // forward only, by decoding
  // Caps the bytes this adapter will ever read from the source (a member's
  // compressed size), however many refills the decoder asks for; -1: no cap.
  void SetInputLimit(int64_t limit);
  int64_t TotalIn() const;   // compressed bytes the decoder has taken
  int64_t TotalOut() const;  // decoded bytes given out
  bool EndOfData() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Bytes written go unchanged to the destination, with their CRC.
class TStoreStream : public TStream32 {
 public:
  TStoreStream(TStream32& destination, const TJobRecord& job, uint8_t crcKind);
  int64_t Read(void*, int64_t) override { return -1; }
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t StoreCopy(TStream32& source, int64_t count);  // chunks of 100 KiB
  uint32_t Crc;

 private:
  TStream32& dest_;
  uint8_t kind_;
  int64_t taken_ = 0;
};

// Bytes written are only checksummed.
class TCalcStreamCRC : public TStream32 {
 public:
  TCalcStreamCRC(TStream32& source, const TJobRecord& job, uint8_t crcKind, int64_t count);
  int64_t Read(void*, int64_t) override { return -1; }
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t, int) override { return -1; }
  uint32_t Crc;

 private:
  uint8_t kind_;
  bool sourceProgress_ = false;  // the source had a progress event when the copy began
};

// Compresses the whole source from its start into the destination; outCrc
// gets the member's CRC. False when cancelled.
bool DeflateStream(TStream32& source, TStream32& destination, TJobRecord& job, int windowBits,
                   const TStreamProgress& progress, TDeflateType type, uint32_t& outCrc);
// Copies the whole source unchanged; the finished CRC goes into regs by kind.
// True when every byte was copied.
bool StoreStream(TStream32& source, TStream32& destination, TJobRecord& job, uint8_t crcKind,
                 const TStreamProgress& progress, TCrcRegister& regs);

}  // namespace parcelix
