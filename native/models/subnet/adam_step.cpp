#include "kernels/nn/adam.hpp"
#include "models/binding.hpp"
#include "models/subnet/arrays.hpp"
#include "models/subnet/bank.hpp"

namespace zeka::subnet {

namespace {

constexpr const char* kAdamDoc =
    R"(One Adam update of a list of parameter arrays, in place.

Parameters
----------
params : list of float32 or float64 arrays
    Updated in place; writeable and C-contiguous.
grads : list of float32 or float64 arrays
    One per parameter, of its size; C-contiguous.
m, v : float64 arrays of shape (total size of params,)
    The first and second moments, in the order of params; updated in place.
step_size : float
    The learning rate divided by 1 - beta1 ** t.
correction2 : float
    1 - beta2 ** t.
beta1, beta2, eps : float
    Adam's decay rates and the constant added to the root of the second moment.

The arithmetic is that of the whole-array update in double precision, each
parameter then rounded to its own precision. ValueError for a dtype, shape or
order other than these.)";

// A parameter or gradient segment in either precision.
struct Segment {
    py::array array;
    void* data = nullptr;
    bool is_double = false;
};

Segment read_segment(const py::handle& value, const std::string& name, bool writeable) {
    Segment segment;
    if (DoubleArray::check_(value)) {
        segment.is_double = true;
    } else if (!FloatArray::check_(value)) {
        throw py::value_error(name + " must be a C-contiguous numpy array of dtype float32 or "
                                     "float64");
    }
    segment.array = py::reinterpret_borrow<py::array>(value);
    if (writeable) {
        require_writeable(segment.array, name);
        segment.data = segment.array.mutable_data();
    } else {
        segment.data = const_cast<void*>(segment.array.data());
    }
    return segment;
}

template <typename Param>
void update(Param* param, const Segment& grad, double* m, double* v, std::size_t count,
            const kernels::AdamSettings& settings) {
    if (grad.is_double)
        kernels::adam_update(param, static_cast<const double*>(grad.data), m, v, count, settings);
    else
        kernels::adam_update(param, static_cast<const float*>(grad.data), m, v, count, settings);
}

DoubleArray read_moment(const py::handle& value, const char* name, std::size_t total) {
    DoubleArray moment = checked_array<DoubleArray>(value, name, "float64", 1);
    require_extent(moment, 0, static_cast<py::ssize_t>(total), name);
    require_writeable(moment, name);
    return moment;
}

void adam_step(const py::object& params_arg, const py::object& grads_arg, const py::object& m_arg,
               const py::object& v_arg, double step_size, double correction2, double beta1,
               double beta2, double eps) {
    kernels::AdamSettings settings;
    settings.step_size = step_size;
    settings.correction2 = correction2;
    settings.beta1 = beta1;
    settings.beta2 = beta2;
    settings.eps = eps;
    const auto param_items = items_of(params_arg, "params");
    const auto grad_items = items_of(grads_arg, "grads");
    if (param_items.size() != grad_items.size())
        throw py::value_error("grads must hold one array per parameter (" +
                              std::to_string(param_items.size()) + "), got " +
                              std::to_string(grad_items.size()));
    std::vector<Segment> params, grads;
    std::size_t total = 0;
    for (std::size_t i = 0; i < param_items.size(); ++i) {
        params.push_back(read_segment(param_items[i], "params[" + std::to_string(i) + "]", true));
        grads.push_back(read_segment(grad_items[i], "grads[" + std::to_string(i) + "]", false));
        if (grads.back().array.size() != params.back().array.size())
            throw py::value_error("grads[" + std::to_string(i) + "] has " +
                                  std::to_string(grads.back().array.size()) +
                                  " values, its parameter " +
                                  std::to_string(params.back().array.size()));
        total += static_cast<std::size_t>(params.back().array.size());
    }
    DoubleArray m = read_moment(m_arg, "m", total);
    DoubleArray v = read_moment(v_arg, "v", total);
    {
        // Only the buffers of arrays held above are read and written; no Python
        // object is touched.
        py::gil_scoped_release release;
        double* m_at = m.mutable_data();
        double* v_at = v.mutable_data();
        for (std::size_t i = 0; i < params.size(); ++i) {
            const auto count = static_cast<std::size_t>(params[i].array.size());
            if (params[i].is_double)
                update(static_cast<double*>(params[i].data), grads[i], m_at, v_at, count, settings);
            else
                update(static_cast<float*>(params[i].data), grads[i], m_at, v_at, count, settings);
            m_at += count;
            v_at += count;
        }
    }
}

} // namespace

void define_adam_step(py::module_& module) {
    def_kernel(module, "adam_step", adam_step, kAdamDoc, py::arg("params"), py::arg("grads"),
               py::arg("m"), py::arg("v"), py::arg("step_size"), py::arg("correction2"),
               py::arg("beta1"), py::arg("beta2"), py::arg("eps"));
}

} // namespace zeka::subnet
