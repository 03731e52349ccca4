#include "models/subnet/bank.hpp"

#include "kernels/nn/subnet_bank.hpp"
#include "models/binding.hpp"
#include "models/subnet/arrays.hpp"

namespace zeka::subnet {

namespace {

constexpr const char* kForwardDoc =
    R"(Outputs of a bank of m ReLU networks, and the hidden activations.

Parameters
----------
inputs : float32 array of shape (m, n, d_in)
    Network k's n input rows at inputs[k].
weights : list of float32 arrays
    Layer l's weights, of shape (m, fan_in, fan_out); the first fan_in is d_in,
    each fan_in the previous fan_out, and the last fan_out is 1.
biases : list of float32 arrays
    Layer l's biases, of shape (m, 1, fan_out).
capped : bool array of shape (m,)
    Networks whose hidden units saturate at 1 (min(max(z, 0), 1)).

Returns
-------
(outputs, hidden) : the float64 outputs of shape (m, n) and the list of the
float32 hidden activations (m, fan_out, n) of every layer but the last,
unit-major: each unit's values on the n rows lie side by side.

Every array must have exactly its dtype and be C-contiguous; ValueError
otherwise, and for inconsistent shapes.)";

constexpr const char* kBackwardDoc =
    R"(Gradients of sum(d_outputs * outputs) with respect to the parameters.

Parameters
----------
inputs, weights, capped : as for forward.
hidden : list of float32 arrays
    The hidden activations forward returned for these inputs and weights.
d_outputs : float64 array of shape (m, n)
    Gradient of the objective with respect to the outputs.

Returns
-------
list of float32 arrays : the gradients of the weights, then of the biases,
layer by layer, each shaped like its parameter.)";

// The inputs (m, n, d_in); sets the bank's row count.
FloatArray read_inputs(const py::handle& value, Bank& bank) {
    FloatArray inputs = checked_array<FloatArray>(value, "inputs", "float32", 3);
    require_extent(inputs, 0, static_cast<py::ssize_t>(bank.view.networks), "inputs");
    require_extent(inputs, 2, static_cast<py::ssize_t>(bank.view.sizes[0]), "inputs");
    bank.view.rows = static_cast<std::size_t>(inputs.shape(1));
    return inputs;
}

// The inputs (networks, rows, d_in) in the kernels' unit-major order
// (networks, d_in, rows): `buffer` holds the copy unless d_in is one, where
// both orders coincide.
const float* unit_major(const FloatArray& inputs, const kernels::SubnetBankView& view,
                        std::vector<float>& buffer) {
    const std::size_t d = view.sizes[0], rows = view.rows;
    if (d == 1)
        return inputs.data();
    buffer.resize(view.networks * d * rows);
    const float* in = inputs.data();
    for (std::size_t k = 0; k < view.networks; ++k)
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t j = 0; j < d; ++j)
                buffer[(k * d + j) * rows + r] = in[(k * rows + r) * d + j];
    return buffer.data();
}

FloatArray new_float_array(std::size_t a, std::size_t b, std::size_t c) {
    checked_product(a, b, c);
    return FloatArray(
        {static_cast<py::ssize_t>(a), static_cast<py::ssize_t>(b), static_cast<py::ssize_t>(c)});
}

py::tuple forward(const py::object& inputs_arg, const py::object& weights, const py::object& biases,
                  const py::object& capped) {
    Bank bank;
    read_weights(weights, bank);
    read_biases(biases, bank);
    read_capped(capped, bank);
    FloatArray inputs = read_inputs(inputs_arg, bank);
    const auto& view = bank.view;
    checked_product(view.networks, view.rows);
    DoubleArray outputs(
        {static_cast<py::ssize_t>(view.networks), static_cast<py::ssize_t>(view.rows)});
    py::list hidden_list;
    std::vector<float*> hidden;
    for (std::size_t l = 0; l + 1 < view.layers(); ++l) {
        FloatArray h = new_float_array(view.networks, view.sizes[l + 1], view.rows);
        hidden.push_back(h.mutable_data());
        hidden_list.append(h);
    }
    {
        // Only the buffers of arrays held above are read and written; no Python
        // object is touched.
        py::gil_scoped_release release;
        std::vector<float> buffer;
        kernels::subnet_forward(view, unit_major(inputs, view, buffer), hidden,
                                outputs.mutable_data());
    }
    return py::make_tuple(outputs, hidden_list);
}

py::list backward(const py::object& inputs_arg, const py::object& hidden_arg,
                  const py::object& weights, const py::object& capped,
                  const py::object& d_outputs_arg) {
    Bank bank;
    read_weights(weights, bank);
    read_capped(capped, bank);
    FloatArray inputs = read_inputs(inputs_arg, bank);
    const auto& view = bank.view;
    const auto hidden_items = items_of(hidden_arg, "hidden");
    if (hidden_items.size() + 1 != view.layers())
        throw py::value_error("hidden must hold one array per hidden layer (" +
                              std::to_string(view.layers() - 1) + "), got " +
                              std::to_string(hidden_items.size()));
    std::vector<FloatArray> hidden_arrays;
    std::vector<const float*> hidden;
    for (std::size_t l = 0; l < hidden_items.size(); ++l) {
        const std::string name = item_name("hidden", l);
        FloatArray h = checked_array<FloatArray>(hidden_items[l], name, "float32", 3);
        require_extent(h, 0, static_cast<py::ssize_t>(view.networks), name);
        require_extent(h, 1, static_cast<py::ssize_t>(view.sizes[l + 1]), name);
        require_extent(h, 2, static_cast<py::ssize_t>(view.rows), name);
        hidden.push_back(h.data());
        hidden_arrays.push_back(std::move(h));
    }
    DoubleArray d_outputs = checked_array<DoubleArray>(d_outputs_arg, "d_outputs", "float64", 2);
    require_extent(d_outputs, 0, static_cast<py::ssize_t>(view.networks), "d_outputs");
    require_extent(d_outputs, 1, static_cast<py::ssize_t>(view.rows), "d_outputs");

    py::list grads;
    std::vector<float*> grad_weights, grad_biases;
    for (std::size_t l = 0; l < view.layers(); ++l) {
        FloatArray g = new_float_array(view.networks, view.sizes[l], view.sizes[l + 1]);
        grad_weights.push_back(g.mutable_data());
        grads.append(g);
    }
    for (std::size_t l = 0; l < view.layers(); ++l) {
        FloatArray g = new_float_array(view.networks, 1, view.sizes[l + 1]);
        grad_biases.push_back(g.mutable_data());
        grads.append(g);
    }
    {
        // Only the buffers of arrays held above are read and written; no Python
        // object is touched.
        py::gil_scoped_release release;
        std::vector<float> buffer;
        kernels::subnet_backward(view, unit_major(inputs, view, buffer), hidden, d_outputs.data(),
                                 grad_weights, grad_biases);
    }
    return grads;
}

} // namespace

std::string item_name(const char* list, std::size_t index) {
    return std::string(list) + "[" + std::to_string(index) + "]";
}

// The layers' weights, with the layer sizes and network count they imply.
void read_weights(const py::handle& value, Bank& bank) {
    const auto items = items_of(value, "weights");
    if (items.empty())
        throw py::value_error("weights must hold at least one layer");
    auto& view = bank.view;
    for (std::size_t l = 0; l < items.size(); ++l) {
        const std::string name = item_name("weights", l);
        FloatArray w = checked_array<FloatArray>(items[l], name, "float32", 3);
        if (l == 0) {
            view.networks = static_cast<std::size_t>(w.shape(0));
            view.sizes.push_back(static_cast<std::size_t>(w.shape(1)));
        }
        require_extent(w, 0, static_cast<py::ssize_t>(view.networks), name);
        require_extent(w, 1, static_cast<py::ssize_t>(view.sizes.back()), name);
        if (w.shape(1) == 0 || w.shape(2) == 0)
            throw py::value_error(name + " has a layer of width 0");
        view.sizes.push_back(static_cast<std::size_t>(w.shape(2)));
        view.weights.push_back(w.data());
        bank.weights.push_back(std::move(w));
    }
    if (view.sizes.back() != 1)
        throw py::value_error("the last layer must have one output, got " +
                              std::to_string(view.sizes.back()));
}

void read_biases(const py::handle& value, Bank& bank) {
    const auto items = items_of(value, "biases");
    if (items.size() != bank.weights.size())
        throw py::value_error("biases must hold one array per layer (" +
                              std::to_string(bank.weights.size()) + "), got " +
                              std::to_string(items.size()));
    for (std::size_t l = 0; l < items.size(); ++l) {
        const std::string name = item_name("biases", l);
        FloatArray b = checked_array<FloatArray>(items[l], name, "float32", 3);
        require_extent(b, 0, static_cast<py::ssize_t>(bank.view.networks), name);
        require_extent(b, 1, 1, name);
        require_extent(b, 2, static_cast<py::ssize_t>(bank.view.sizes[l + 1]), name);
        bank.view.biases.push_back(b.data());
        bank.biases.push_back(std::move(b));
    }
}

void read_capped(const py::handle& value, Bank& bank) {
    bank.capped = checked_array<BoolArray>(value, "capped", "bool", 1);
    require_extent(bank.capped, 0, static_cast<py::ssize_t>(bank.view.networks), "capped");
    // numpy stores a bool as one byte; read it as a byte, whatever its value
    bank.view.capped = reinterpret_cast<const unsigned char*>(bank.capped.data());
}

void define_bank_functions(py::module_& module) {
    def_kernel(module, "forward", forward, kForwardDoc, py::arg("inputs"), py::arg("weights"),
               py::arg("biases"), py::arg("capped"));
    def_kernel(module, "backward", backward, kBackwardDoc, py::arg("inputs"), py::arg("hidden"),
               py::arg("weights"), py::arg("capped"), py::arg("d_outputs"));
}

} // namespace zeka::subnet
