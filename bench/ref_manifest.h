/* The manifest read of the benchmarks' minimal C references: pread of the
 * end record, the central directory and the manifest's local header and
 * data, one zlib inflate. No checks beyond what keeps it from crashing: it
 * is the floor, not a reader. Archives with a comment are out of scope. */
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

static inline uint16_t le16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static inline uint32_t le32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* The decoded manifest of DIR/FILE (malloc'd, *n bytes) and the JAR's size
 * in *size; NULL when there is none. */
static inline unsigned char* read_manifest(const char* dir, const char* file, size_t* n, long long* size) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, file);
  int fd = open(path, O_RDONLY);
  if (fd < 0) return NULL;
  struct stat st;
  fstat(fd, &st);
  *size = (long long)st.st_size;
  unsigned char tail[22];
  if (st.st_size < 22 || pread(fd, tail, 22, st.st_size - 22) != 22 || le32(tail) != 0x06054b50) {
    close(fd);
    return NULL;
  }
  uint32_t cdSize = le32(tail + 12), cdOff = le32(tail + 16);
  unsigned char* cd = malloc(cdSize);
  unsigned char* m = NULL;
  if (pread(fd, cd, cdSize, cdOff) != (ssize_t)cdSize) cdSize = 0;
  for (uint32_t p = 0; p + 46 <= cdSize;) {
    uint16_t nl = le16(cd + p + 28), x = le16(cd + p + 30), c = le16(cd + p + 32);
    if (nl == 20 && memcmp(cd + p + 46, "META-INF/MANIFEST.MF", 20) == 0) {
      uint32_t csize = le32(cd + p + 20), usize = le32(cd + p + 24), lho = le32(cd + p + 42);
      unsigned char lh[30];
      pread(fd, lh, 30, lho);
      unsigned char* comp = malloc(csize ? csize : 1);
      pread(fd, comp, csize, lho + 30 + le16(lh + 26) + le16(lh + 28));
      m = malloc(usize + 1);
      if (le16(cd + p + 10) == 8) {
        z_stream z = {0};
        inflateInit2(&z, -15);
        z.next_in = comp;
        z.avail_in = csize;
        z.next_out = m;
        z.avail_out = usize;
        inflate(&z, Z_FINISH);
        inflateEnd(&z);
      } else {
        memcpy(m, comp, usize);
      }
      *n = usize;
      free(comp);
      break;
    }
    p += 46 + nl + x + c;
  }
  free(cd);
  close(fd);
  return m;
}
