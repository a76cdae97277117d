// The extension module _zhand, which the package zhand re-exports.
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include "bindings.h"
#include "zhand.h"

namespace py = pybind11;

namespace zhandpy {

namespace {

// Kept for the life of the process, past the interpreter's own end.
PyObject* handErrorType = nullptr;

// HandError is a Python class, so that it pickles, takes keyword arguments
// and is raised with its code like any other exception.
constexpr const char* kHandErrorSource = R"(
class HandError(Exception):
    """A hand operation failed: ``code`` is the driver's result code (-1..-19,
    or below for none of them) or the hand's own error number (``ERR n``
    gives n); the text is the driver's message for it."""

    def __init__(self, code, text=None):
        super().__init__(text if text is not None else error_text(code))
        self.code = code

    def __reduce__(self):
        return (type(self), (self.code, str(self)))
)";

}  // namespace

void BindErrors(py::module_& m) {
    m.def("error_text", &ZHand::ErrorText, py::arg("code"),
          "The driver's message for result code `code` (ZHand::ErrorText).");
    py::dict scope = m.attr("__dict__");
    py::exec(kHandErrorSource, scope);
    py::object type = m.attr("HandError");
    type.attr("__module__") = "zhand";
    handErrorType = type.release().ptr();
}

void RaiseHandError(int code) {
    py::object error = py::reinterpret_borrow<py::object>(handErrorType)(code);
    PyErr_SetObject(handErrorType, error.ptr());
    throw py::error_already_set();
}

}  // namespace zhandpy

PYBIND11_MODULE(_zhand, m) {
    m.doc() = "The ZorvathHand driver and the station's run record, for Python.";
    m.attr("__version__") = ZHAND_VERSION;
    zhandpy::BindErrors(m);
    zhandpy::BindHand(m);
    zhandpy::BindRecorder(m);
    // The classes are the package's: zhand.Hand, not zhand._zhand.Hand.
    for (const char* name : {"Hand", "Run", "Recorder", "Measurement"}) {
        m.attr(name).attr("__module__") = "zhand";
    }
}
