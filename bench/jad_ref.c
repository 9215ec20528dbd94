/* Minimal reference for the JAD benchmark: for every *.jar in a directory it
 * reads the manifest as rename_ref does (pread of the end record, the
 * directory and the manifest, one zlib inflate) and writes DIR/STEM.jad: the
 * manifest's lines, then MIDlet-Jar-Size and MIDlet-Jar-URL. No checks, no
 * flush: it is the floor, not a writer.
 *   cc -O2 -o jad_ref jad_ref.c -lz && ./jad_ref DIR */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "rename_scan.h"

static uint16_t le16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static uint32_t le32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static void write_jad(const char* dir, const char* file, const unsigned char* m, size_t n, long long size) {
  char path[4096];
  size_t l = strlen(file);
  snprintf(path, sizeof path, "%s/%.*s.jad", dir, (int)(l - 4), file);
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  while (n > 0 && (m[n - 1] == '\r' || m[n - 1] == '\n')) --n; /* the manifest's blank last line */
  char tail[4400];
  int t = snprintf(tail, sizeof tail, "\r\nMIDlet-Jar-Size: %lld\r\nMIDlet-Jar-URL: %s\r\n", size, file);
  if (write(fd, m, n) < 0 || write(fd, tail, (size_t)t) < 0) perror(path);
  close(fd);
}

static int one(const char* dir, const char* file) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, file);
  int fd = open(path, O_RDONLY);
  if (fd < 0) return -1;
  struct stat st;
  fstat(fd, &st);
  unsigned char tail[22];
  if (st.st_size < 22 || pread(fd, tail, 22, st.st_size - 22) != 22 || le32(tail) != 0x06054b50) {
    close(fd);
    return -1;
  }
  uint32_t cdSize = le32(tail + 12), cdOff = le32(tail + 16);
  unsigned char* cd = malloc(cdSize);
  if (pread(fd, cd, cdSize, cdOff) != (ssize_t)cdSize) {
    free(cd);
    close(fd);
    return -1;
  }
  int rc = -1;
  for (uint32_t p = 0; p + 46 <= cdSize;) {
    uint16_t n = le16(cd + p + 28), x = le16(cd + p + 30), c = le16(cd + p + 32);
    if (n == 20 && memcmp(cd + p + 46, "META-INF/MANIFEST.MF", 20) == 0) {
      uint32_t csize = le32(cd + p + 20), usize = le32(cd + p + 24), lho = le32(cd + p + 42);
      unsigned char lh[30];
      pread(fd, lh, 30, lho);
      unsigned char* comp = malloc(csize ? csize : 1);
      pread(fd, comp, csize, lho + 30 + le16(lh + 26) + le16(lh + 28));
      unsigned char* m = malloc(usize + 1);
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
      write_jad(dir, file, m, usize, (long long)st.st_size);
      free(m);
      free(comp);
      rc = 0;
      break;
    }
    p += 46 + n + x + c;
  }
  free(cd);
  close(fd);
  return rc;
}

int main(int argc, char** argv) { return run_over_jars(argc, argv, one); }
