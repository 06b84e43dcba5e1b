// Module PadShaper (not yet implemented).
#include "reru.hpp"

static reru::ModuleGuard guard{"PadShaper"};

static bool body(PyObject*, PyObject*) { return true; }

RERU_MODULE(PadShaper, guard, body)
