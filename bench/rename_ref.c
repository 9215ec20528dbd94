/* Minimal reference for the rename benchmark: for every *.jar in a directory
 * it reads the manifest (ref_manifest.h: pread and one zlib inflate) and
 * prints the name the JAR would get ("OLD -> NEW"), as `parcelix rename -n`
 * does.
 *   cc -O2 -o rename_ref rename_ref.c -lz && ./rename_ref DIR */
#include <stdio.h>

#include "ref_manifest.h"
#include "rename_scan.h"

static int one(const char* dir, const char* file) {
  size_t n = 0;
  long long size = 0;
  unsigned char* m = read_manifest(dir, file, &n, &size);
  if (!m) return -1;
  print_rename(dir, file, m, n);
  free(m);
  return 0;
}

int main(int argc, char** argv) { return run_over_jars(argc, argv, one); }
