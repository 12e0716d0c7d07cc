// Module settings replaced while a command runs and put back after it: the
// commands own their process, so they hand their options to the library
// through its module settings; library calls never do this.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace tarvok::host {

namespace py = pybind11;

/// Each `set` remembers the old value (or that there was none) and the
/// destructor puts them back in reverse order, removing again an attribute
/// that did not exist; an exception in flight is left as it was.
class ModuleSettings {
  public:
    ModuleSettings() = default;
    ModuleSettings(const ModuleSettings&) = delete;
    ModuleSettings& operator=(const ModuleSettings&) = delete;

    void set(py::object module, const char* name, py::object value) {
        Saved saved{module, name, py::none(), py::hasattr(module, name)};
        if (saved.existed) saved.value = module.attr(name);
        saved_.push_back(std::move(saved));
        module.attr(name) = value;
    }

    ~ModuleSettings() {
        py::error_scope keep;
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            int failed = it->existed ? PyObject_SetAttrString(it->module.ptr(), it->name.c_str(), it->value.ptr())
                                     : PyObject_DelAttrString(it->module.ptr(), it->name.c_str());
            if (failed) PyErr_Clear();  // nothing sensible to do while the command ends
        }
    }

  private:
    struct Saved {
        py::object module;
        std::string name;
        py::object value;
        bool existed;
    };
    std::vector<Saved> saved_;
};

}  // namespace tarvok::host
