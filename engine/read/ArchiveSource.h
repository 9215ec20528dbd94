// The reader's view of an archive file: one descriptor, positioned reads
// with a small cache, and a buffered stream for the member decoders.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/codec/arxStreams.h"

namespace parcelix {

// An archive opened for reading. Reads never move a file offset (pread), so
// the directory walk and the decoders can share the descriptor. A cache
// window holds what detection read (the start of a small file, the tail of
// a large one); reads that fall inside it cost no system call.
class TArchiveSource {
 public:
  TArchiveSource() = default;
  ~TArchiveSource();
  TArchiveSource(const TArchiveSource&) = delete;
  TArchiveSource& operator=(const TArchiveSource&) = delete;

  // Opens the file read-only; false (with Errno()) when it cannot be opened
  // or is not a regular file.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  int Errno() const { return errno_; }
  int64_t Size() const { return size_; }
  uint64_t Device() const { return dev_; }
  uint64_t Inode() const { return ino_; }
  int64_t ModifiedSeconds() const { return mtimeSec_; }
  int64_t ModifiedNanoseconds() const { return mtimeNsec_; }
  // True when `path` still names the very file that was opened, unchanged.
  bool StillNames(const std::string& path) const;

  // Copies up to n bytes at pos into dst; returns the count (short at the end
  // of the file or on a read error; 0 for a position outside the file).
  size_t ReadAt(int64_t pos, void* dst, size_t n);
  // Makes the cache hold [pos, pos + n) (clipped to the file) and returns it.
  std::span<const uint8_t> Load(int64_t pos, size_t n);
  // Keeps the first n bytes of the file beside the cache: the first local
  // headers, and in a JAR usually the manifest, are read from there.
  void LoadHead(size_t n);
  // The cached bytes of [pos, pos + n) when all of them are cached (in the
  // head or in the cache window), else empty.
  std::span<const uint8_t> Cached(int64_t pos, size_t n) const;

 private:
  // A block read from the file. It is filled by the read, never cleared
  // first, and a small one is kept for the next archive the source opens.
  struct Block {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
    size_t capacity = 0;
    uint8_t* Prepare(size_t n);  // room for n bytes; size is 0 until the caller sets it
    void Release(size_t keepBelow);
    std::span<const uint8_t> Span() const { return {data.get(), size}; }
  };

  int fd_ = -1;
  int errno_ = 0;
  int64_t size_ = 0;
  uint64_t dev_ = 0, ino_ = 0;
  int64_t mtimeSec_ = 0, mtimeNsec_ = 0;
  Block cache_;
  int64_t cacheStart_ = 0;
  Block head_;
};

// A read-only stream over the archive for the member decoders: sequential
// reads through a 256 KiB buffer, so that headers and data of neighbouring
// members come in together; reads inside the source's cache are copied.
class TArchiveStream : public TStream32 {
 public:
  explicit TArchiveStream(TArchiveSource& source);
  int64_t GetSize() override { return source_.Size(); }
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void*, int64_t) override { return -1; }
  int64_t Seek(int64_t offset, int origin) override;

 private:
  TArchiveSource& source_;
  std::unique_ptr<uint8_t[]> buffer_;  // allocated on the first read, never cleared
  size_t bufferCapacity_ = 0;
  int64_t bufferStart_ = 0;
  size_t bufferLength_ = 0;
  int64_t position_ = 0;
};

}  // namespace parcelix
