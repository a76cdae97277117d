// zhand.Hand: every operation of ZHand, in snake_case. Each exchange runs
// without the GIL, so other Python threads go on while the driver waits for
// the hand; every result code other than 0 raises zhand.HandError.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "bindings.h"
#include "hand_session.h"

namespace py = pybind11;

namespace zhandpy {

namespace {

void Check(int rc) {
    if (rc != 0) RaiseHandError(rc);
}

// Runs `use` on the hand without the GIL, under the session's lock, and
// gives its result; `closed` when the session is closed.
template <class Use, class Result = std::invoke_result_t<Use, ZHand&>>
Result Exchange(HandSession& session, Use use, Result closed) {
    py::gil_scoped_release nogil;
    std::lock_guard lock(session.Lock());
    ZHand* hand = session.Hand();
    return hand != nullptr ? use(*hand) : closed;
}

// One exchange that returns a result code.
template <class Use>
void Do(HandSession& session, Use use) {
    Check(Exchange(session, use, ZHand::NoInstance));
}

// A look at the driver's state that sends nothing: the GIL is kept unless
// another thread's exchange holds the hand. -15 when the session is closed.
template <class Use>
auto Peek(HandSession& session, Use use) {
    std::unique_lock lock(session.Lock(), std::try_to_lock);
    if (!lock.owns_lock()) {
        py::gil_scoped_release nogil;
        lock.lock();
    }
    ZHand* hand = session.Hand();
    if (hand == nullptr) RaiseHandError(ZHand::NoInstance);
    return use(*hand);
}

std::unique_ptr<HandSession> MakeHand(const py::object& port, int priority, bool reset) {
    auto session = std::make_unique<HandSession>();
    int rc = 0;
    if (py::isinstance<py::bool_>(port)) {
        throw py::type_error("port must be a port number or a device path");
    } else if (py::isinstance<py::int_>(port)) {
        long long number = port.cast<long long>();
        int n = number < 0 || number > INT_MAX ? 0 : static_cast<int>(number);
        py::gil_scoped_release nogil;
        rc = session->OpenPort(n, priority, reset);
    } else {
        auto path = py::module_::import("os").attr("fsdecode")(port).cast<std::string>();
        py::gil_scoped_release nogil;
        rc = session->OpenDevice(path, priority, reset);
    }
    Check(rc);
    return session;
}

std::vector<int> GetParameters(HandSession& session, const std::string& motors,
                               const std::string& names) {
    std::array<int, 64> values{};
    int count = 0;
    Do(session, [&](ZHand& hand) {
        int rc = hand.GetParameters(motors.c_str(), names.c_str(), values);
        if (rc == 0) count = std::min<int>(CountIntegers(hand.ReplyText()), values.size());
        return rc;
    });
    return {values.begin(), values.begin() + count};
}

int Temperature(HandSession& session) {
    int degrees = INT_MIN;
    Do(session, [&](ZHand& hand) { return hand.GetTemperature(&degrees); });
    // A reply that does not begin with a number is no temperature.
    if (degrees == INT_MIN) RaiseHandError(ZHand::BadReply);
    return degrees;
}

std::string Command(HandSession& session, const std::string& text) {
    std::string reply;
    Do(session, [&](ZHand& hand) { return hand.Command(text.c_str(), &reply); });
    return reply;
}

void BindMotion(py::class_<HandSession>& c) {
    using S = HandSession;
    using Motors = const std::string&;
    c.def(
         "open", [](S& s, Motors m) { Do(s, [&](ZHand& h) { return h.Open(m.c_str()); }); },
         py::arg("motors"),
         "Opens motor(s) `motors` (\"1\"..\"4\", \"G\" the fingers, \"S\" the spread).")
        .def(
            "close", [](S& s, Motors m) { Do(s, [&](ZHand& h) { return h.Close(m.c_str()); }); },
            py::arg("motors"), "Closes motor(s) `motors`.")
        .def(
            "incremental_open",
            [](S& s, Motors m, int v) {
                Do(s, [&](ZHand& h) { return h.IncrementalOpen(m.c_str(), v); });
            },
            py::arg("motors"), py::arg("value"), "Opens by `value` counts (0..30000, else -18).")
        .def(
            "incremental_close",
            [](S& s, Motors m, int v) {
                Do(s, [&](ZHand& h) { return h.IncrementalClose(m.c_str(), v); });
            },
            py::arg("motors"), py::arg("value"), "Closes by `value` counts (0..30000, else -18).")
        .def(
            "move_to",
            [](S& s, Motors m, int v) { Do(s, [&](ZHand& h) { return h.MoveTo(m.c_str(), v); }); },
            py::arg("motors"), py::arg("value"), "Moves to position `value` (0..30000, else -18).")
        .def(
            "move", [](S& s, Motors m) { Do(s, [&](ZHand& h) { return h.Move(m.c_str()); }); },
            py::arg("motors"), "Moves motor(s) `motors` to their set positions.")
        .def(
            "move_all_to",
            [](S& s, int p1, int p2, int p3, int p4) {
                Do(s, [&](ZHand& h) { return h.MoveAllTo(p1, p2, p3, p4); });
            },
            py::arg("p1"), py::arg("p2"), py::arg("p3"), py::arg("p4"),
            "Moves the four motors to their positions (each 0..30000, else -18).")
        .def(
            "home", [](S& s) { Do(s, [](ZHand& h) { return h.Home(); }); }, "Homes the hand.")
        .def(
            "terminate",
            [](S& s, Motors m) { Do(s, [&](ZHand& h) { return h.Terminate(m.c_str()); }); },
            py::arg("motors"), "Stops motor(s) `motors`.")
        .def(
            "init_hand",
            [](S& s, Motors m) { Do(s, [&](ZHand& h) { return h.InitHand(m.c_str()); }); },
            py::arg("motors"), "Initialises motor(s) `motors`.");
}

void BindParameters(py::class_<HandSession>& c) {
    using S = HandSession;
    using Text = const std::string&;
    c.def(
         "set_parameter",
         [](S& s, Text m, Text name, int v) {
             Do(s, [&](ZHand& h) { return h.SetParameter(m.c_str(), name.c_str(), v); });
         },
         py::arg("motors"), py::arg("name"), py::arg("value"),
         "Sets parameter `name` of motor(s) `motors` to `value`.")
        .def("get_parameters", &GetParameters, py::arg("motors"), py::arg("names"),
             "Reads parameters `names` (e.g. \"P\" or \"MCV MOV\") of motor(s) `motors`: the "
             "integers of the hand's reply, in order.")
        .def(
            "save_parameters",
            [](S& s, Text m) { Do(s, [&](ZHand& h) { return h.SaveParameters(m.c_str()); }); },
            py::arg("motors"), "Saves the parameters of motor(s) `motors` in the hand.")
        .def(
            "load_parameters",
            [](S& s, Text m) { Do(s, [&](ZHand& h) { return h.LoadParameters(m.c_str()); }); },
            py::arg("motors"), "Loads the saved parameters of motor(s) `motors`.")
        .def(
            "load_defaults",
            [](S& s, Text m) { Do(s, [&](ZHand& h) { return h.LoadDefaults(m.c_str()); }); },
            py::arg("motors"), "Loads the factory defaults of motor(s) `motors`.")
        .def("temperature", &Temperature, "The hand's temperature in degrees.");
}

void BindLink(py::class_<HandSession>& c) {
    using S = HandSession;
    c.def("command", &Command, py::arg("text"),
          "Sends `text` and CR; returns the hand's reply (trimmed).")
        .def(
            "delay", [](S& s, unsigned ms) { Do(s, [&](ZHand& h) { return h.Delay(ms); }); },
            py::arg("ms"), "Pauses on the host for 1..100000 ms; nothing is sent.")
        .def(
            "reset", [](S& s) { Do(s, [](ZHand& h) { return h.Reset(); }); },
            "Wakes and resets the hand; the port returns to 9600 baud.")
        .def(
            "set_hand_baud",
            [](S& s, unsigned baud) { Do(s, [&](ZHand& h) { return h.SetHandBaud(baud); }); },
            py::arg("baud"), "Switches hand and port to `baud`.")
        .def(
            "set_baud_rate",
            [](S& s, int baud) { Do(s, [&](ZHand& h) { return h.SetBaudRate(baud); }); },
            py::arg("baud"), "Sets the port alone to `baud` (the hand is not told).")
        .def(
            "set_timeouts",
            [](S& s, int interval, int multiplier, int constant, int wmultiplier, int wconstant) {
                Do(s, [&](ZHand& h) {
                    return h.SetTimeouts(interval, multiplier, constant, wmultiplier, wconstant);
                });
            },
            py::arg("read_interval"), py::arg("read_multiplier"), py::arg("read_constant"),
            py::arg("write_multiplier"), py::arg("write_constant"),
            "The port's time-outs in ms: a read of n bytes fails after read_constant + "
            "read_multiplier * n, a write after write_constant + write_multiplier * n.")
        .def(
            "purge_port",
            [](S& s) {
                return Exchange(
                    s, [](ZHand& h) { return h.PurgePort(); }, false);
            },
            "Discards what waits in both directions; True when done.")
        .def(
            "link_lost", [](S& s) { return Peek(s, [](ZHand& h) { return h.LinkLost(); }); },
            "True from the exchange that found the device gone until it is open again.")
        .def(
            "reconnect",
            [](S& s) {
                return Exchange(
                    s, [](ZHand& h) { return h.Reconnect(); }, false);
            },
            "Tries once, without waiting, to open the device of a lost link again; True when "
            "the link is up afterwards.")
        .def_property_readonly(
            "reply_text",
            [](S& s) { return Peek(s, [](ZHand& h) { return std::string(h.ReplyText()); }); },
            "The trimmed text of the last reply.")
        .def_property_readonly(
            "command_text",
            [](S& s) { return Peek(s, [](ZHand& h) { return py::bytes(h.CommandText()); }); },
            "The last command composed, as bytes.")
        .def_property(
            "timeout", [](S& s) { return Peek(s, [](ZHand& h) { return h.timeout; }); },
            [](S& s, int ms) { Peek(s, [&](ZHand& h) { return h.timeout = ms; }); },
            "Milliseconds an operation waits for the I/O thread; -1 (the default) no limit.");
}

void BindRealtime(py::class_<HandSession>& c) {
    using S = HandSession;
    c.def(
         "rt_set_flags",
         [](S& s, const std::string& m, bool lcv, int lcvc, bool lcpg, bool lfv, int lfvc, bool lfs,
            bool lfap, bool lfdp, int lfdpc) {
             Do(s, [&](ZHand& h) {
                 return h.RTSetFlags(m.c_str(), lcv, lcvc, lcpg, lfv, lfvc, lfs, lfap, lfdp, lfdpc);
             });
         },
         py::arg("motors"), py::kw_only(), py::arg("lcv") = false, py::arg("lcvc") = 1,
         py::arg("lcpg") = false, py::arg("lfv") = false, py::arg("lfvc") = 1,
         py::arg("lfs") = false, py::arg("lfap") = false, py::arg("lfdp") = false,
         py::arg("lfdpc") = 1,
         "Sets the real-time flags of motor(s) `motors`: control velocity (lcv, lcvc) and "
         "gain (lcpg); feedback velocity (lfv, lfvc), strain (lfs), absolute position (lfap) "
         "and position delta (lfdp, lfdpc).")
        .def(
            "rt_start",
            [](S& s, const std::string& m) {
                Do(s, [&](ZHand& h) { return h.RTStart(m.c_str()); });
            },
            py::arg("motors"),
            "Reads the flags of all motors, lays out the blocks, enters the loop.")
        .def(
            "rt_update",
            [](S& s, bool send, bool read) {
                Do(s, [&](ZHand& h) { return h.RTUpdate(send, read); });
            },
            py::arg("send_control") = true, py::arg("read_feedback") = true,
            "One update: the control bytes out, the feedback in.")
        .def(
            "rt_abort", [](S& s) { Do(s, [](ZHand& h) { return h.RTAbort(); }); },
            "Leaves the real-time loop and reads the hand's prompt.")
        .def(
            "rt_set_velocity",
            [](S& s, char motor, int v) {
                Check(Peek(s, [&](ZHand& h) { return h.RTSetVelocity(motor, v); }));
            },
            py::arg("motor"), py::arg("value"),
            "Velocity -127..127 of `motor` for the next update (-19: not started).")
        .def(
            "rt_set_gain",
            [](S& s, char motor, int v) {
                Check(Peek(s, [&](ZHand& h) { return h.RTSetGain(motor, v); }));
            },
            py::arg("motor"), py::arg("value"), "Gain 0..255 of `motor` for the next update.")
        .def(
            "rt_get_velocity",
            [](S& s, char motor) {
                return Peek(s, [&](ZHand& h) { return int{h.RTGetVelocity(motor)}; });
            },
            py::arg("motor"), "Velocity of `motor` in the last feedback (0 when not read).")
        .def(
            "rt_get_strain",
            [](S& s, char motor) {
                return Peek(s, [&](ZHand& h) { return int{h.RTGetStrain(motor)}; });
            },
            py::arg("motor"), "Strain of `motor` in the last feedback.")
        .def(
            "rt_get_position",
            [](S& s, char motor) {
                return Peek(s, [&](ZHand& h) { return h.RTGetPosition(motor); });
            },
            py::arg("motor"), "Absolute position of `motor` in the last feedback.")
        .def(
            "rt_get_delta_pos",
            [](S& s, char motor) {
                return Peek(s, [&](ZHand& h) { return int{h.RTGetDeltaPos(motor)}; });
            },
            py::arg("motor"), "Position change of `motor` in the last feedback.");
}

}  // namespace

void BindHand(py::module_& m) {
    py::class_<HandSession> c(m, "Hand", R"(The hand on one serial port.

Hand(port) opens port 1..9 as the station does (./COMn in the working
directory, else /dev/ttyS<n-1>) or the device at a path, at 9600 baud,
and resets the hand (reset=False skips that). One Hand may be open in a
process at a time. A context manager: leaving it closes the port.)");
    c.def(py::init(&MakeHand), py::arg("port"), py::kw_only(),
          py::arg("priority") = HandSession::kStationPriority, py::arg("reset") = true)
        .def(
            "close_port",
            [](HandSession& s) {
                py::gil_scoped_release nogil;
                s.Close();
            },
            "Ends the I/O thread and closes the port; later operations raise code -15.")
        .def_property_readonly(
            "port_open",
            [](HandSession& s) {
                py::gil_scoped_release nogil;
                std::lock_guard lock(s.Lock());
                return s.Hand() != nullptr;
            },
            "True until close_port.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](HandSession& s, py::args) {
            py::gil_scoped_release nogil;
            s.Close();
        });
    BindMotion(c);
    BindParameters(c);
    BindLink(c);
    BindRealtime(c);
}

}  // namespace zhandpy
