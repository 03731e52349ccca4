#include "common/python_class.hpp"

namespace zeka {

ClassBuilder::ClassBuilder(py::module_ module, std::string name, py::tuple bases, const char* doc)
    : module_(std::move(module)), name_(std::move(name)), bases_(std::move(bases)) {
    if (bases_.empty())
        bases_ = py::make_tuple(py::module_::import("builtins").attr("object"));
    namespace_["__module__"] = module_.attr("__name__");
    namespace_["__qualname__"] = name_;
    if (doc)
        namespace_["__doc__"] = doc;
}

ClassBuilder& ClassBuilder::method(const std::string& name, std::vector<Param> params, Body body,
                                   const std::string& doc) {
    params.insert(params.begin(), arg("self"));
    FunctionDef def{name, name_ + "." + name, std::move(params), body, doc};
    namespace_[name.c_str()] = make_function(std::move(def), module_.attr("__dict__"));
    return *this;
}

ClassBuilder& ClassBuilder::static_method(const std::string& name, std::vector<Param> params,
                                          Body body, const std::string& doc) {
    FunctionDef def{name, name_ + "." + name, std::move(params), body, doc};
    py::object function = make_function(std::move(def), module_.attr("__dict__"));
    namespace_[name.c_str()] = py::module_::import("builtins").attr("staticmethod")(function);
    return *this;
}

ClassBuilder& ClassBuilder::attr(const std::string& name, py::object value) {
    namespace_[name.c_str()] = std::move(value);
    return *this;
}

py::object ClassBuilder::finish() {
    py::object type = py::module_::import("builtins").attr("type");
    py::object cls = type(name_, bases_, namespace_);
    module_.attr(name_.c_str()) = cls;
    return cls;
}

py::object def_function(py::module_ module, const std::string& name, std::vector<Param> params,
                        Body body, const std::string& doc) {
    FunctionDef def{name, name, std::move(params), body, doc};
    py::object function = make_function(std::move(def), module.attr("__dict__"));
    module.attr(name.c_str()) = function;
    return function;
}

} // namespace zeka
