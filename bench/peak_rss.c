/* Runs a program and writes its peak resident set (KiB, from wait4) to the
 * file named first. Started from this small process, the figure is the
 * program's own and not the memory of whatever started the benchmark.
 *   peak_rss OUT PROGRAM [ARGS...] */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 1;
  FILE* out = fopen(argv[1], "w");
  if (out) {
    fprintf(out, "%ld\n", usage.ru_maxrss);
    fclose(out);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
