/* The least a batch conversion can cost on this machine: each file read
   whole into memory and written whole under its name in the output folder,
   with no format, no record and no safety net, by N threads taking the files
   in turn.
   usage: copy_floor N OUT_DIR FILE... */
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kMaxBytes = 8 << 20, kMaxThreads = 16 };

static const char* g_out;
static char** g_files;
static int g_count;
static int g_threads;

static int CopyOne(const char* path, char* buffer) {
  const int in = open(path, O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  struct stat st;
  ssize_t got = -1;
  if (fstat(in, &st) == 0 && st.st_size <= kMaxBytes) got = read(in, buffer, (size_t)st.st_size);
  close(in);
  if (got < 0 || got != st.st_size) return -1;
  const char* name = strrchr(path, '/');
  char target[4096];
  snprintf(target, sizeof(target), "%s/%s", g_out, name != NULL ? name + 1 : path);
  const int out = open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) return -1;
  const ssize_t put = write(out, buffer, (size_t)got);
  return close(out) == 0 && put == got ? 0 : -1;
}

static void* Worker(void* arg) {
  const long first = (long)arg;
  char* buffer = malloc(kMaxBytes);
  long failed = buffer == NULL;
  for (long i = first; buffer != NULL && i < g_count; i += g_threads) failed |= CopyOne(g_files[i], buffer) != 0;
  free(buffer);
  return (void*)failed;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  g_threads = atoi(argv[1]);
  if (g_threads < 1 || g_threads > kMaxThreads) return 2;
  g_out = argv[2];
  g_files = argv + 3;
  g_count = argc - 3;
  pthread_t threads[kMaxThreads];
  for (long t = 0; t < g_threads; ++t) pthread_create(&threads[t], NULL, Worker, (void*)t);
  long failed = 0;
  for (int t = 0; t < g_threads; ++t) {
    void* result;
    pthread_join(threads[t], &result);
    failed |= (long)result;
  }
  return failed ? 1 : 0;
}
