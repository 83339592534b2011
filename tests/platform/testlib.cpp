// A tiny library loaded at run time by the dynamic-library tests.

extern "C" {

int zirk_test_add(int a, int b) {
  return a + b;
}

// Counts calls since the library was loaded; starts over after an unload.
int zirk_test_count() {
  static int calls = 0;
  return ++calls;
}
}
