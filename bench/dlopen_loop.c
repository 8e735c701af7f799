/* Loads each shared object named on the command line and calls its one
   export, as the program loads its plug-ins: the least any start-up with
   that many plug-ins can cost. */
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char** argv) {
  int sum = 0;
  for (int i = 1; i < argc; ++i) {
    void* handle = dlopen(argv[i], RTLD_NOW | RTLD_LOCAL);
    int (*trivial)(void) = handle ? (int (*)(void))dlsym(handle, "Trivial") : NULL;
    if (trivial == NULL) {
      fprintf(stderr, "cannot load %s\n", argv[i]);
      return 1;
    }
    sum += trivial();
  }
  printf("%d loaded\n", sum);
  return 0;
}
