/* The rename benchmark's libzip program: for every *.jar in a directory,
 * open it with libzip, read META-INF/MANIFEST.MF and print the name it would
 * get ("OLD -> NEW"), as `parcelix rename -n` does.
 *   cc -O2 -o rename_libzip rename_libzip.c -lzip && ./rename_libzip DIR */
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zip.h>

#include "rename_scan.h"


int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DIR* d = opendir(argv[1]);
  if (!d) return 1;
  int count = 0;
  struct dirent* e;
  char path[4096];
  while ((e = readdir(d))) {
    size_t l = strlen(e->d_name);
    if (l <= 4 || strcmp(e->d_name + l - 4, ".jar") != 0) continue;
    snprintf(path, sizeof path, "%s/%s", argv[1], e->d_name);
    int err = 0;
    zip_t* z = zip_open(path, ZIP_RDONLY, &err);
    if (!z) continue;
    zip_stat_t st;
    if (zip_stat(z, "META-INF/MANIFEST.MF", 0, &st) == 0) {
      zip_file_t* f = zip_fopen_index(z, st.index, 0);
      if (f) {
        unsigned char* m = malloc(st.size + 1);
        zip_int64_t n = zip_fread(f, m, st.size);
        zip_fclose(f);
        if (n >= 0) {
          char name[64], version[32];
          scan(m, (size_t)n, "MIDlet-Name:", 50, name);
          scan(m, (size_t)n, "MIDlet-Version:", 20, version);
          printf("%s -> %s/%s %s.jar\n", path, argv[1], name, version);
          ++count;
        }
        free(m);
      }
    }
    zip_close(z);
  }
  closedir(d);
  fprintf(stderr, "%d JARs\n", count);
  return 0;
}
