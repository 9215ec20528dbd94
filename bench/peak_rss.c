/* Runs a program and writes its peak resident set (KiB, from wait4) and its
 * wall time (microseconds, from just before the fork to the end of the wait)
 * to the file named first. Started from this small process, the figures are
 * the program's own: not the memory of whatever started the benchmark, nor
 * the time that a large process (python) takes to fork.
 *   peak_rss OUT PROGRAM [ARGS...] */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const long long start = now_us();
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 1;
  const long long wall = now_us() - start;
  FILE* out = fopen(argv[1], "w");
  if (out) {
    fprintf(out, "%ld %lld\n", usage.ru_maxrss, wall);
    fclose(out);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
