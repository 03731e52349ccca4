// Leaderboards: the score records as a ranked table of display strings.
#include "common/python_ops.hpp"
#include "workflow/workbench/model_api.hpp"

namespace zeka::workbench {

namespace {

// `df[key] = value` as a statement in a method performs it: the interpreter
// holds a reference to `df` on its stack meanwhile. pandas takes a frame with
// fewer references for a temporary and warns of chained assignment.
void set_item(const py::object& df, const py::handle& key, const py::handle& value) {
    py::object stack_reference = df;
    if (PyObject_SetItem(stack_reference.ptr(), key.ptr(), value.ptr()) < 0)
        throw py::error_already_set();
}

// The record keys of every scorer: the test scores, then the training scores.
py::list score_columns(const py::object& self) {
    py::list columns;
    for (const char* prefix : {"test_", "train_"})
        for (py::handle key : self.attr("dataset").attr("scoring").attr("keys")())
            columns.append(py::str(prefix) + py::reinterpret_borrow<py::object>(key));
    return columns;
}

// format(value, spec), which is what "{:<spec>}".format(value) computes.
py::object format_value(const py::handle& value, const char* spec) {
    PyObject* text = PyObject_Format(value.ptr(), py::str(spec).ptr());
    if (!text)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(text);
}

// One column to the list of its values, each with four decimals.
py::object format_scores(Frame& f) {
    py::list texts;
    for (py::handle value : f[0])
        texts.append(format_value(value, ".4f"));
    return std::move(texts);
}

// Steps shared by both tables, on the transposed records: name and time
// columns, fixed column order, optional ranking on the raw test score (the
// scorers' greater-is-better values), then each score in natural units.
py::object rank(const py::object& self, py::object df, const py::object& rank_metric) {
    set_item(df, py::str("Model"), df.attr("index"));
    set_item(df, py::str("Time"), df.attr("fit_time"));
    df = df.attr("reset_index")();

    py::list columns;
    columns.append("Model");
    for (py::handle column : score_columns(self))
        columns.append(column);
    columns.append("Time");
    df = df[columns];

    if (!rank_metric.is_none())
        df = df.attr("sort_values")(py::str("test_") + rank_metric, py::arg("ascending") = false);

    for (const char* prefix : {"test_", "train_"}) {
        for (py::handle item : self.attr("dataset").attr("scoring").attr("items")()) {
            std::vector<py::object> scorer = unpack(item, 2);
            py::object column = py::str(prefix) + scorer[0];
            py::object scores = df[column];
            set_item(df, column, scores * scorer[1].attr("_sign").cast<py::object>());
        }
    }
    return df;
}

// Scores with four decimals, times with one.
py::object format_table(const Frame& f, const py::object& self, py::object df) {
    py::list columns = score_columns(self);
    FunctionDef def{"format_scores",
                    "ModelAPI.get_leaderboard.<locals>.format_scores",
                    {arg("x")},
                    format_scores,
                    ""};
    py::object formatter = make_function(std::move(def), f.globals());
    set_item(df, columns, df[columns].attr("apply")(formatter));
    set_item(df, py::str("Time"),
             df[py::str("Time")].attr("apply")(py::str("{:.1f}").attr("format")));
    return df;
}

py::object records_frame(const Frame& f, const py::object& self) {
    return f.global("pd").attr("DataFrame")(self.attr("training_record")).attr("T");
}

} // namespace

py::object get_leaderboard(Frame& f) {
    py::object self = f[0];
    if (py::len(self.attr("training_record")) == 0)
        return py::none();
    py::object df = rank(self, records_frame(f, self), f[1]);
    return format_table(f, self, std::move(df));
}

py::object get_leaderboard_registered(Frame& f) {
    py::object self = f[0];
    py::list model_list;
    for (py::handle name : self.attr("registered_pipeline").attr("keys")())
        if (contains(self.attr("training_record"), name))
            model_list.append(name);
    if (model_list.empty())
        return py::none();

    py::object df = records_frame(f, self).attr("loc")[model_list];
    df = rank(self, std::move(df), f[1]);
    // Every row is registered: the filter renumbers the rows in ranked order.
    py::list registered(self.attr("registered_pipeline").attr("keys")());
    df = df[df.attr("Model").attr("isin")(registered)].attr("reset_index")(py::arg("drop") = true);
    return format_table(f, self, std::move(df));
}

} // namespace zeka::workbench
