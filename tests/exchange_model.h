// What the exchange must print for what the modem sends, worked out without
// the tool: the oracle that the virtual-clock and the fuzz cases judge the
// tool's output by. The tests keep their own copy of the tool's facts, so
// that a slip in the tool's shows.
#pragma once

#include <string>
#include <vector>

// The command the tool must send, byte for byte.
inline const std::string command_bytes = "AT+DIALMODE=0\r\n";

// arrivals[i] reaches the line just before the tool's read i, and nothing
// comes after the last. A read takes at most 4095 bytes of what is queued,
// and its text ends at the first NUL. A first reply with the listing marker
// is followed by chunks, each full one (4095 bytes) printed, for 64 at most;
// the verdict is on the first reply, or the listing's first short chunk.
inline std::string expected_output(const std::vector<std::string> &arrivals)
{
    constexpr size_t chunk_max = 4095;
    constexpr int listing_chunks_max = 64;
    std::string queue;
    size_t next = 0;
    auto read_text = [&] {
        if (next < arrivals.size())
            queue += arrivals[next++];
        std::string got = queue.substr(0, chunk_max);
        queue.erase(0, got.size());
        return got.substr(0, got.find('\0'));
    };

    std::string out;
    std::string judged = read_text();
    if (judged.find("AT+CFTPSLIST") != std::string::npos) {
        judged.clear();
        for (int chunks = 0; chunks < listing_chunks_max; chunks++) {
            std::string chunk = read_text();
            if (chunk.size() != chunk_max) {
                judged = chunk;
                break;
            }
            out += chunk + "\n";
        }
    }
    return out + (judged.find("OK") != std::string::npos ? judged : "ERROR") + "\n";
}
