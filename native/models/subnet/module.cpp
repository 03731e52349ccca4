// zeka.models._subnet: the training step of the model catalogue's small
// networks (forward and backward passes of a bank of ReLU networks, Adam, and
// a whole training epoch of an additive network and its loss).
#include "common/module.hpp"

#include "models/subnet/bank.hpp"

namespace zeka::subnet {

const char* const kModuleDoc =
    "Native training step of banks of small ReLU networks: forward and backward passes in "
    "single precision, the Adam update of their parameters, and a whole training epoch of an "
    "additive network of such banks, and its loss.";

} // namespace zeka::subnet

ZEKA_MODULE(_subnet, m) {
    m.doc() = zeka::subnet::kModuleDoc;
    zeka::subnet::define_bank_functions(m);
    zeka::subnet::define_adam_step(m);
    zeka::subnet::define_train_epoch(m);
}
