// zhand.Recorder and zhand.Run: runs recorded into the station's journal. Runs
// are used with the GIL held throughout, so two Python threads never change
// one at the same moment; only the waits for the journal let it go.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "bindings.h"
#include "run_record.h"

namespace py = pybind11;

namespace zhandpy {

namespace {

using RunPtr = std::shared_ptr<RunRecord>;

// The journal and the one run it records at a time, as at the station.
class PyRecorder {
  public:
    explicit PyRecorder(const StoreChoice& choice) : journal_(OpenJournal(choice)) {}
    ~PyRecorder() { Close(); }

    RunPtr BeginRun(std::string test, std::string serial, std::string operatorInitials,
                    int cycles) {
        Journal();  // raises when closed
        if (current_ && !current_->Ended()) current_->End("error");
        auto run = std::make_shared<RunRecord>(journal_, std::move(test), std::move(serial),
                                               std::move(operatorInitials), cycles);
        current_ = run;
        return run;
    }

    // Ends a run still open as aborted and lets go of the journal once its
    // runs are gone; every fact put so far is stored or set aside first.
    void Close() {
        if (!journal_) return;
        if (current_ && !current_->Ended()) current_->End("aborted");
        current_.reset();
        journal_->Flush();
        journal_.reset();
    }

    results::Journal& Journal() {
        if (!journal_) throw py::value_error("the recorder is closed");
        return *journal_;
    }

  private:
    std::shared_ptr<results::Journal> journal_;
    RunPtr current_;  // kept, so that a run dropped while open still ends
};

RunRecord& Open(const RunPtr& run) {
    if (run->Ended()) throw py::value_error("the run has ended (" + run->Outcome() + ")");
    return *run;
}

py::object OutcomeOrNone(const RunRecord& run) {
    return run.Ended() ? py::object(py::str(run.Outcome())) : py::object(py::none());
}

std::string Repr(const results::Measurement& m) {
    std::string text = m.name + " = " + py::repr(py::float_(m.value)).cast<std::string>();
    if (m.unit) text += " " + *m.unit;
    auto bound = [](const std::optional<double>& b) {
        return b ? py::repr(py::float_(*b)).cast<std::string>() : std::string("-");
    };
    if (m.low || m.high) text += " (limits " + bound(m.low) + " .. " + bound(m.high) + ")";
    return text;
}

void BindMeasurement(py::module_& m) {
    using M = results::Measurement;
    py::class_<M>(m, "Measurement", "One measurement of a run, as stored.")
        .def_readonly("name", &M::name)
        .def_readonly("value", &M::value)
        .def_readonly("unit", &M::unit)
        .def_readonly("low", &M::low)
        .def_readonly("high", &M::high)
        .def_readonly("verdict", &M::outcome, "\"pass\" or \"fail\"; None without limits.")
        .def_readonly("cycle", &M::cycle)
        .def("__repr__", [](const M& x) { return "<Measurement " + Repr(x) + ">"; })
        .def("__str__", &Repr);
}

void BindRun(py::module_& m) {
    py::class_<RunRecord, RunPtr>(m, "Run", R"(One run in the store, made by Recorder.begin_run.

A context manager: leaving it ends the run, as error on an exception
(aborted on KeyboardInterrupt), else with the computed outcome.)")
        .def(
            "measure",
            [](const RunPtr& run, const std::string& name, double value,
               std::optional<std::string> unit, std::optional<double> low,
               std::optional<double> high, std::optional<int> cycle) {
                return Open(run).Measure(name, value, std::move(unit), low, high, cycle);
            },
            py::arg("name"), py::arg("value"), py::arg("unit") = py::none(),
            py::arg("low") = py::none(), py::arg("high") = py::none(), py::kw_only(),
            py::arg("cycle") = py::none(),
            "Records a measurement; returns its verdict: \"pass\" within [low, high] (a missing "
            "bound does not limit), \"fail\" outside, None without limits.")
        .def(
            "event",
            [](const RunPtr& run, const std::string& kind, const std::string& text,
               std::optional<std::string> motor,
               std::optional<int> cycle) { Open(run).Event(kind, text, std::move(motor), cycle); },
            py::arg("kind"), py::arg("text"), py::arg("motor") = py::none(),
            py::arg("cycle") = py::none(),
            "Records an event of `kind` (e.g. \"JAMMED OPEN\") with its text, for `motor` "
            "(\"F1\".. \"F3\", \"Spread\") and in `cycle` when given.")
        .def(
            "cycle", [](const RunPtr& run, int i) { Open(run).Cycle(i); }, py::arg("i"),
            "The run is in cycle `i` (shown as cycle i of the planned cycles); later facts "
            "belong to it.")
        .def(
            "end",
            [](const RunPtr& run, std::optional<std::string> outcome) {
                if (outcome && !IsEndOutcome(*outcome)) {
                    throw py::value_error("outcome must be pass, fail, aborted or error, not " +
                                          *outcome);
                }
                return run->End(std::move(outcome));
            },
            py::arg("outcome") = py::none(),
            "Ends the run: with `outcome` (pass, fail, aborted, error) or, without, fail when a "
            "measurement failed, else pass. Returns the outcome; the run is in the store then.")
        .def("__enter__", [](const RunPtr& run) { return run; })
        .def("__exit__",
             [](const RunPtr& run, const py::object& type, const py::object&, const py::object&) {
                 std::optional<std::string> outcome;
                 if (!type.is_none()) {
                     bool interrupted =
                         PyErr_GivenExceptionMatches(type.ptr(), PyExc_KeyboardInterrupt);
                     outcome = interrupted ? results::kAborted : results::kError;
                 }
                 run->End(outcome);
                 return false;
             })
        .def_property_readonly("uuid", [](const RunRecord& r) { return r.Start().uuid; })
        .def_property_readonly("test", [](const RunRecord& r) { return r.Start().test; })
        .def_property_readonly("serial", [](const RunRecord& r) { return r.Start().serial; })
        .def_property_readonly("operator",
                               [](const RunRecord& r) { return r.Start().operatorInitials; })
        .def_property_readonly("cycles_planned",
                               [](const RunRecord& r) { return r.Start().cyclesPlanned; })
        .def_property_readonly("cycles_done", &RunRecord::CyclesDone)
        .def_property_readonly("errors", &RunRecord::Errors, "The failed measurements so far.")
        .def_property_readonly("failed", &RunRecord::Failed, "The failed measurements.")
        .def_property_readonly("outcome", &OutcomeOrNone, "None while the run is open.");
}

void BindRecorderClass(py::module_& m) {
    py::class_<PyRecorder>(m, "Recorder", R"(The station's journal, from Python.

Recorder(results=None, station=None, local=None) records into the store
that `results` names, else ZHAND_RESULTS, else results.db in the working
directory ("off" records nothing; a postgresql:// URI ships to that server
from the local file `local`, else ZHAND_LOCAL_RESULTS, else results.db),
as the station `station`, else ZHAND_STATION, else the host name. Facts the
store cannot take go to results-unsaved.jsonl beside it, as at the station.
One run at a time; one Recorder per store and station in a process.)")
        .def(py::init([](std::optional<std::string> results, std::optional<std::string> station,
                         std::optional<std::string> local) {
                 StoreChoice choice{results.value_or(""), station.value_or(""), local.value_or("")};
                 py::gil_scoped_release nogil;
                 return std::make_unique<PyRecorder>(choice);
             }),
             py::arg("results") = py::none(), py::arg("station") = py::none(),
             py::arg("local") = py::none())
        .def("begin_run", &PyRecorder::BeginRun, py::arg("test"), py::arg("serial") = "",
             py::arg("operator") = "", py::arg("cycles") = 0,
             "Starts a run of `test` for the hand `serial` by `operator` with `cycles` planned; a "
             "run still open ends as error first.")
        .def(
            "flush",
            [](PyRecorder& r) {
                results::Journal& journal = r.Journal();
                py::gil_scoped_release nogil;
                journal.Flush();
            },
            "Returns once every fact so far is stored or set aside.")
        .def(
            "wait_for_shipping",
            [](PyRecorder& r, double seconds) {
                results::Journal& journal = r.Journal();
                py::gil_scoped_release nogil;
                return journal.WaitForShipping(
                    std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
            },
            py::arg("timeout") = 10.0,
            "Waits until everything stored has been shipped to the server; False if not by "
            "then or without a server.")
        .def(
            "close", [](PyRecorder& r) { r.Close(); },
            "Ends a run still open as aborted, stores every fact and lets go of the store.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](PyRecorder& r, py::args) { r.Close(); })
        .def_property_readonly(
            "problem", [](PyRecorder& r) { return r.Journal().Problem(); },
            "Why facts cannot be stored or shipped now; \"\" when all is well.")
        .def_property_readonly(
            "store", [](PyRecorder& r) { return r.Journal().LocalStore(); },
            "The local file facts are committed to (\"\" when recording is off).")
        .def_property_readonly("enabled", [](PyRecorder& r) { return r.Journal().Enabled(); })
        .def_property_readonly(
            "shipping", [](PyRecorder& r) { return r.Journal().Shipping(); },
            "Whether facts are shipped to a server.");
}

}  // namespace

void BindRecorder(py::module_& m) {
    BindMeasurement(m);
    BindRun(m);
    BindRecorderClass(m);
}

}  // namespace zhandpy
