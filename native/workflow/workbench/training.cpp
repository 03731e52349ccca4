// Training one pipeline: fit, time, score and file it under a name.
#include "common/python_ops.hpp"
#include "workflow/workbench/model_api.hpp"

namespace zeka::workbench {

py::object singlerun(Frame& f) {
    py::object self = f[0];
    py::object pipeline = f[1];
    py::object name = f[2];
    // Wall-clock time of fetching the raw training data and fitting.
    py::object st_time = f.global("time").attr("time")();
    std::vector<py::object> train =
        unpack(pipeline.attr("get_raw_data")(py::arg("train") = true), 3);
    pipeline.attr("fit")(train[0], train[1], train[2]);
    py::object fitting_time = f.global("time").attr("time")() - st_time;

    py::object record = self.attr("evaluate")(pipeline);
    record[py::str("fit_time")] = fitting_time;
    self.attr("training_record")[name] = record;
    self.attr("custom_model_dict")[name] = pipeline;
    return py::none();
}

} // namespace zeka::workbench
