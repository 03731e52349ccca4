// Ranking the scores and selecting feature positions by a threshold.
#include "common/python_ops.hpp"
#include "data/variable_screen/feature_selection.hpp"

#include <string>

namespace zeka::variable_screen {

namespace {

bool equals(const py::handle& value, const char* text) {
    return truthy(compare(value, py::str(text), Py_EQ));
}

py::object absolute(const py::handle& value) {
    PyObject* result = PyNumber_Absolute(value.ptr());
    if (!result)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

} // namespace

py::object compute_feature_ind(Frame& f) {
    py::object self = f[0];
    py::object fi = f[1];
    py::setattr(self, "cut_point", py::int_(py::len(fi)));
    // Positions by score, highest first.
    py::object fi_ind =
        f.global("np").attr("argsort")(fi)[py::slice(py::none(), py::none(), py::int_(-1))];
    py::list selected;
    if (equals(f[2], "accumulated")) {
        py::object running = py::int_(0);
        for (py::handle i : fi_ind) {
            selected.append(i);
            running = add(running, fi[i]);
            if (truthy(compare(running, self.attr("threshold"), Py_GE))) {
                py::setattr(self, "cut_point", py::int_(py::len(selected)));
                break;
            }
        }
    } else if (equals(f[2], "absolute")) {
        const bool select_larger = truthy(f[3]);
        for (py::handle i : fi_ind) {
            const int op = select_larger ? Py_GT : Py_LT;
            if (truthy(compare(absolute(fi[i]), self.attr("threshold"), op)))
                selected.append(i);
        }
    }
    return std::move(selected);
}

py::object variable_screen(Frame& f) {
    py::object self = f[0];
    py::object method = self.attr("method");
    py::object fi, selected;
    if (equals(method, "pfi")) {
        fi = self.attr("_cal_pfi")();
        selected = self.attr("_compute_feature_ind")(fi, py::arg("method") = "accumulated");
    } else if (equals(method, "cor")) {
        fi = self.attr("_cal_corr")(py::arg("algorithm") = self.attr("algorithm"));
        selected = self.attr("_compute_feature_ind")(fi, py::arg("method") = "absolute");
    } else if (equals(method, "rit")) {
        fi = self.attr("_cal_rit")();
        selected = self.attr("_compute_feature_ind")(fi, py::arg("method") = "absolute",
                                                     py::arg("select_larger") = false);
    } else if (equals(method, "dcor")) {
        fi = self.attr("_cal_distcorr")();
        selected = self.attr("_compute_feature_ind")(fi, py::arg("method") = "absolute");
    }
    if (!fi)
        raise_unbound_local("fi");
    return py::make_tuple(fi, selected);
}

} // namespace zeka::variable_screen
