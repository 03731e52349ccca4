#include "kernels/rows/row_hashes.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace zeka::kernels {

namespace {

// A bijective finaliser (splitmix64): every bit of the input moves about
// half the bits of the output.
std::uint64_t avalanche(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Mixing is not symmetric in its two inputs, so columns count in order.
std::uint64_t mix(std::uint64_t row, std::uint64_t value) {
    return avalanche(row * 0x9E3779B97F4A7C15ULL + value);
}

template <typename T> T load(const char* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

} // namespace

std::uint64_t text_hash(TextView text) {
    std::uint64_t h = 0x84222325CBF29CE4ULL ^ text.size();
    const char* bytes = text.data();
    std::size_t i = 0, n = text.size();
    for (; i + 8 <= n; i += 8)
        h = mix(h, load<std::uint64_t>(bytes + i));
    std::uint64_t tail = 0;
    if (n > i)
        std::memcpy(&tail, bytes + i, n - i);
    return mix(h, tail);
}

void mix_hashes(const std::uint64_t* values, std::size_t n, std::uint64_t* rows) {
    for (std::size_t i = 0; i < n; ++i)
        rows[i] = mix(rows[i], values[i]);
}

template <typename Float>
void mix_floats(const char* data, std::ptrdiff_t stride, std::size_t n, std::uint64_t* rows) {
    for (std::size_t i = 0; i < n; ++i) {
        double value = load<Float>(data + static_cast<std::ptrdiff_t>(i) * stride);
        if (std::isnan(value))
            value = std::numeric_limits<double>::quiet_NaN();
        else if (value == 0.0)
            value = 0.0;
        rows[i] = mix(rows[i], load<std::uint64_t>(reinterpret_cast<const char*>(&value)));
    }
}

template void mix_floats<float>(const char*, std::ptrdiff_t, std::size_t, std::uint64_t*);
template void mix_floats<double>(const char*, std::ptrdiff_t, std::size_t, std::uint64_t*);

void mix_integers(const char* data, std::ptrdiff_t stride, std::size_t width, std::size_t n,
                  std::uint64_t* rows) {
    if (width != 1 && width != 2 && width != 4 && width != 8)
        throw std::invalid_argument("integers of " + std::to_string(width) + " bytes");
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, data + static_cast<std::ptrdiff_t>(i) * stride, width);
        rows[i] = mix(rows[i], bits);
    }
}

std::vector<std::int64_t> repeated_positions(const std::uint64_t* rows, std::size_t n) {
    // Open addressing over a power-of-two table at most half full; each row
    // remembers its slot, so the second pass needs no second lookup.
    std::size_t capacity = 16;
    while (capacity < 2 * n)
        capacity *= 2;
    std::vector<std::uint64_t> keys(capacity);
    std::vector<std::uint8_t> state(capacity); // 0 empty, 1 seen once, 2 repeated
    std::vector<std::size_t> slot_of(n);
    const std::size_t mask = capacity - 1;
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t slot = static_cast<std::size_t>(avalanche(rows[i])) & mask;
        while (state[slot] && keys[slot] != rows[i])
            slot = (slot + 1) & mask;
        if (state[slot])
            state[slot] = 2;
        else
            keys[slot] = rows[i], state[slot] = 1;
        slot_of[i] = slot;
    }
    std::vector<std::int64_t> out;
    for (std::size_t i = 0; i < n; ++i)
        if (state[slot_of[i]] == 2)
            out.push_back(static_cast<std::int64_t>(i));
    return out;
}

} // namespace zeka::kernels
