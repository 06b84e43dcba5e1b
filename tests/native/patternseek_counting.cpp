// Test-only twin: the finder counting what its verdict layer does, for the
// tests that pin what each shortcut decides. Built only with
// -DCHRONVALE_TEST_HOOKS=ON.
#define CHRONVALE_COUNTING
#define CHRONVALE_FINDER_MODULE patternseek_counting
#define CHRONVALE_FINDER_PATH "patternseek_counting"
#include "../../reru/src/patternseek.cpp"
