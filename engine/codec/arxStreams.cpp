// The plain streams of the engine: the TStream32 base, file-handle streams and the memory stream.
#include "engine/codec/arxStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/common/FileSystem.h"

namespace parcelix {

namespace {

// CopyFrom moves data in pieces of this size; a long copy pumps messages and
// tests the cancel flag once per piece.
constexpr int64_t kCopyChunk = 0x20000;
// Copies between files move this much per step between two looks at the
// cancel flag; read/write copies of a handle stream use a buffer of
// kCopyBuffer bytes.
constexpr int64_t kKernelCopyChunk = 8 << 20;
constexpr int64_t kCopyBuffer = 1 << 20;
// Memory streams grow in whole multiples of this.
constexpr int64_t kMemoryDelta = 8192;

// read(2)/write(2) move at most this much per call on Linux anyway.
constexpr int64_t kMaxIoPiece = 0x7FFFF000;

int WhenceOf(int origin) {
  switch (origin) {
    case soFromBeginning: return SEEK_SET;
    case soFromCurrent: return SEEK_CUR;
    case soFromEnd: return SEEK_END;
    default: return -1;
  }
}

}  // namespace

int DeflateLevel(TDeflateType t) {
  static constexpr int8_t kLevels[4] = {0, 1, -1, 9};
  return unsigned(t) < 4 ? kLevels[t] : -1;
}

// ---------------------------------------------------------------------------
// TStream32

int64_t TStream32::GetSize() {
  const int64_t pos = Seek(0, soFromCurrent);
  const int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream32::SetSize(int64_t) {
  // A stream kind that cannot change its size says so rather than pretend.
  throw EStreamError("Stream size cannot be changed");
}

void TStream32::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream32::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream32::ReadAt(int64_t pos, void* buffer, int64_t count) {
  if (pos < 0 || Seek(pos, soFromBeginning) != pos) return 0;
  return Read(buffer, count);
}

int64_t TStream32::CopyFrom(TStream32& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (count <= 0) return 0;
  const int64_t chunk = count < kCopyChunk ? count : kCopyChunk;
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(size_t(chunk));
  OnProgress = ProgressHandler;
  int64_t copied = 0;
  while (count != 0 && !Cancelled()) {
    const int64_t n = count < chunk ? count : chunk;
    if (ProcessMessages) ProcessMessages();
    if (Cancelled()) break;
    source.ReadBuffer(buffer.get(), n);
    WriteBuffer(buffer.get(), n);
    count -= n;
    copied += n;
  }
  return copied;
}

// ---------------------------------------------------------------------------
// THandleStream32

THandleStream32::~THandleStream32() { Close(); }

void THandleStream32::Close() {
  if (handle_ >= 0) {
    ::close(handle_);
    handle_ = -1;
  }
}

int64_t THandleStream32::GetSize() {
  struct stat st {};
  if (handle_ < 0 || ::fstat(handle_, &st) != 0) {
    lastErrno_ = handle_ < 0 ? EBADF : errno;
    return -1;
  }
  if (S_ISREG(st.st_mode)) return st.st_size;
  return TStream32::GetSize();
}

void THandleStream32::SetSize(int64_t newSize) {
  if (handle_ < 0 || newSize < 0 || ::lseek(handle_, newSize, SEEK_SET) < 0 ||
      ::ftruncate(handle_, newSize) != 0) {
    lastErrno_ = handle_ < 0 ? EBADF : (newSize < 0 ? EINVAL : errno);
    throw EStreamError(std::string("Cannot set the file size: ") + std::strerror(lastErrno_));
  }
}

int64_t THandleStream32::CopyFrom(TStream32& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (count <= 0) return 0;
  int64_t copied = 0;
  auto step = [&](int64_t n) {
    copied += n;
    count -= n;
    CopiedStep(n);
  };
  auto* src = dynamic_cast<THandleStream32*>(&source);
  const bool files = src != nullptr && src->IsOpen() && IsOpen();
  while (files && count > 0 && !Cancelled()) {
    if (ProcessMessages) ProcessMessages();
    if (Cancelled()) break;
    const int64_t want = count < kKernelCopyChunk ? count : kKernelCopyChunk;
    const int64_t n = CopyRange(src->Handle(), nullptr, handle_, want);
    if (n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
      lastErrno_ = errno;
      throw EStreamError("Stream write error");
    }
    if (n < want) throw EStreamError("Stream read error");
    step(n);
    // Starts the write-out of what is copied, without waiting for it.
    ::sync_file_range(handle_, 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  if (count > 0 && !Cancelled()) {
    const int64_t chunk = count < kCopyBuffer ? count : kCopyBuffer;
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(size_t(chunk));
    while (count > 0 && !Cancelled()) {
      const int64_t n = count < chunk ? count : chunk;
      if (ProcessMessages) ProcessMessages();
      if (Cancelled()) break;
      source.ReadBuffer(buffer.get(), n);
      WriteBuffer(buffer.get(), n);
      step(n);
    }
  }
  return copied;
}

int64_t THandleStream32::ReadAt(int64_t pos, void* buffer, int64_t count) {
  if (handle_ < 0 || count <= 0 || pos < 0) return 0;
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t want = count - done < kMaxIoPiece ? count - done : kMaxIoPiece;
    const ssize_t n = ::pread(handle_, p + done, size_t(want), off_t(pos + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastErrno_ = errno;
      return 0;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t THandleStream32::Read(void* buffer, int64_t count) {
  if (handle_ < 0 || count <= 0) return 0;
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t want = count - done < kMaxIoPiece ? count - done : kMaxIoPiece;
    const ssize_t n = ::read(handle_, p + done, size_t(want));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastErrno_ = errno;
      // A failed read reports nothing read, as the platform's file read does.
      return 0;
    }
    if (n == 0) break;  // end of file
    done += n;
  }
  if (done > 0 && OnReadProgress) {
    if (BytesLeft) *BytesLeft -= count;
    OnReadProgress(*this);
  }
  return done;
}

int64_t THandleStream32::Write(const void* buffer, int64_t count) {
  if (handle_ < 0 || count <= 0) return 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t want = count - done < kMaxIoPiece ? count - done : kMaxIoPiece;
    const ssize_t n = ::write(handle_, p + done, size_t(want));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastErrno_ = errno;  // ENOSPC tells the caller the disk is full
      break;
    }
    if (n == 0) {
      lastErrno_ = ENOSPC;
      break;
    }
    done += n;
  }
  return done;
}

int64_t THandleStream32::Seek(int64_t offset, int origin) {
  const int whence = WhenceOf(origin);
  if (handle_ < 0 || whence < 0) {
    lastErrno_ = handle_ < 0 ? EBADF : EINVAL;
    return -1;
  }
  const off_t r = ::lseek(handle_, off_t(offset), whence);
  if (r < 0) {
    lastErrno_ = errno;
    return -1;
  }
  return r;
}

// ---------------------------------------------------------------------------
// TFileStream32

TFileStream32::TFileStream32(const std::string& fileName, uint16_t mode) : fileName_(fileName) {
  int flags = O_CLOEXEC;
  if (mode == fmCreate) {
    flags |= O_CREAT | O_TRUNC | O_RDWR;
  } else {
    switch (mode & 3) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  int fd;
  do {
    fd = ::open(fileName.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    lastErrno_ = errno;
    return;
  }
  // Linux lets a directory be opened for reading; as a file it is unusable.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    lastErrno_ = EISDIR;
    return;
  }
  handle_ = fd;
}

// ---------------------------------------------------------------------------
// TMemoryStream32

void TMemoryStream32::Grow(int64_t needed) {
  if (needed <= 0) {
    data_.reset();
    allocated_ = capacity_ = 0;
    return;
  }
  if (needed > INT64_MAX / 2 - kMemoryDelta) throw EStreamError("Out of memory while expanding memory stream");
  const int64_t capacity = (needed + kMemoryDelta - 1) / kMemoryDelta * kMemoryDelta;
  if (capacity > allocated_) {
    // The block grows geometrically, so appending member after member stays
    // linear even though the capacity seen by callers is exact.
    const int64_t grown = std::max(capacity, (allocated_ + allocated_ / 2 + kMemoryDelta - 1) / kMemoryDelta * kMemoryDelta);
    std::unique_ptr<uint8_t[]> block;
    try {
      block = std::make_unique_for_overwrite<uint8_t[]>(size_t(grown));
    } catch (const std::bad_alloc&) {
      throw EStreamError("Out of memory while expanding memory stream");
    }
    if (size_ > 0) std::memcpy(block.get(), data_.get(), size_t(std::min(size_, capacity_)));
    data_ = std::move(block);
    allocated_ = grown;
  }
  capacity_ = capacity;
}

void TMemoryStream32::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  const int64_t oldPosition = position_;
  Grow(newSize);
  // Bytes a stream gains read as zeros, never as what an earlier, longer
  // content left in the block.
  if (newSize > size_) std::memset(data_.get() + size_, 0, size_t(newSize - size_));
  size_ = newSize;
  if (oldPosition > newSize) position_ = newSize;
}

int64_t TMemoryStream32::Read(void* buffer, int64_t count) {
  if (position_ < 0 || count < 0) return 0;
  int64_t n = size_ - position_;
  if (n <= 0) return 0;
  if (n > count) n = count;
  std::memcpy(buffer, data_.get() + position_, size_t(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream32::Write(const void* buffer, int64_t count) {
  if (position_ < 0 || count < 0) return 0;
  if (count == 0) return 0;
  if (count > INT64_MAX - position_) throw EStreamError("Out of memory while expanding memory stream");
  const int64_t end = position_ + count;
  if (end > Capacity()) Grow(end);
  if (position_ > size_) std::memset(data_.get() + size_, 0, size_t(position_ - size_));
  std::memcpy(data_.get() + position_, buffer, size_t(count));
  if (end > size_) size_ = end;
  position_ = end;
  return count;
}

int64_t TMemoryStream32::Seek(int64_t offset, int origin) {
  int64_t base;
  switch (origin) {
    case soFromBeginning: base = 0; break;
    case soFromCurrent: base = position_; break;
    case soFromEnd: base = size_; break;
    default: return -1;
  }
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target)) return -1;
  position_ = target;
  return position_;
}

void TMemoryStream32::Clear() {
  Grow(0);
  size_ = 0;
  position_ = 0;
}

}  // namespace parcelix
