// Benchmark helper for the writer's update path: puts one new META-INF/MANIFEST.MF into an existing JAR, as the manifest save does.
//   create_update JAR
// Prints the time of the update; compare it with a plain `cp` of the JAR.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/write/arxZip.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: create_update JAR\n");
    return 2;
  }
  char dirTemplate[] = "/tmp/pxupdXXXXXX";
  const std::string dir = ::mkdtemp(dirTemplate);
  const std::string metaInf = dir + "/META-INF";
  ::mkdir(metaInf.c_str(), 0755);
  std::ofstream(metaInf + "/MANIFEST.MF", std::ios::binary)
      << "Manifest-Version: 1.0\r\nMIDlet-Name: Benchmark\r\nMIDlet-Version: 9.9\r\n\r\n";

  parcelix::TJar jar;
  jar.ReplaceInPlace = true;
  jar.AddNewFirst = true;
  jar.FileSpec = {dir + "/*.*"};
  jar.SetArchiveFile(argv[1]);
  // The temporary archive beside the JAR: the commit is a rename.
  const std::string target = jar.ArchiveFile();
  const size_t slash = target.rfind('/');
  jar.SetTempDir(slash == std::string::npos ? std::string("./") : target.substr(0, slash + 1));
  const auto t0 = std::chrono::steady_clock::now();
  const int written = jar.Compress();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("update of %s: %d entry written, %.3f s, %zu errors\n", argv[1], written, s, jar.Errors().size());
  ::unlink((metaInf + "/MANIFEST.MF").c_str());
  ::rmdir(metaInf.c_str());
  ::rmdir(dir.c_str());
  return written == 1 ? 0 : 1;
}
