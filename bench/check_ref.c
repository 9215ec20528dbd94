/* Minimal reference for the check benchmark: for every *.jar in a directory
 * it reads the file whole, walks the central directory, decodes every member
 * with zlib and compares its CRC-32, and reads the JAD beside it: the work no
 * audit of CRCs can avoid, with no checks beyond what keeps it from
 * crashing. Prints "PATH: crc-error" for a member that fails. The floor, not
 * a reader.
 *   cc -O2 -o check_ref check_ref.c -lz && ./check_ref DIR */
#include <dirent.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

static uint16_t le16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static uint32_t le32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static unsigned char* slurp(const char* path, size_t* size) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return NULL;
  struct stat st;
  unsigned char* data = NULL;
  if (fstat(fd, &st) == 0 && (data = malloc((size_t)st.st_size + 1)) != NULL &&
      pread(fd, data, (size_t)st.st_size, 0) != st.st_size) {
    free(data);
    data = NULL;
  }
  *size = data ? (size_t)st.st_size : 0;
  close(fd);
  return data;
}

/* CRC-32 of one member's decoded bytes; -1 when it cannot be decoded. */
static int64_t member_crc(z_stream* z, const unsigned char* in, size_t n, int method) {
  static unsigned char out[65536];
  if (method == 0) return (int64_t)crc32(0, in, (uInt)n);
  if (method != 8) return -1;
  inflateReset(z);
  z->next_in = (unsigned char*)in;
  z->avail_in = (uInt)n;
  uLong crc = 0;
  int r;
  do {
    z->next_out = out;
    z->avail_out = sizeof out;
    r = inflate(z, Z_NO_FLUSH);
    crc = crc32(crc, out, (uInt)(sizeof out - z->avail_out));
  } while (r == Z_OK && (z->avail_out == 0 || z->avail_in > 0));
  return r == Z_STREAM_END ? (int64_t)crc : -1;
}

static void one(const char* dir, const char* file, z_stream* z) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, file);
  size_t size;
  unsigned char* d = slurp(path, &size);
  if (!d || size < 22 || le32(d + size - 22) != 0x06054b50) {
    printf("%s: not-zip\n", path);
    free(d);
    return;
  }
  const unsigned char* e = d + size - 22;
  size_t pos = le32(e + 16), count = le16(e + 10);
  for (size_t i = 0; i < count && pos + 46 <= size && le32(d + pos) == 0x02014b50; ++i) {
    const unsigned char* c = d + pos;
    size_t local = le32(c + 42), csize = le32(c + 20);
    if (local + 30 <= size) {
      size_t start = local + 30 + le16(d + local + 26) + le16(d + local + 28);
      if (start + csize <= size && member_crc(z, d + start, csize, le16(c + 10)) != (int64_t)le32(c + 16))
        printf("%s: crc-error\n", path);
    }
    pos += 46 + le16(c + 28) + le16(c + 30) + le16(c + 32);
  }
  free(d);
  strcpy(path + strlen(path) - 4, ".jad");
  free(slurp(path, &size));
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DIR* dir = opendir(argv[1]);
  if (!dir) return 1;
  z_stream z;
  memset(&z, 0, sizeof z);
  inflateInit2(&z, -MAX_WBITS);
  struct dirent* ent;
  while ((ent = readdir(dir)) != NULL) {
    size_t n = strlen(ent->d_name);
    if (n > 4 && strcmp(ent->d_name + n - 4, ".jar") == 0) one(argv[1], ent->d_name, &z);
  }
  inflateEnd(&z);
  closedir(dir);
  return 0;
}
