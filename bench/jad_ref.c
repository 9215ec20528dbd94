/* Minimal reference for the JAD benchmark: for every *.jar in a directory it
 * reads the manifest as rename_ref does (ref_manifest.h) and writes DIR/STEM.jad: the
 * manifest's lines, then MIDlet-Jar-Size and MIDlet-Jar-URL. No checks, no
 * flush: it is the floor, not a writer.
 *   cc -O2 -o jad_ref jad_ref.c -lz && ./jad_ref DIR */
#include <stdio.h>

#include "ref_manifest.h"
#include "rename_scan.h"

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
  size_t n = 0;
  long long size = 0;
  unsigned char* m = read_manifest(dir, file, &n, &size);
  if (!m) return -1;
  write_jad(dir, file, m, n, size);
  free(m);
  return 0;
}

int main(int argc, char** argv) { return run_over_jars(argc, argv, one); }
