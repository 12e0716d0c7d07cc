// Numbers a script loads from the data file beside it, by name: the arrays a
// target hands its writer when its numbers are too many to write inline.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tarvok {

struct NamedArray {
    std::string name;
    std::variant<std::vector<double>, std::vector<int32_t>, std::vector<int64_t>, std::vector<uint8_t>> data;
};

}  // namespace tarvok
