// Scoring a fitted pipeline with every scorer of the dataset.
#include "common/python_ops.hpp"
#include "workflow/workbench/model_api.hpp"

namespace zeka::workbench {

namespace {

// Adds prefix + name for each scorer, in the scoring's order. The estimator
// and the scorers are read afresh for every score, as the loop in Python would.
void score_split(const py::object& self, const py::object& pipeline, const char* prefix,
                 const std::vector<py::object>& split, py::dict& record) {
    for (py::handle item : self.attr("dataset").attr("scoring").attr("items")()) {
        std::vector<py::object> scorer = unpack(item, 2);
        record[py::str(prefix) + scorer[0]] =
            scorer[1](py::arg("estimator") = pipeline.attr("estimator"), py::arg("X") = split[0],
                      py::arg("y_true") = split[1], py::arg("sample_weight") = split[2]);
    }
}

} // namespace

py::object evaluate(Frame& f) {
    py::object self = f[0];
    py::object pipeline = f[1];
    py::dict record;
    // Both splits are fetched before anything is scored.
    std::vector<py::object> train = unpack(pipeline.attr("get_data")(py::arg("train") = true), 3);
    std::vector<py::object> test = unpack(pipeline.attr("get_data")(py::arg("test") = true), 3);
    score_split(self, pipeline, "test_", test, record);
    score_split(self, pipeline, "train_", train, record);
    return std::move(record);
}

} // namespace zeka::workbench
