// Test-only twin: the finder built without its verdict layer (the plain
// road), so that every candidate is tried with strptime. Built only with
// -DCHRONVALE_TEST_HOOKS=ON.
#define CHRONVALE_PLAIN_ROAD
#define CHRONVALE_FINDER_MODULE patternseek_plain
#define CHRONVALE_FINDER_PATH "patternseek_plain"
#include "../../reru/src/patternseek.cpp"
