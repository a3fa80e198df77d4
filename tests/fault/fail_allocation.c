/* Allocation failure for whole runs, loaded with LD_PRELOAD: the malloc,
 * calloc and realloc calls of the process from the n-th (FAIL_FROM=n) to the
 * m-th (FAIL_TO=m; without it, every one from the n-th on) fail. operator
 * new goes through malloc. */
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);

static unsigned long requests, failFrom, failTo; /* 0: never, no end */
static int settingsRead;

static unsigned long Setting(const char* name) {
  const char* text = getenv(name); /* neither call allocates */
  return text != NULL ? strtoul(text, NULL, 10) : 0;
}

static int Fails(void) {
  if (!settingsRead) {
    failFrom = Setting("FAIL_FROM");
    failTo = Setting("FAIL_TO");
    settingsRead = 1;
  }
  ++requests;
  if (failFrom == 0 || requests < failFrom || (failTo != 0 && requests > failTo)) return 0;
  errno = ENOMEM;
  return 1;
}

void* malloc(size_t size) { return Fails() ? NULL : __libc_malloc(size); }
void* calloc(size_t count, size_t size) { return Fails() ? NULL : __libc_calloc(count, size); }
void* realloc(void* block, size_t size) { return Fails() ? NULL : __libc_realloc(block, size); }
