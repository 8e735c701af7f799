/* The start-up figure's baseline: a shared object with one export and
   nothing else, loaded as many times as the program loads plug-ins. */
__attribute__((visibility("default"))) int Trivial(void) { return 1; }
