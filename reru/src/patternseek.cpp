// Module patternseek (not yet implemented).
#include "reru.hpp"

static reru::ModuleGuard guard{"patternseek"};

static bool body(PyObject*, PyObject*) { return true; }

RERU_MODULE(patternseek, guard, body)
