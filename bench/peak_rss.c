/* peak_rss COMMAND [ARGS...]: runs the command and prints its peak resident
   size in KiB, as /usr/bin/time -v reports it. The figure is taken here, in
   a process of a few hundred KiB, because the kernel counts into a child's
   peak whatever its parent held when it forked or spawned it: measured from
   the benchmark itself, with its test data in memory, every command would
   seem as large as the benchmark. Exits with the command's status. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: peak_rss COMMAND [ARGS...]\n");
    return 2;
  }
  const pid_t pid = fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return 2;
  printf("%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
