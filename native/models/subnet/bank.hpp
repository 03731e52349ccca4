// The functions of zeka.models._subnet, and the reading of a bank's arrays
// that they share.
#pragma once

#include "kernels/nn/subnet_bank.hpp"
#include "models/subnet/arrays.hpp"

#include <pybind11/pybind11.h>
#include <string>
#include <vector>

namespace zeka::subnet {

namespace py = pybind11;

extern const char* const kModuleDoc;

// The arrays of a bank (kept alive here) and the kernel's view of them.
struct Bank {
    std::vector<FloatArray> weights, biases;
    BoolArray capped;
    kernels::SubnetBankView view;
};

// "list[index]", naming an item in a message.
std::string item_name(const char* list, std::size_t index);

// The layers' weights, with the layer sizes and network count they imply.
void read_weights(const py::handle& value, Bank& bank);

// The layers' biases, one per layer of weights read before.
void read_biases(const py::handle& value, Bank& bank);

// The per-network cap flags, one per network of the weights read before.
void read_capped(const py::handle& value, Bank& bank);

// Binds `forward` and `backward` of a bank of ReLU networks.
void define_bank_functions(py::module_& module);

// Binds `adam_step`.
void define_adam_step(py::module_& module);

// Binds `train_epoch` and `additive_loss`.
void define_train_epoch(py::module_& module);

} // namespace zeka::subnet
