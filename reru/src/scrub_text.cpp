// Module scrub_text (not yet implemented).
#include "reru.hpp"

static reru::ModuleGuard guard{"scrub_text"};

static bool body(PyObject*, PyObject*) { return true; }

RERU_MODULE(scrub_text, guard, body)
