// Module zonebook (not yet implemented).
#include "reru.hpp"

static reru::ModuleGuard guard{"zonebook"};

static bool body(PyObject*, PyObject*) { return true; }

RERU_MODULE(zonebook, guard, body)
