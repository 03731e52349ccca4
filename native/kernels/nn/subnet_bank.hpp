// Forward and backward passes of a bank of small ReLU networks in single
// precision.
//
// A bank holds `networks` independent networks of the same layer sizes
// (sizes[0] inputs, hidden layers, sizes.back() == 1 output), each evaluated on
// its own `rows` input rows. Every array is C-ordered with the network as its
// leading axis: the weights of layer l
// (networks, sizes[l], sizes[l + 1]), its biases (networks, 1, sizes[l + 1]).
// Inputs and hidden activations are unit-major, rows last: inputs (networks,
// sizes[0], rows), the activations after layer l (networks, sizes[l + 1],
// rows), so that every inner loop runs along the rows, as long as the batch,
// whatever the layer widths. A capped network's hidden units saturate at one:
// min(max(z, 0), 1).
#pragma once

#include <cstddef>
#include <vector>

namespace zeka::kernels {

struct SubnetBankView {
    std::size_t networks = 0;
    std::size_t rows = 0;
    std::vector<std::size_t> sizes;        // layer widths, input first, output (1) last
    std::vector<const float*> weights;     // one per layer
    std::vector<const float*> biases;      // one per layer
    const unsigned char* capped = nullptr; // per network, nonzero: capped
    std::size_t layers() const { return weights.size(); }
};

// Writes the hidden activations (one buffer per hidden layer) and the outputs
// (networks, rows), the last layer's value widened to double.
void subnet_forward(const SubnetBankView& bank, const float* inputs,
                    const std::vector<float*>& hidden, double* outputs);

// Gradients of sum(d_outputs * outputs) with respect to every layer's weights
// and biases, written to grad_weights[l] and grad_biases[l] (shaped like the
// parameters), from the inputs and the hidden activations of the forward pass.
// Sums over rows are accumulated in single precision, in eight interleaved
// partial sums.
void subnet_backward(const SubnetBankView& bank, const float* inputs,
                     const std::vector<const float*>& hidden, const double* d_outputs,
                     const std::vector<float*>& grad_weights,
                     const std::vector<float*>& grad_biases);

} // namespace zeka::kernels
