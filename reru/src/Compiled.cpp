// Module Compiled (not yet implemented).
#include "reru.hpp"

static reru::ModuleGuard guard{"Compiled"};

static bool body(PyObject*, PyObject*) { return true; }

RERU_MODULE(Compiled, guard, body)
