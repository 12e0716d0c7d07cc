#include "bindings/host/modules.hpp"

#include <string>
#include <thread>

namespace tarvok::host {

namespace modules {
ModuleSlot semantic_error("semantic_error");
ModuleSlot tarvok_core("tarvok_core");
ModuleSlot solver("solver");
ModuleSlot tarvok_generative("tarvok_generative");
ModuleSlot example_ranker("example_ranker");
ModuleSlot scipy_emitter_base("scipy_emitter_base");
ModuleSlot scipy_emitter("scipy_emitter");
ModuleSlot evaluation("evaluation");
ModuleSlot language_server("language_server");
ModuleSlot mcp_server("mcp_server");
ModuleSlot web("web");
ModuleSlot cli("_cli");
}  // namespace modules

py::module_ ModuleSlot::get() const {
    // An import, not a look-up of a name: the module's start fills the slot,
    // and the host's import makes another thread wait until the start ends.
    if (!started_.load() && starter_.load() != std::this_thread::get_id())
        py::module_::import((std::string("tarvok.") + name_).c_str());
    if (module_ == nullptr) throw std::logic_error(std::string("the module ") + name_ + " did not record its slot");
    return py::reinterpret_borrow<py::module_>(module_);
}

}  // namespace tarvok::host
