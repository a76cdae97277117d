// The answers of a hand that replies at once, for the shared pty peer: echo,
// a fixed reply and the prompt for text commands; the Fingerprint flags for
// the flag reads of RTStart; "*" for the loop; and "*" with twelve feedback
// bytes for each real-time update "C" with three velocities. Any other byte
// in the loop leaves it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "pty_peer.h"

inline PtyPeer::Responder InstantAnswers() {
    return [realtime = false](std::string_view input, std::string& reply) mutable -> std::size_t {
        if (realtime) {
            if (input[0] != 'C') {  // byte 3 (or anything else) leaves the loop
                realtime = false;
                reply += "\r\n=> ";
                return 1;
            }
            if (input.size() < 4) return 0;
            // Per finger: velocity, position high and low, delta position.
            reply.append("*\x05\x42\x68\xFE\x05\x10\x00\x01\xFB\x00\x20\x02", 13);
            return 4;
        }
        const std::size_t cr = input.find('\r');
        if (cr == std::string_view::npos) return 0;
        const std::string_view line = input.substr(0, cr);
        reply += line;  // the echo
        if (line.ends_with("LOOP")) {
            realtime = true;
            reply += '*';
        } else if (line.find("FGET LCV") != std::string_view::npos) {
            reply += line[0] == '4' ? "0 0 0 0 0 0\r\n=> " : "1 0 1 0 1 1\r\n=> ";
        } else if (line.find("FGET") != std::string_view::npos) {
            reply += "\r\n12345\r\n=> ";
        } else {
            reply += "\r\n=> ";
        }
        return cr + 1;
    };
}
