// Module joinmark (not yet implemented).
#include "reru.hpp"

static reru::ModuleGuard guard{"joinmark"};

static bool body(PyObject*, PyObject*) { return true; }

RERU_MODULE(joinmark, guard, body)
