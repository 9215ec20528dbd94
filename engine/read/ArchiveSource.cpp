// The reader's archive file access: positioned reads, the cache window and
// the buffered stream that feeds the member decoders.
#include "engine/read/ArchiveSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parcelix {

namespace {

constexpr size_t kStreamBuffer = 256 * 1024;
// Blocks up to this size stay allocated from one archive to the next.
constexpr size_t kKeepBlock = 64 * 1024;

}  // namespace

uint8_t* TArchiveSource::Block::Prepare(size_t n) {
  if (n > capacity || !data) {
    data = std::make_unique_for_overwrite<uint8_t[]>(std::max<size_t>(n, 1));
    capacity = std::max<size_t>(n, 1);
  }
  size = 0;  // nothing valid until the caller's read says how much
  return data.get();
}

void TArchiveSource::Block::Release(size_t keepBelow) {
  size = 0;
  if (capacity > keepBelow) {
    data.reset();
    capacity = 0;
  }
}

TArchiveSource::~TArchiveSource() { Close(); }

bool TArchiveSource::Open(const std::string& path) {
  Close();
  errno_ = 0;
  // O_NONBLOCK: a FIFO given as an archive must not hang the open.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    errno_ = errno;
    return false;
  }
  struct stat st {};
  const bool statted = ::fstat(fd_, &st) == 0;
  if (!statted || !S_ISREG(st.st_mode)) {
    errno_ = !statted ? errno : S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    Close();
    return false;
  }
  size_ = int64_t(st.st_size);
  dev_ = uint64_t(st.st_dev);
  ino_ = uint64_t(st.st_ino);
  mtimeSec_ = int64_t(st.st_mtim.tv_sec);
  mtimeNsec_ = int64_t(st.st_mtim.tv_nsec);
  return true;
}

void TArchiveSource::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  cache_.Release(kKeepBlock);
  cacheStart_ = 0;
  head_.Release(kKeepBlock);
}

bool TArchiveSource::StillNames(const std::string& path) const {
  struct stat st;
  return fd_ >= 0 && ::stat(path.c_str(), &st) == 0 && uint64_t(st.st_dev) == dev_ &&
         uint64_t(st.st_ino) == ino_ && int64_t(st.st_size) == size_ &&
         int64_t(st.st_mtim.tv_sec) == mtimeSec_ && int64_t(st.st_mtim.tv_nsec) == mtimeNsec_;
}

std::span<const uint8_t> TArchiveSource::Cached(int64_t pos, size_t n) const {
  if (pos >= 0 && pos <= int64_t(head_.size) && n <= head_.size - size_t(pos))
    return head_.Span().subspan(size_t(pos), n);
  if (pos < cacheStart_ || pos > cacheStart_ + int64_t(cache_.size)) return {};
  const size_t off = size_t(pos - cacheStart_);
  if (n > cache_.size - off) return {};
  return cache_.Span().subspan(off, n);
}

size_t TArchiveSource::ReadAt(int64_t pos, void* dst, size_t n) {
  if (fd_ < 0 || pos < 0 || pos >= size_ || n == 0) return 0;
  if (int64_t(n) > size_ - pos) n = size_t(size_ - pos);
  if (auto c = Cached(pos, n); c.size() == n) {
    std::memcpy(dst, c.data(), n);
    return n;
  }
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(dst);
  while (done < n) {
    const ssize_t r = ::pread(fd_, out + done, n - done, off_t(pos + int64_t(done)));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += size_t(r);
  }
  return done;
}

std::span<const uint8_t> TArchiveSource::Load(int64_t pos, size_t n) {
  if (pos < 0 || pos >= size_) return {};
  if (int64_t(n) > size_ - pos) n = size_t(size_ - pos);
  if (auto c = Cached(pos, n); c.size() == n) return c;
  // Prepare empties the cache first, so the read cannot be served from it.
  uint8_t* dst = cache_.Prepare(n);
  cache_.size = ReadAt(pos, dst, n);
  cacheStart_ = pos;
  return cache_.Span();
}

void TArchiveSource::LoadHead(size_t n) {
  n = std::min<size_t>(n, size_t(std::max<int64_t>(size_, 0)));
  uint8_t* dst = head_.Prepare(n);
  head_.size = ReadAt(0, dst, n);
}

TArchiveStream::TArchiveStream(TArchiveSource& source) : source_(source) {}

int64_t TArchiveStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t pos = position_;
    if (pos >= source_.Size()) break;
    const size_t want = size_t(std::min<int64_t>(count - done, source_.Size() - pos));
    // Inside the window detection read: no system call at all.
    if (auto c = source_.Cached(pos, want); c.size() == want) {
      std::memcpy(out + done, c.data(), want);
      done += int64_t(want);
      position_ += int64_t(want);
      continue;
    }
    if (pos >= bufferStart_ && pos < bufferStart_ + int64_t(bufferLength_)) {
      const size_t off = size_t(pos - bufferStart_);
      const size_t n = std::min(want, bufferLength_ - off);
      std::memcpy(out + done, buffer_.get() + off, n);
      done += int64_t(n);
      position_ += int64_t(n);
      continue;
    }
    if (want >= kStreamBuffer || (buffer_ && want >= bufferCapacity_)) {
      // A large request goes straight into the caller's buffer.
      const size_t got = source_.ReadAt(pos, out + done, want);
      done += int64_t(got);
      position_ += int64_t(got);
      if (got < want) break;
      continue;
    }
    if (!buffer_) {
      // No bigger than the file: a small archive costs a small buffer.
      bufferCapacity_ = size_t(std::clamp<int64_t>(source_.Size(), 4096, int64_t(kStreamBuffer)));
      buffer_ = std::make_unique_for_overwrite<uint8_t[]>(bufferCapacity_);
    }
    bufferStart_ = pos;
    bufferLength_ = source_.ReadAt(pos, buffer_.get(), bufferCapacity_);
    if (bufferLength_ == 0) break;
  }
  return done;
}

int64_t TArchiveStream::Seek(int64_t offset, int origin) {
  int64_t base;
  switch (origin) {
    case soFromBeginning: base = 0; break;
    case soFromCurrent: base = position_; break;
    case soFromEnd: base = source_.Size(); break;
    default: return -1;
  }
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
  position_ = target;
  return position_;
}

}  // namespace parcelix
