// Test hook: the native strptime decision (reru/src/patternseek/accept.hpp)
// made callable from Python. Built only with -DCHRONVALE_TEST_HOOKS=ON.
#include "../../reru/src/patternseek/accept.hpp"

#include <ctime>

namespace {

bool two_str(PyObject* const* args, Py_ssize_t nargs) {
    if (nargs == 2 && PyUnicode_CheckExact(args[0]) && PyUnicode_CheckExact(args[1])) return true;
    PyErr_SetString(PyExc_TypeError, "expected (text: str, fmt: str)");
    return false;
}

// The verdict for (text, fmt), or NULL with an error set; `unknown` also
// when the facts are unusable.
bool verdict(PyObject* const* args, Py_ssize_t nargs, accept::Verdict& v, accept::Parsed* out) {
    if (!two_str(args, nargs)) return false;
    accept::Facts facts;
    const accept::Reading r = accept::read_facts(facts);
    if (r == accept::Reading::error) return false;
    accept::Program prog;
    v = r == accept::Reading::usable && accept::compile(args[1], prog)
            ? accept::decide(prog, args[0], facts, out)
            : accept::Verdict::unknown;
    return true;
}

// decide(text, fmt) -> True (accepted) / False (refused) / None (unknown).
PyObject* decide(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    accept::Verdict v;
    if (!verdict(args, nargs, v, nullptr)) return nullptr;
    if (v == accept::Verdict::unknown) Py_RETURN_NONE;
    return PyBool_FromLong(v == accept::Verdict::accepted);
}

// parse(text, fmt) -> the parsed data of an accepted text, else None.
PyObject* parse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    accept::Verdict v;
    accept::Parsed p;
    if (!verdict(args, nargs, v, &p)) return nullptr;
    if (v != accept::Verdict::accepted) Py_RETURN_NONE;
    reru::Ref spans = reru::Ref::steal(PyList_New(p.count));
    if (!spans) return nullptr;
    for (int i = 0; i < p.count; ++i) {
        PyObject* item =
            Py_BuildValue("(Cnn)", p.spans[i].directive, p.spans[i].start, p.spans[i].end);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(spans.get(), i, item);
    }
    reru::Ref offset = p.has_offset ? reru::Ref::steal(PyLong_FromLongLong(p.offset_us))
                                    : reru::Ref::borrow(Py_None);
    if (!offset) return nullptr;
    return Py_BuildValue("{sOsisisisisisisisO}", "spans", spans.get(), "year", p.year, "month",
                         p.month, "day", p.day, "hour", p.hour, "minute", p.minute, "second",
                         p.second, "microsecond", p.microsecond, "offset_us", offset.get());
}

// work(text, fmt) -> the matching steps a decision takes, or None.
PyObject* work(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!two_str(args, nargs)) return nullptr;
    accept::Facts f;
    accept::Program prog;
    if (accept::read_facts(f) != accept::Reading::usable || !accept::compile(args[1], prog))
        Py_RETURN_NONE;
    long steps = 0;
    accept::decide(prog, args[0], f, nullptr, &steps);
    return PyLong_FromLong(steps);
}

// facts() -> whether the preconditions hold now.
PyObject* facts(PyObject*, PyObject*) {
    accept::Facts f;
    const accept::Reading r = accept::read_facts(f);
    if (r == accept::Reading::error) return nullptr;
    return PyBool_FromLong(r == accept::Reading::usable);
}

// zones() -> the names %Z accepts now, or None.
PyObject* zones(PyObject*, PyObject*) {
    accept::Facts f;
    const accept::Reading r = accept::read_facts(f);
    if (r == accept::Reading::error) return nullptr;
    if (r != accept::Reading::usable || f.zone_count < 0) Py_RETURN_NONE;
    PyObject* list = PyList_New(0);
    for (int i = 0; list != nullptr && i < f.zone_count; ++i) {
        PyObject* s = PyUnicode_FromStringAndSize(f.zones[i], f.zone_length[i]);
        if (s == nullptr || PyList_Append(list, s) != 0) Py_CLEAR(list);
        Py_XDECREF(s);
    }
    return list;
}

// timing(text, fmt, rounds) -> nanoseconds per decide (facts read once,
// format compiled once), or None when not decided.
PyObject* timing(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3 || !PyLong_Check(args[2])) {
        PyErr_SetString(PyExc_TypeError, "expected (text, fmt, rounds)");
        return nullptr;
    }
    if (!two_str(args, 2)) return nullptr;
    const long rounds = PyLong_AsLong(args[2]);
    if (rounds <= 0) return PyErr_Occurred() ? nullptr : PyFloat_FromDouble(0.0);
    accept::Facts f;
    accept::Program prog;
    if (accept::read_facts(f) != accept::Reading::usable || !accept::compile(args[1], prog))
        Py_RETURN_NONE;
    timespec a{}, b{};
    clock_gettime(CLOCK_MONOTONIC, &a);
    int accepted = 0;
    for (long i = 0; i < rounds; ++i)
        accepted += accept::decide(prog, args[0], f) == accept::Verdict::accepted;
    clock_gettime(CLOCK_MONOTONIC, &b);
    const double ns = (b.tv_sec - a.tv_sec) * 1e9 + (b.tv_nsec - a.tv_nsec);
    return PyFloat_FromDouble(accepted >= 0 ? ns / rounds : 0.0);
}

PyMethodDef methods[] = {
    {"decide", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(decide)), METH_FASTCALL,
     nullptr},
    {"parse", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse)), METH_FASTCALL,
     nullptr},
    {"timing", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(timing)), METH_FASTCALL,
     nullptr},
    {"work", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(work)), METH_FASTCALL,
     nullptr},
    {"facts", facts, METH_NOARGS, nullptr},
    {"zones", zones, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// The decision holds on to strptime's modules once they are loaded (the
// finder leaves that to datetime.strptime); the hook loads them itself.
int exec_module(PyObject*) {
    for (const char* name : {"_strptime", "locale", "calendar", "time"}) {
        PyObject* m = PyImport_ImportModule(name);
        if (m == nullptr) return -1;
        Py_DECREF(m);
    }
    accept::init();  // not ready while a function is not strptime's own: facts() says so
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "accept_hook", nullptr, 0, methods, slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_accept_hook() { return PyModuleDef_Init(&module_def); }
