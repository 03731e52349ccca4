// Plain Python classes whose methods are C++ functions.
//
// A class is made the way a `class` statement makes it: a namespace of
// functions and attributes is filled in order, then `type(name, bases,
// namespace)` creates the class. Instances are ordinary Python objects with a
// `__dict__`, so their state is their attributes.
#pragma once

#include "common/function.hpp"

namespace zeka {

class ClassBuilder {
  public:
    // A class to be defined in `module`, deriving from `bases` (`(object,)`
    // when empty).
    ClassBuilder(py::module_ module, std::string name, py::tuple bases = py::tuple(),
                 const char* doc = nullptr);

    // An instance method; `self` is prepended to `params`.
    ClassBuilder& method(const std::string& name, std::vector<Param> params, Body body,
                         const std::string& doc = "");
    // A method wrapped in `staticmethod`.
    ClassBuilder& static_method(const std::string& name, std::vector<Param> params, Body body,
                                const std::string& doc = "");
    ClassBuilder& attr(const std::string& name, py::object value);

    // Creates the class and binds it as a module attribute.
    py::object finish();

  private:
    py::module_ module_;
    std::string name_;
    py::tuple bases_;
    py::dict namespace_;
};

// A module-level function of `module`, bound as its attribute `name`.
py::object def_function(py::module_ module, const std::string& name, std::vector<Param> params,
                        Body body, const std::string& doc = "");

} // namespace zeka
