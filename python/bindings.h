// The parts of the extension module _zhand, each binding one side.
#pragma once

#include <pybind11/pybind11.h>

namespace zhandpy {

// zhand.HandError and zhand.error_text.
void BindErrors(pybind11::module_& m);
// Raises zhand.HandError for a result code other than 0.
[[noreturn]] void RaiseHandError(int code);
// zhand.Hand.
void BindHand(pybind11::module_& m);
// zhand.Recorder, zhand.Run and zhand.Measurement.
void BindRecorder(pybind11::module_& m);

}  // namespace zhandpy
