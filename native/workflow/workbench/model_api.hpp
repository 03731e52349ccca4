// Bodies of ModelAPI's methods, one declaration per method, grouped by the
// file that implements them. Each reads its bound arguments from the frame,
// `self` first, and the module's names through `Frame::global` at call time.
#pragma once

#include "common/function.hpp"

namespace zeka::workbench {

// model_api.cpp: the class itself and its small accessors.
py::object define_model_api(py::module_ m);
py::object init(Frame& f);          // __init__(self, dataset, model_list=None, model_item=None,
                                    //          highcode_mode=False)
py::object make_pipeline(Frame& f); // make_pipeline(self, estimator)
py::object get_model(Frame& f);     // get_model(self, name)

// preparation.cpp: configuration and catalogue models.
py::object model_config_setting(Frame& f); // model_config_setting(self, param_dict=None)
py::object model_prepare(Frame& f);        // model_prepare(self)

// registration.cpp: external models.
py::object register_model(Frame& f);    // register_model(self, pipeline=None, name=None,
                                        //                support_hpo=False)
py::object sklearn_is_fitted(Frame& f); // module-level __sklearn_is_fitted__()

// model_config.cpp
py::object get_model_config(Frame& f); // get_model_config(self, model)

// leaderboard.cpp
py::object get_leaderboard(Frame& f);            // get_leaderboard(self, rank_metric=None)
py::object get_leaderboard_registered(Frame& f); // get_leaderboard_registered(self,
                                                 //                            rank_metric=None)

// evaluation.cpp
py::object evaluate(Frame& f); // evaluate(self, pipeline)

// training.cpp
py::object singlerun(Frame& f); // singlerun(self, pipeline, name)

} // namespace zeka::workbench
