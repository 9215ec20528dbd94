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


static int one(const char* dir, const char* file) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, file);
  int err = 0;
  zip_t* z = zip_open(path, ZIP_RDONLY, &err);
  if (!z) return -1;
  int rc = -1;
  zip_stat_t st;
  if (zip_stat(z, "META-INF/MANIFEST.MF", 0, &st) == 0) {
    zip_file_t* f = zip_fopen_index(z, st.index, 0);
    if (f) {
      unsigned char* m = malloc(st.size + 1);
      zip_int64_t n = zip_fread(f, m, st.size);
      zip_fclose(f);
      if (n >= 0) {
        print_rename(dir, file, m, (size_t)n);
        rc = 0;
      }
      free(m);
    }
  }
  zip_close(z);
  return rc;
}

int main(int argc, char** argv) { return run_over_jars(argc, argv, one); }
