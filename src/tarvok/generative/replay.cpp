#include "generative/replay.hpp"

#include "common/utf8.hpp"

namespace tarvok::generative::replay {

std::string first_line(std::string_view prompt, std::size_t limit) {
    std::size_t end = prompt.find_first_of("\r\n");
    std::string_view line = prompt.substr(0, end == std::string_view::npos ? prompt.size() : end);
    std::size_t pos = 0, count = 0;
    while (pos < line.size() && count < limit) {
        pos += utf8::decode(line, pos, true).length;
        ++count;
    }
    return std::string(line.substr(0, pos)) + (pos < line.size() ? "..." : "");
}

std::string missing_reply(std::string_view step, std::string_view prompt, std::string_view sha256_hex,
                          std::string_view where) {
    std::string request = step.empty() ? "the request" : "the " + std::string(step) + " request";
    return "no recorded reply for " + request + " (first line: '" + first_line(prompt) + "', SHA-256 " +
           std::string(sha256_hex) + ") in " + std::string(where);
}

}  // namespace tarvok::generative::replay
