/* A log library that writes each line to the file it was initialised with;
 * the file is complete only once ZirkLogFinal closed it. */
#include <stdio.h>

static FILE* g_file;

void ZirkLogInit(const char* path) { g_file = fopen(path, "w"); }

void ZirkLogWrite(const char* line) {
  if (g_file) fprintf(g_file, "%s\n", line);
}

void ZirkLogFinal(void) {
  if (g_file) fclose(g_file);
  g_file = NULL;
}
