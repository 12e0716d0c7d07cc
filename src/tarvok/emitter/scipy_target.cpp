// The SciPy target: a Python script that states the program in SciPy's
// standard form and solves it with scipy.optimize.milp.
#include "emitter/emitter.hpp"
#include "scipy_emitter/program_script.hpp"

namespace tarvok::emitter {

namespace {

class ScipyEmitter final : public Emitter {
  public:
    ScipyEmitter() : Emitter("scipy", ".py", "a Python script that solves the model with SciPy") {}
    Emitted emit(const solver::Program& program) const override {
        scipy_emitter::Script script = scipy_emitter::render_script(scipy_emitter::program_script_input(program));
        Emitted out;
        out.text = scipy_emitter::script_text(script);
        out.arrays = std::move(script.arrays);
        return out;
    }
};

}  // namespace

const Emitter& scipy_target() {
    static const ScipyEmitter target;
    return target;
}

}  // namespace tarvok::emitter
