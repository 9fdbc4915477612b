// moravelt-peak-rss COMMAND [ARG...]: runs the command, then prints its exit status and
// its peak resident memory in KiB ("status maxrss").
//
// A process's max RSS counts the memory it had before its exec, and a child spawned
// from the benchmark shares or copies the benchmark's large buffers until then; so the
// command is started from this small process instead, and its figure is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return 1;
  std::printf("%d %ld\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss);
  return 0;
}
