// Python-level functions whose bodies are C++.
//
// A `Function` behaves like a function written in Python: it binds its
// arguments by name and position with Python's own error messages, binds to
// instances when stored on a class, and carries `__name__`, `__qualname__`,
// `__module__`, `__doc__`, `__dict__` and an `inspect.Signature`.  Its body is
// a plain function pointer; everything the body needs at call time comes from
// the frame: the module namespace it was defined in (read when it runs, as
// Python's globals are) and a closure tuple for functions made inside another
// function.  Keeping all state in Python objects lets the garbage collector
// see it.
//
// The binding of arguments is argument_binding.cpp; the CPython type and the
// making of instances, function_type.cpp.
#pragma once

#include <pybind11/pybind11.h>
#include <string>
#include <vector>

namespace zeka {

namespace py = pybind11;

enum class ParamKind { PositionalOrKeyword, VarPositional, KeywordOnly, VarKeyword };

struct Param {
    std::string name;
    py::object default_value; // empty handle: the argument is required
    ParamKind kind = ParamKind::PositionalOrKeyword;

    bool required() const { return !default_value; }
};

// Parameter shorthands: `arg("x")`, `arg("x", py::none())`, `star_args("args")`,
// `keyword_only("k", value)`, `star_kwargs("kwargs")`.
Param arg(std::string name);
Param arg(std::string name, py::object default_value);
Param star_args(std::string name);
Param keyword_only(std::string name);
Param keyword_only(std::string name, py::object default_value);
Param star_kwargs(std::string name);

class Frame {
  public:
    Frame(py::dict globals, py::tuple closure, std::vector<py::object> args);

    // The bound argument at parameter position `i`: a tuple for `*args`, a
    // dict for `**kwargs`.
    py::object& operator[](size_t i) { return args_[i]; }
    size_t size() const { return args_.size(); }

    // A module-level name, looked up now in the defining module's namespace
    // and then in builtins; NameError when neither has it.
    py::object global(const char* name) const;
    const py::dict& globals() const { return globals_; }

    // Item `i` of the closure the function was made with.
    py::object captured(size_t i) const { return closure_[i]; }

  private:
    py::dict globals_;
    py::tuple closure_;
    std::vector<py::object> args_;
};

using Body = py::object (*)(Frame&);

struct FunctionDef {
    std::string name;
    std::string qualname; // defaults to `name`
    std::vector<Param> params;
    Body body = nullptr;
    std::string doc;
};

// A new function object defined in the module whose namespace is `globals`.
py::object make_function(FunctionDef def, py::dict globals, py::tuple closure = py::tuple());

// The function object's type (created once per extension module).
PyTypeObject* function_type();

} // namespace zeka
