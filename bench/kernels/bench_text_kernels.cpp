// The text kernels alone, without Python: nanoseconds per value over a
// column of words, rare long values, special-only values and numbers as text.
// Built and run by bench_quality_scan.py (g++ -O3 with the kernel sources).
#include "kernels/text/text_scans.hpp"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace zeka::kernels;

namespace {

template <class F> double best_ns_per_value(F run, std::size_t n) {
    double best = 1e30;
    for (int r = 0; r < 5; ++r) {
        auto start = std::chrono::steady_clock::now();
        run();
        std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        best = took.count() < best ? took.count() : best;
    }
    return best / static_cast<double>(n);
}

} // namespace

int main() {
    const std::vector<std::string> pool = {
        "alpha",
        "beta",
        "gamma",
        "\xc3\xa9psilon",
        "th\xc3\xa9ta",
        "omicron",
        "??",
        "---",
        "#",
        "1",
        "2.5",
        "-3",
        "1e5",
        " 42 ",
        "nan",
        "7_000",
        std::string("long text ") +
            "long text long text long text long text long text long text long text"};
    CharClasses classes; // ASCII letters and digits, and the two accented letters used
    for (std::uint32_t c = '0'; c <= 'z'; ++c)
        if ((c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a'))
            classes.set_alnum(c);
    classes.set_alnum(0xE9);
    classes.spaces = {0x85, 0xA0};
    const std::size_t n = 1000000;
    std::vector<TextView> views(n);
    std::uint64_t state = 42;
    for (auto& view : views) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        view = pool[(state >> 33) % pool.size()];
    }
    std::vector<std::uint8_t> flags(n);
    std::printf(
        "special-only   %6.1f ns/value\n",
        best_ns_per_value([&] { mark_special_only(views.data(), n, classes, flags.data()); }, n));
    std::printf(
        "number as text %6.1f ns/value\n",
        best_ns_per_value([&] { mark_float_texts(views.data(), n, classes, flags.data()); }, n));
    return 0;
}
