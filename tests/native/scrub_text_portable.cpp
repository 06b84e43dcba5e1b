// Test twin of scrub_text: the same module built with the portable block
// path, which the machines the package is built for never compile (they
// have SSE2), so that the scrubber's tests run through that path too.
// Built only with -DCHRONVALE_TEST_HOOKS=ON and never part of a wheel.
#define SCRUB_TEXT_PORTABLE 1
#define SCRUB_TEXT_MODULE scrub_text_portable
#include "../../reru/src/scrub_text.cpp"
