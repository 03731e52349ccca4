#include "data/causality/core/independence_test.hpp"

#include "common/python_class.hpp"
#include "kernels/core/random.hpp"
#include "kernels/dependence/randomized_independence.hpp"

#include <optional>
#include <pybind11/numpy.h>
#include <random>
#include <string>
#include <vector>

namespace zeka::causality {

namespace {

using DoubleArray = py::array_t<double, py::array::c_style>;

constexpr const char* kFunctionDoc =
    R"(Test whether x and y are independent, given z when z is not None.

Parameters
----------
x, y : array-like of shape (n_rows, n_columns)
    Two-dimensional, finite numbers with the same number of rows (at least 2).
z : array-like of shape (n_rows, n_columns) or None
    Conditioning variables for "rcit"; ignored by "rit".
method : {"rcit", "rit"}
    "rcit" residualises the x and y features on those of z; "rit" tests
    unconditional independence.
num_f : int
    Random Fourier features of z.
num_f2 : int
    Random Fourier features of x and of y.
n_subsamples : int
    Leading rows whose median pairwise distance sets each kernel width.
seed : int or None
    Seed of the random features; None draws a fresh one.

Returns
-------
(p_value, statistic) : tuple of float
    The p-value (small means evidence of dependence) and n times the squared
    Frobenius norm of the feature cross-covariance. A constant x or y gives
    (1.0, 0.0).

Raises ValueError for NaN or infinite values, fewer than 2 rows, different
row counts, inputs that are not two-dimensional and settings below 1.)";

// The argument as a C-ordered float64 matrix; the data are read, never changed.
DoubleArray as_matrix(const Frame& f, const py::handle& value, const char* name) {
    py::object array =
        f.global("np").attr("asarray")(value, py::arg("dtype") = f.global("np").attr("float64"));
    const auto ndim = array.attr("ndim").cast<long>();
    if (ndim != 2)
        throw py::value_error(std::string(name) +
                              " must be two-dimensional (rows x columns); got " +
                              std::to_string(ndim) + " dimension(s)");
    return DoubleArray::ensure(f.global("np").attr("ascontiguousarray")(array));
}

kernels::MatrixView view_of(const DoubleArray& array) {
    return {array.data(), static_cast<std::size_t>(array.shape(0)),
            static_cast<std::size_t>(array.shape(1))};
}

std::size_t count_setting(const py::handle& value, const char* name, long long minimum) {
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index)
        throw py::error_already_set();
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow > 0)
        throw py::value_error(std::string(name) +
                              " is too large: " + py::str(index).cast<std::string>());
    if (overflow < 0 || number < minimum)
        throw py::value_error(std::string(name) + " must be at least " + std::to_string(minimum) +
                              ", got " + py::str(index).cast<std::string>());
    return static_cast<std::size_t>(number);
}

std::uint64_t seed_of(const py::handle& value) {
    if (value.is_none())
        return (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index)
        throw py::error_already_set();
    // Any integer is a seed, used whole: its magnitude's 64-bit words.
    const bool negative = index < py::int_(0);
    py::object rest = negative ? -index : index;
    const py::int_ zero(0), word_bits(64);
    std::vector<std::uint64_t> words;
    while (rest > zero) {
        words.push_back(PyLong_AsUnsignedLongLongMask(rest.ptr()));
        rest = rest >> word_bits;
    }
    return kernels::seed_of_integer(words.data(), words.size(), negative);
}

bool is_conditional(const py::handle& method) {
    if (py::isinstance<py::str>(method)) {
        const auto name = method.cast<std::string>();
        if (name == "rcit" || name == "rit")
            return name == "rcit";
    }
    throw py::value_error("method must be 'rcit' or 'rit', got " +
                          py::repr(method).cast<std::string>());
}

py::object conditional_independence_test(Frame& f) {
    const bool conditional = is_conditional(f[3]);
    kernels::IndependenceTestSettings settings;
    settings.conditioning_features = count_setting(f[4], "num_f", 1);
    settings.features = count_setting(f[5], "num_f2", 1);
    settings.width_rows = count_setting(f[6], "n_subsamples", 2);
    settings.seed = seed_of(f[7]);
    DoubleArray x = as_matrix(f, f[0], "x");
    DoubleArray y = as_matrix(f, f[1], "y");
    std::optional<DoubleArray> z;
    if (conditional && !f[2].is_none())
        z = as_matrix(f, f[2], "z");
    kernels::IndependenceTestResult result;
    {
        // Only the arrays' buffers (held alive above) are read; no Python object is touched.
        py::gil_scoped_release release;
        result = kernels::randomized_independence_test(
            view_of(x), view_of(y), z ? view_of(*z) : kernels::MatrixView{}, settings);
    }
    return py::make_tuple(result.p_value, result.statistic);
}

} // namespace

void define_conditional_independence_test(py::module_ module) {
    def_function(module, "conditional_independence_test",
                 {arg("x"), arg("y"), arg("z", py::none()), arg("method", py::str("rcit")),
                  arg("num_f", py::int_(100)), arg("num_f2", py::int_(5)),
                  arg("n_subsamples", py::int_(1000)), arg("seed", py::none())},
                 conditional_independence_test, kFunctionDoc);
}

} // namespace zeka::causality
