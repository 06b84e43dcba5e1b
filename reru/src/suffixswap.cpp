// Module suffixswap (not yet implemented).
#include "reru.hpp"

static reru::ModuleGuard guard{"suffixswap"};

static bool body(PyObject*, PyObject*) { return true; }

RERU_MODULE(suffixswap, guard, body)
