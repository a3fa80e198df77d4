/* Allocation failure for whole runs, loaded with LD_PRELOAD: the n-th malloc,
 * calloc or realloc of the process fails (FAIL_ALLOCATION=n), or every one
 * from the n-th on (FAIL_ALLOCATIONS_FROM=n). operator new goes through malloc. */
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);

static unsigned long requests, failOnly, failFrom; /* 0: never */
static int settingsRead;

static unsigned long Setting(const char* name) {
  const char* text = getenv(name); /* neither call allocates */
  return text != NULL ? strtoul(text, NULL, 10) : 0;
}

static int Fails(void) {
  if (!settingsRead) {
    failOnly = Setting("FAIL_ALLOCATION");
    failFrom = Setting("FAIL_ALLOCATIONS_FROM");
    settingsRead = 1;
  }
  ++requests;
  if (requests != failOnly && (failFrom == 0 || requests < failFrom)) return 0;
  errno = ENOMEM;
  return 1;
}

void* malloc(size_t size) { return Fails() ? NULL : __libc_malloc(size); }
void* calloc(size_t count, size_t size) { return Fails() ? NULL : __libc_calloc(count, size); }
void* realloc(void* block, size_t size) { return Fails() ? NULL : __libc_realloc(block, size); }
