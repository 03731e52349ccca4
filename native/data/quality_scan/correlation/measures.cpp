#include "data/quality_scan/correlation/measures.hpp"

#include "kernels/association/association.hpp"

#include <pybind11/numpy.h>

namespace zeka::quality_scan {

const char* const kTheilUDoc =
    "Symmetric uncertainty coefficient (symmetric Theil's U) of two categorical columns:\n\n"
    "    U = 2 (H(x) + H(y) - H(x, y)) / (H(x) + H(y))\n\n"
    "with H the Shannon entropy of the empirical distribution of the categories (every "
    "distinct value is a category; all NaNs form one). U lies in [0, 1]: 0 for independent "
    "columns, 1 when each determines the other. When both columns are constant (or empty) the "
    "ratio is 0/0 and U is 1.0, the value scikit-learn's normalized mutual information takes "
    "there; when only one is constant U is 0.0. `x` and `y` are one-dimensional and of equal "
    "length (ValueError otherwise).";

const char* const kCorrelationRatioDoc =
    "Correlation ratio eta of `measurements` given `categories`:\n\n"
    "    eta = sqrt(sum_g n_g (mean_g - mean)^2 / sum_i (y_i - mean)^2)\n\n"
    "the square root of the share of the variance of the measurements that lies between the "
    "category groups. eta lies in [0, 1]; it is 0.0 for constant (or no) measurements, where "
    "there is no variance to explain, and NaN when a measurement is NaN. Both arguments are "
    "one-dimensional and of equal length (ValueError otherwise); every distinct category value "
    "is a group.";

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::object one_dimensional(const py::object& values, const char* name) {
    py::object array = py::module_::import("numpy").attr("asarray")(values);
    if (py::int_(array.attr("ndim")).cast<int>() != 1)
        throw py::value_error(std::string(name) + " must be one-dimensional");
    return array;
}

// The array's values as doubles: numbers as they are, anything else by
// pandas' codes of its distinct values (missing values all one code, -1).
Doubles category_values(const py::object& values, const char* name) {
    py::object array = one_dimensional(values, name);
    std::string kind = py::str(array.attr("dtype").attr("kind"));
    if (kind != "b" && kind != "i" && kind != "u" && kind != "f")
        array = py::module_::import("pandas").attr("factorize")(array)[py::int_(0)];
    return Doubles::ensure(array);
}

} // namespace

py::object symmetric_theil_u_correlation(Frame& f) {
    Doubles x = category_values(f[0], "x"), y = category_values(f[1], "y");
    double u;
    {
        // Safe without the GIL: the kernel reads only the memory of the two
        // arrays we hold; no Python object is touched.
        py::gil_scoped_release release;
        kernels::Codes cx = kernels::factorize(x.data(), static_cast<std::size_t>(x.size()));
        kernels::Codes cy = kernels::factorize(y.data(), static_cast<std::size_t>(y.size()));
        u = kernels::symmetric_uncertainty(cx, cy);
    }
    return py::float_(u);
}

py::object correlation_ratio(Frame& f) {
    Doubles groups = category_values(f[0], "categories");
    Doubles y = Doubles::ensure(one_dimensional(f[1], "measurements")
                                    .attr("astype")(py::module_::import("numpy").attr("float64")));
    double eta;
    {
        // Safe without the GIL: the kernel reads only the memory of the two
        // arrays we hold; no Python object is touched.
        py::gil_scoped_release release;
        kernels::Codes codes =
            kernels::factorize(groups.data(), static_cast<std::size_t>(groups.size()));
        eta = kernels::correlation_ratio(codes, y.data(), static_cast<std::size_t>(y.size()));
    }
    return py::float_(eta);
}

} // namespace zeka::quality_scan
