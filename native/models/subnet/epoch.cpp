#include "kernels/nn/additive_epoch.hpp"
#include "models/binding.hpp"
#include "models/subnet/arrays.hpp"
#include "models/subnet/bank.hpp"

namespace zeka::subnet {

namespace {

constexpr const char* kTrainEpochDoc =
    R"(One epoch of mini-batch Adam on an additive network, in place.

The network scores a row as intercept + sum_j main_active[j] * main_j(row) +
sum_k pair_active[k] * pair_k(row). Every batch_size consecutive entries of
order (row indices) make one step: the gradient of the weighted mean loss
(squared, or logistic on log-odds), plus reg_clarity times the sum over pairs k
and their features f of pair_active[k] * main_active[f] * |mean(main_f *
pair_k)|; one Adam update of the trained banks and the intercept; monotone
main networks then keep non-negative weights. A batch whose weights sum to
zero is skipped.

Parameters
----------
main, pair : a bank to train, as the tuple (weights, biases, capped, inputs)
    with the float32 inputs of every row (networks, rows, d_in); or the
    float64 outputs (networks, rows) of a bank left as it is. pair may be
    None (no pairs).
pair_features : int64 array of shape (pairs, 2)
    The two main effects of each pair.
main_active, pair_active : float64 arrays, one switch per network
intercept : float64 array of shape (1,), trained
y, w : float64 arrays of shape (rows,), targets and sample weights
order : int64 array of row indices
batch_size : int >= 1
logistic : bool
reg_clarity : float >= 0
optimizer : object with float64 moments m and v (one entry per trained
    parameter: main weights then biases, pair weights then biases, the
    intercept), the step count t (advanced) and learning_rate, beta1, beta2,
    eps.)";

constexpr const char* kAdditiveLossDoc =
    R"(Loss of an additive network on some of its rows, as its training watches it.

The weighted mean loss (squared, or logistic on log-odds) on the given rows,
plus reg_clarity times the sum over pairs k and their features f of
pair_active[k] * main_active[f] * |mean over the rows of main_f * pair_k|.
NaN when the rows' weights sum to zero.

Parameters
----------
main, pair, pair_features, main_active, pair_active, intercept, y, w :
    as for train_epoch; nothing is changed.
rows : int64 array of row indices, not empty
logistic : bool
reg_clarity : float >= 0)";

// A bank's arrays, held for the epoch, and the kernel's view of them.
struct HeldBank {
    Bank bank;
    FloatArray inputs;
    DoubleArray fixed;
    kernels::EpochBank epoch;
};

void read_trained(const py::handle& value, const char* name, std::size_t rows, HeldBank& held) {
    const auto items = items_of(value, name);
    if (items.size() != 4)
        throw py::value_error(std::string(name) +
                              " must be (weights, biases, capped, inputs) or an array of outputs");
    read_weights(items[0], held.bank);
    read_biases(items[1], held.bank);
    read_capped(items[2], held.bank);
    auto& view = held.bank.view;
    const std::string inputs_name = std::string(name) + " inputs";
    held.inputs = checked_array<FloatArray>(items[3], inputs_name, "float32", 3);
    require_extent(held.inputs, 0, static_cast<py::ssize_t>(view.networks), inputs_name);
    require_extent(held.inputs, 1, static_cast<py::ssize_t>(rows), inputs_name);
    require_extent(held.inputs, 2, static_cast<py::ssize_t>(view.sizes[0]), inputs_name);
    for (auto& w : held.bank.weights) {
        require_writeable(w, std::string(name) + " weights");
        held.epoch.weights.push_back(w.mutable_data());
    }
    for (auto& b : held.bank.biases) {
        require_writeable(b, std::string(name) + " biases");
        held.epoch.biases.push_back(b.mutable_data());
    }
    held.epoch.inputs = held.inputs.data();
}

void read_bank(const py::handle& value, const char* name, std::size_t rows, HeldBank& held) {
    if (value.is_none() && std::string(name) == "pair") {
        // no pairs: a bank of no networks
    } else if (py::isinstance<py::array>(value)) {
        held.fixed = checked_array<DoubleArray>(value, name, "float64", 2);
        require_extent(held.fixed, 1, static_cast<py::ssize_t>(rows), name);
        held.bank.view.networks = static_cast<std::size_t>(held.fixed.shape(0));
        held.epoch.fixed = held.fixed.data();
    } else {
        read_trained(value, name, rows, held);
    }
    held.epoch.view = held.bank.view;
}

DoubleArray vector_of(const py::handle& value, const char* name, std::size_t size) {
    DoubleArray array = checked_array<DoubleArray>(value, name, "float64", 1);
    require_extent(array, 0, static_cast<py::ssize_t>(size), name);
    return array;
}

// A private copy of an int64 array whose entries lie in [0, limit).
template <py::ssize_t Ndim>
IntArray index_array(const py::handle& value, const char* name, std::size_t limit) {
    if (!IntArray::check_(value))
        throw py::value_error(std::string(name) + " must be a C-contiguous int64 numpy array");
    auto array = private_copy(py::reinterpret_borrow<IntArray>(value));
    if (array.ndim() != Ndim)
        throw py::value_error(std::string(name) + " must have " + std::to_string(Ndim) +
                              " dimensions, got " + std::to_string(array.ndim()));
    const std::int64_t* at = array.data();
    for (py::ssize_t i = 0; i < array.size(); ++i)
        if (at[i] < 0 || static_cast<std::size_t>(at[i]) >= limit)
            throw py::value_error(std::string(name) + " holds " + std::to_string(at[i]) +
                                  ", outside [0, " + std::to_string(limit) + ")");
    return array;
}

DoubleArray moment(const py::object& optimizer, const char* name, std::size_t size) {
    DoubleArray array = vector_of(optimizer.attr(name), name, size);
    require_writeable(array, name);
    return array;
}

std::int64_t step_count(const py::object& optimizer) {
    const long long t = PyLong_AsLongLong(py::object(optimizer.attr("t")).ptr());
    if (t == -1 && PyErr_Occurred())
        throw py::error_already_set();
    if (t < 0)
        throw py::value_error("the optimizer's step count t must not be negative");
    return t;
}

// The first eight arguments of both functions: the network and its data.
struct NetworkArgs {
    py::object main, pair, pair_features, main_active, pair_active, intercept, y, w;
};

// The network and its data, as the kernels read them. The intercept must be
// writeable when the call trains it.
struct Network {
    DoubleArray y, w, main_active, pair_active, intercept;
    HeldBank main, pair;
    IntArray pair_features;
    kernels::AdditiveTargets targets;
    kernels::AdditiveTerms terms;
};

void read_network(const NetworkArgs& args, bool logistic, double reg_clarity, bool trains,
                  Network& net) {
    net.y = checked_array<DoubleArray>(args.y, "y", "float64", 1);
    const auto rows = static_cast<std::size_t>(net.y.shape(0));
    net.w = vector_of(args.w, "w", rows);
    read_bank(args.main, "main", rows, net.main);
    read_bank(args.pair, "pair", rows, net.pair);
    const std::size_t p = net.main.epoch.networks(), q = net.pair.epoch.networks();
    net.pair_features = index_array<2>(args.pair_features, "pair_features", p);
    require_extent(net.pair_features, 0, static_cast<py::ssize_t>(q), "pair_features");
    require_extent(net.pair_features, 1, 2, "pair_features");
    net.main_active = vector_of(args.main_active, "main_active", p);
    net.pair_active = vector_of(args.pair_active, "pair_active", q);
    net.intercept = vector_of(args.intercept, "intercept", 1);
    if (trains)
        require_writeable(net.intercept, "intercept");
    net.targets = {net.y.data(), net.w.data(), rows, logistic};
    net.terms = {net.main_active.data(), net.pair_active.data(), net.pair_features.data(),
                 non_negative(reg_clarity, "reg_clarity"),
                 const_cast<double*>(net.intercept.data())};
}

void train_epoch(const py::object& main, const py::object& pair, const py::object& pair_features,
                 const py::object& main_active, const py::object& pair_active,
                 const py::object& intercept, const py::object& y, const py::object& w,
                 const py::object& order_arg, py::ssize_t batch_size_arg, bool logistic,
                 double reg_clarity, const py::object& optimizer) {
    Network net;
    read_network({main, pair, pair_features, main_active, pair_active, intercept, y, w}, logistic,
                 reg_clarity, true, net);
    const std::size_t rows = net.targets.rows;
    auto order = index_array<1>(order_arg, "order", rows);
    const std::size_t batch_size = positive_size(batch_size_arg, "batch_size");

    kernels::AdamState adam;
    const std::size_t parameters =
        net.main.epoch.parameter_count() + net.pair.epoch.parameter_count() + 1;
    DoubleArray m = moment(optimizer, "m", parameters);
    DoubleArray v = moment(optimizer, "v", parameters);
    adam.m = m.mutable_data();
    adam.v = v.mutable_data();
    adam.t = step_count(optimizer);
    adam.learning_rate = as_double(optimizer.attr("learning_rate"));
    adam.beta1 = as_double(optimizer.attr("beta1"));
    adam.beta2 = as_double(optimizer.attr("beta2"));
    adam.eps = as_double(optimizer.attr("eps"));

    {
        // Only the buffers of arrays held above are read and written; no Python
        // object is touched.
        py::gil_scoped_release release;
        kernels::train_additive_epoch(net.main.epoch, net.pair.epoch, net.targets, net.terms, adam,
                                      order.data(), static_cast<std::size_t>(order.size()),
                                      batch_size);
    }
    optimizer.attr("t") = py::int_(adam.t);
}

double additive_loss(const py::object& main, const py::object& pair,
                     const py::object& pair_features, const py::object& main_active,
                     const py::object& pair_active, const py::object& intercept,
                     const py::object& y, const py::object& w, const py::object& rows_arg,
                     bool logistic, double reg_clarity) {
    Network net;
    read_network({main, pair, pair_features, main_active, pair_active, intercept, y, w}, logistic,
                 reg_clarity, false, net);
    auto rows = index_array<1>(rows_arg, "rows", net.targets.rows);
    if (rows.size() == 0)
        throw py::value_error("rows must not be empty");
    double loss = 0.0;
    {
        py::gil_scoped_release release;
        loss = kernels::additive_loss(net.main.epoch, net.pair.epoch, net.targets, net.terms,
                                      rows.data(), static_cast<std::size_t>(rows.size()));
    }
    return loss;
}

} // namespace

void define_train_epoch(py::module_& module) {
    def_kernel(module, "train_epoch", train_epoch, kTrainEpochDoc, py::arg("main"), py::arg("pair"),
               py::arg("pair_features"), py::arg("main_active"), py::arg("pair_active"),
               py::arg("intercept"), py::arg("y"), py::arg("w"), py::arg("order"),
               py::arg("batch_size"), py::arg("logistic"), py::arg("reg_clarity"),
               py::arg("optimizer"));
    def_kernel(module, "additive_loss", additive_loss, kAdditiveLossDoc, py::arg("main"),
               py::arg("pair"), py::arg("pair_features"), py::arg("main_active"),
               py::arg("pair_active"), py::arg("intercept"), py::arg("y"), py::arg("w"),
               py::arg("rows"), py::arg("logistic"), py::arg("reg_clarity"));
}

} // namespace zeka::subnet
