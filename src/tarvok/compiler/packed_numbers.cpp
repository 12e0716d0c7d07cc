#include "compiler/packed_numbers.hpp"

#include <cmath>

namespace tarvok::data {

bool PackedNumbers::enter_row(size_t level, uint64_t n) {
    if (shape.size() == level) shape.push_back(n);
    return shape[level] == n;
}

void PackedNumbers::add_whole(int64_t n) {
    if (is_int)
        integers.push_back(n);
    else
        reals.push_back(static_cast<double>(n));
}

bool PackedNumbers::add_real(double x) {
    if (!std::isfinite(x)) return false;
    if (is_int) {
        is_int = false;
        reals.assign(integers.begin(), integers.end());
        integers.clear();
    }
    reals.push_back(x);
    return true;
}

compiler::GivenArray PackedNumbers::given(std::string name) const {
    compiler::GivenArray array;
    array.name = std::move(name);
    array.shape = shape;
    array.is_int = is_int;
    array.integers = integers.data();
    array.reals = reals.data();
    return array;
}

std::optional<bool> packed_buffer_is_int(std::string_view format, size_t ndim, size_t itemsize, size_t dims) {
    if (!format.empty() && (format[0] == '@' || format[0] == '=' || format[0] == '<')) format.remove_prefix(1);
    bool reals = format == "d", integers = format == "l" || format == "q";
    if (ndim != dims || itemsize != 8 || !(reals || integers)) return std::nullopt;
    return integers;
}

size_t packed_dimensions(const std::map<std::string, Declared>& declared, const std::string& name) {
    auto found = declared.find(name);
    return found == declared.end() || found->second.is_set ? 0 : found->second.dims;
}

}  // namespace tarvok::data
