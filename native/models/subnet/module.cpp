// zeka.models._subnet: the training step of the model catalogue's small
// networks (forward and backward passes of a bank of ReLU networks, Adam).
#include "common/module.hpp"

#include "models/subnet/bank.hpp"

namespace zeka::subnet {

const char* const kModuleDoc =
    "Native training step of banks of small ReLU networks: forward and backward passes in "
    "single precision, and the Adam update of their parameters.";

} // namespace zeka::subnet

ZEKA_MODULE(_subnet, m) {
    m.doc() = zeka::subnet::kModuleDoc;
    zeka::subnet::define_bank_functions(m);
    zeka::subnet::define_adam_step(m);
}
