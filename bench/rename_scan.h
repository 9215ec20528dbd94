/* What the rename benchmark's C programs share: the attribute scan (the
 * value after key within window bytes, cut at CR, LF or NUL, bytes <= 0x20
 * trimmed), the line they print and the walk over a directory's JARs. */
#include <dirent.h>
#include <stdio.h>
#include <string.h>

static inline void scan(const unsigned char* m, size_t n, const char* key, size_t window, char* out) {
  size_t k = strlen(key);
  out[0] = 0;
  for (size_t i = 0; i + k <= n; ++i) {
    if (memcmp(m + i, key, k) != 0) continue;
    size_t s = i + k, e = s, stop = s + window < n ? s + window : n;
    while (e < stop && m[e] != '\r' && m[e] != '\n' && m[e] != 0) ++e;
    while (s < e && m[s] <= ' ') ++s;
    while (e > s && m[e - 1] <= ' ') --e;
    memcpy(out, m + s, e - s);
    out[e - s] = 0;
    return;
  }
}

/* Prints "DIR/FILE -> DIR/NAME VERSION.jar" for the manifest m of n bytes. */
static inline void print_rename(const char* dir, const char* file, const unsigned char* m, size_t n) {
  char name[64], version[32];
  scan(m, n, "MIDlet-Name:", 50, name);
  scan(m, n, "MIDlet-Version:", 20, version);
  printf("%s/%s -> %s/%s %s.jar\n", dir, file, dir, name, version);
}

/* Runs one(dir, file) for every *.jar in the directory argv[1]; the count of
 * JARs for which it returned 0 goes to stderr. The programs' main. */
static int run_over_jars(int argc, char** argv, int (*one)(const char* dir, const char* file)) {
  if (argc != 2) return 2;
  DIR* d = opendir(argv[1]);
  if (!d) return 1;
  int count = 0;
  struct dirent* e;
  while ((e = readdir(d))) {
    size_t l = strlen(e->d_name);
    if (l > 4 && strcmp(e->d_name + l - 4, ".jar") == 0 && one(argv[1], e->d_name) == 0) ++count;
  }
  closedir(d);
  fprintf(stderr, "%d JARs\n", count);
  return 0;
}
