// Test hook: the toolkit's steps of Python code (reru/ops.hpp) made callable
// from Python, so that the tests can hold them against what the interpreter
// does, also for the arguments that no module hands them today. Built only
// with -DCHRONVALE_TEST_HOOKS=ON.
#include "reru.hpp"

namespace {

using reru::Ref;

// str_replace(text, old, new): text.replace(old, new).
PyObject* str_replace(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const params[] = {"text", "old", "new"};
    static const reru::Signature sig{"str_replace", params, 3, 3};
    PyObject* argv[3];
    if (!reru::parse(sig, args, nargs, kwnames, argv)) return nullptr;
    return reru::str_replace(argv[0], argv[1], argv[2]).release();
}

// The pair unpacked into a tuple, a non-iterable reported as `non_iterable`.
template <reru::NonIterable non_iterable>
PyObject* unpack(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const reru::Unary sig{"unpack_pair", "pair"};
    PyObject* pair = sig.arg(args, nargs, kwnames);
    Ref first, second;
    if (pair == nullptr || !reru::unpack_pair(pair, first, second, non_iterable)) return nullptr;
    return PyTuple_Pack(2, first.get(), second.get());
}

const reru::FunctionDef functions[] = {
    {"str_replace", str_replace},
    // first, second = pair
    {"unpack_pair", unpack<reru::NonIterable::cannot_unpack>},
    // the same, a non-iterable failing as iter(pair) does
    {"unpack_pair_not_iterable", unpack<reru::NonIterable::not_iterable>},
};

reru::ModuleGuard guard{"toolkit_hook"};

bool body(PyObject* module, PyObject*) {
    for (const reru::FunctionDef& def : functions)
        if (!reru::add_function(module, def)) return false;
    return true;
}

}  // namespace

RERU_MODULE(toolkit_hook, guard, body)
