// The SciPy generator as help() shows it: the class's docstring and the
// names, parameters and docstrings of its methods and of the module's
// functions, beside the checks and texts of generator_checks.hpp.
#pragma once

#include "common/function_face.hpp"

namespace tarvok::scipy_emitter {

inline constexpr const char* kGeneratorDoc =
    "Generator of a SciPy script from a compiled Tarvok model.\n\n"
    "Construct it like the base, SciPyCodeGenerator(ast, data_dict), with `ast` the dict that\n"
    "TVLCompiler().compile_model(model_text, data_text) returns and `data_dict` its \"data\" entry (or\n"
    "None). The numbers come from tarvok.solver.instantiate on the texts the dict was compiled from\n"
    "(its \"source\" entry). The build steps fill the base's attributes in SciPy's standard form,\n"
    "minimize c @ x subject to A_ub @ x <= b_ub, A_eq @ x == b_eq and the bounds, ready for\n"
    "scipy.optimize.linprog or milp:\n\n"
    "  _build_variables    var_names (one name per column, 'ship[Aalborg][Copenhagen]'),\n"
    "                      var_indices (name -> column), bounds ((lower, upper) per column, None where\n"
    "                      there is none), integrality (1 for int and boolean columns, else 0), and\n"
    "                      tuple_types (tuple type name -> its field names)\n"
    "  _build_objective    c (per column; the negated costs when the model maximizes),\n"
    "                      objective_offset (the model's constant term) and objective_sense\n"
    "  _build_constraints  A_ub, b_ub, A_eq, b_eq and the row names ub_names, eq_names; a row written\n"
    "                      >= is negated and a range lo <= e <= hi gives the two rows e <= hi and\n"
    "                      -e <= -lo. A_ub and A_eq are numpy arrays of shape (rows, columns) while\n"
    "                      rows x columns stays within dense_limit, else scipy.sparse.csr_array.\n\n"
    "generate_code() runs the three steps and writes the script from these attributes with\n"
    "_add_code_line; write(path) writes it to a file. The script solves the program with\n"
    "scipy.optimize.milp and prints one JSON object (status, objective, values, message) in the shape\n"
    "`tarvok run --json` prints. Past inline_limit columns, rows or nonzeros its numbers go to an .npz\n"
    "file beside it (npz_arrays after generate_code).";

inline constexpr Face kLoadProgram{
    "_load_program", "self",
    "Return the tarvok.solver.Program the numbers come from, instantiating it on first use.\n\n"
    "It is made from the model and data texts of the compiled model's \"source\" entry by\n"
    "tarvok.solver.instantiate and kept in `program`. Raises SemanticError when the dict has no\n"
    "such entry, or when `data_dict` differs from the data the model was compiled with."};
inline constexpr Face kBuildVariables{
    "_build_variables", "self",
    "Fill var_names, var_indices, bounds, integrality and tuple_types, one entry per column."};
inline constexpr Face kBuildObjective{
    "_build_objective", "self", "Fill c (negated when the model maximizes), objective_offset and objective_sense."};
inline constexpr Face kBuildConstraints{"_build_constraints", "self",
                                        "Fill A_ub, b_ub, A_eq, b_eq, ub_names and eq_names in SciPy's standard form."};
inline constexpr Face kGenerateCode{
    "generate_code", "self",
    "Run the three build steps and return the script, written from their attributes.\n\n"
    "The lines go to scipy_code_lines through _add_code_line (after any lines already there; a\n"
    "second call replaces those of the first) and the whole buffer is returned as one text. When\n"
    "the numbers go to an .npz file, npz_arrays holds them; it is empty otherwise."};
inline constexpr Face kWrite{
    "write", "self, path",
    "Generate the script and write it to `path`; return the paths written.\n\n"
    "A large program's numbers go to the .npz file of the same name beside the file the script really\n"
    "is (a symbolic link is followed; the script loads it from there), written first.\n"
    "Each file is written whole or not at all (a new file in the same folder, flushed, then\n"
    "renamed over the old one). Raises OSError when a file cannot be written."};
inline constexpr Face kWriteProgramScript{
    "write_program_script", "program, path",
    "Write the SciPy script of a Program that is at hand; return the paths written.\n\n"
    "The script is the one write_script writes for the model the program was expanded from, without\n"
    "compiling it again (a Program from tarvok.solver.instantiate or a CompiledModel). Raises\n"
    "ValueError for a path ending in .npz and OSError when a file cannot be written."};
inline constexpr Face kWriteScript{
    "write_script", "model_text, data_text, path",
    "Compile a model with its data and write a SciPy script that solves it; return the paths written.\n\n"
    "Compiles with tarvok.tarvok_core.TVLCompiler, generates with SciPyCodeGenerator and writes with\n"
    "its write(). Raises SemanticError with the diagnostics when the model does not compile (nothing\n"
    "is written), ValueError for a path ending in .npz and OSError when a file cannot be written."};

}  // namespace tarvok::scipy_emitter
