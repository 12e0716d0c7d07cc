"""tarvok.scipy_emitter and `tarvok emit`: the standard form a generator fills,
the scripts it writes (run in a subprocess and checked against tarvok.solver or
against optima worked out by hand), subclass overrides, refusals and files
written whole or not at all."""

import inspect
import json
import os
import pathlib
import runpy
import subprocess
import sys

import pytest

np = pytest.importorskip("numpy")
pytest.importorskip("scipy.optimize")
solver = pytest.importorskip("tarvok.solver")
from workflow_fakes import stand_in_llm  # noqa: E402

import tarvok.scipy_emitter as emitter  # noqa: E402
from tarvok import _cli  # noqa: E402
from tarvok.scipy_emitter import SciPyCodeGenerator  # noqa: E402
from tarvok.scipy_emitter_base import SciPyCodeGeneratorBase  # noqa: E402
from tarvok.semantic_error import SemanticError  # noqa: E402
from tarvok.tarvok_core import TVLCompiler  # noqa: E402

EXAMPLES = pathlib.Path(solver.__file__).parent / "tvl_models"

# maximize 3x + 2y + 7 with x + 2y == 3, 1 <= x + y <= 4, x - y >= -2, x <= 3, y integer in 0..5.
# From the equation x = 3 - 2y: y = 0 gives x = 3 (all rows hold) and 16; y = 1 gives x = 1 and 12;
# y = 2 gives x = -1, where x - y = -3 breaks g. The optimum is 16 at (3, 0).
HAND = """tuple Arc { string a; string b; }
dvar float x;
dvar int y in 0..5;
maximize profit: 3 * x + 2 * y + 7;
subject to {
  r: 1 <= x + y <= 4;
  g: x - y >= -2;
  e: x + 2 * y == 3;
  x <= 3;
}
"""


def compiled(model, data=""):
    return TVLCompiler().compile_model(model, data)


def generator(model, data="", cls=SciPyCodeGenerator):
    ast = compiled(model, data)
    return cls(ast, ast["data"])


def run_script(path):
    done = subprocess.run([sys.executable, str(path)], capture_output=True, text=True, timeout=300)
    assert done.stdout, done.stderr
    return done.returncode, json.loads(done.stdout)


def emit_and_run(tmp_path, model, data="", name="model.py"):
    paths = emitter.write_script(model, data, tmp_path / name)
    return paths, *run_script(tmp_path / name)


def example(name):
    folder = EXAMPLES / name
    return (folder / f"{name}.mod").read_text(), (folder / f"{name}.dat").read_text()


# --------------------------------------------------------------- the generator


class TestGenerator:
    def test_class_face(self):
        assert issubclass(SciPyCodeGenerator, SciPyCodeGeneratorBase)
        assert SciPyCodeGenerator.__doc__.startswith("Generator of a SciPy script from a compiled Tarvok model.")
        assert str(inspect.signature(SciPyCodeGenerator)) == "(ast, data_dict=None)"
        assert str(inspect.signature(emitter.write_script)) == "(model_text, data_text, path)"
        assert str(inspect.signature(SciPyCodeGenerator.write)) == "(self, path)"
        assert emitter.SemanticError is SemanticError
        probe = "import sys, tarvok.scipy_emitter; print([m for m in ('numpy', 'scipy') if m in sys.modules])"
        imported = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, timeout=60)
        assert imported.stdout == "[]\n"  # numpy and scipy only when a program needs them

    def test_standard_form_of_a_small_model_by_hand(self):
        g = generator(HAND)
        assert g.generate_code().startswith("#!/usr/bin/env python3\n")
        assert (g.var_names, g.var_indices) == (["x", "y"], {"x": 0, "y": 1})
        assert (g.bounds, g.integrality) == ([(None, 3.0), (0.0, 5.0)], [0, 1])  # x <= 3 became a bound
        assert (g.c, g.objective_offset, g.objective_sense) == ([-3.0, -2.0], 7.0, "maximize")
        # r's upper side, r's lower side negated, g negated; the equation on its own.
        assert g.A_ub.tolist() == [[1.0, 1.0], [-1.0, -1.0], [-1.0, 1.0]] and g.b_ub == [4.0, -1.0, 2.0]
        assert (g.A_eq.tolist(), g.b_eq) == ([[1.0, 2.0]], [3.0])
        assert (g.ub_names, g.eq_names) == (["r", "r", "g"], ["e"])
        assert g.tuple_types == {"Arc": ("a", "b")}
        assert g.npz_arrays == {} and isinstance(g.program, solver.Program)
        # The attributes are SciPy's own form: linprog on the relaxation reaches (3, 0) too.
        from scipy.optimize import linprog

        relaxed = linprog(g.c, A_ub=g.A_ub, b_ub=g.b_ub, A_eq=g.A_eq, b_eq=g.b_eq, bounds=g.bounds)
        assert relaxed.x == pytest.approx([3, 0])

    def test_script_of_the_small_model_reaches_the_hand_optimum(self, tmp_path):
        paths, status, result = emit_and_run(tmp_path, HAND)
        assert paths == [str(tmp_path / "model.py")]
        assert status == 0
        assert result == {"status": "optimal", "objective": 16.0, "values": {"x": 3.0, "y": 0}, "message": None}
        text = (tmp_path / "model.py").read_text()
        assert '("r", {0: 1, 1: 1}, 4),' in text and '("r", {0: -1, 1: -1}, -1),' in text
        assert "# r, model line 6: r: 1 <= x + y <= 4;" in text
        assert "maximize profit (model line 4)" in text and "became part of its bounds" in text

    def test_large_programs_go_sparse_and_to_an_npz_beside_the_script(self, tmp_path):
        model, data = example("transportation")
        small = generator(model, data)
        small.generate_code()

        class Large(SciPyCodeGenerator):
            inline_limit = 10
            dense_limit = 0

        large = generator(model, data, Large)
        paths = large.write(tmp_path / "large.py")
        assert paths == [str(tmp_path / "large.py"), str(tmp_path / "large.npz")]
        assert type(large.A_ub).__name__ == "csr_array"
        assert large.A_ub.toarray().tolist() == small.A_ub.tolist() and large.b_ub == small.b_ub
        assert large.A_eq.shape == small.A_eq.shape == (0, 12)
        assert sorted(large.npz_arrays) == sorted(np.load(tmp_path / "large.npz").files)
        text = (tmp_path / "large.py").read_text()
        assert "COLUMNS" not in text and "ship[" not in text
        small_path = tmp_path / "small.py"
        small.write(small_path)
        assert run_script(tmp_path / "large.py") == run_script(small_path)
        # The script finds its numbers from any working directory, and still has the names.
        names = subprocess.run(
            [
                sys.executable,
                "-c",
                "import runpy, sys; ns = runpy.run_path(sys.argv[1]);"
                "print(ns['names']('column')[11], ns['names']('ub')[3])",
                str(tmp_path / "large.py"),
            ],
            capture_output=True,
            text=True,
            cwd="/",
            timeout=120,
        )
        assert names.stdout.split() == ["ship[Odense][Randers]", "warehouseNeed[Copenhagen]"]

    def test_names_survive_as_python_literals(self, tmp_path):
        model = "{string} Towns = ...;\ndvar float+ visit[Towns] in 0..1;\nmaximize sum(t in Towns) visit[t];"
        data = 'Towns = {"New \\"York\\"", "back\\\\slash", "tab\\tnew\\nline", "Ærø \u202eltr", "x]["};'
        g = generator(model, data)
        path = tmp_path / "names.py"
        g.write(path)
        namespace = runpy.run_path(str(path))
        assert namespace["names"]("column") == g.var_names
        assert g.var_names[0] == 'visit[New "York"]' and "\u202e" in g.var_names[3]
        assert "\u202e" not in path.read_text()  # spelled \u202e, so the file reads as it runs

    def test_steps_share_one_program_kept_on_the_instance(self):
        g = generator(HAND)
        g._build_objective()
        program = g.program
        g._build_variables()
        assert isinstance(program, solver.Program) and g.program is program

        g = generator(HAND)
        g.program = "not a program"
        with pytest.raises(TypeError, match="must return a tarvok.solver.Program, not str"):
            g._build_variables()


class TestRefusals:
    def test_a_dict_without_its_source_texts(self):
        ast = compiled(HAND)
        del ast["source"]
        with pytest.raises(SemanticError, match='compiled model has no "source" entry'):
            SciPyCodeGenerator(ast, ast["data"]).generate_code()
        with pytest.raises(SemanticError, match='no "source" entry'):
            SciPyCodeGenerator({"declarations": []})._build_variables()

    def test_data_dict_must_be_the_compiled_data(self):
        model, data = example("transportation")
        ast = compiled(model, data)
        for accepted in (None, {}, ast["data"], json.loads(json.dumps(ast["data"]))):
            SciPyCodeGenerator(ast, accepted)._build_objective()
        changed = dict(ast["data"], capacity=[1.0, 2.0, 3.0], extra=1)
        with pytest.raises(
            SemanticError,
            match=r"differs from the data the model was compiled with "
            r"\(in 'capacity', 'extra'\)",
        ):
            SciPyCodeGenerator(ast, changed)._build_objective()

    def test_data_faults_found_while_expanding(self):
        ast = compiled("float h = 1e19;\ndvar float x;\nminimize h * h * x;")
        with pytest.raises(SemanticError, match="model:3:10: the coefficient of 'x'"):
            SciPyCodeGenerator(ast, ast["data"]).generate_code()


# ---------------------------------------------------------- subclass overrides


class TestOverrides:
    def test_helpers_of_the_base_take_effect(self, tmp_path):
        calls = []

        class Tabs(SciPyCodeGenerator):
            def _indent(self):
                return "\t" * self.indent_level

            def _add_code_line(self, line):
                calls.append(self.indent_level)
                super()._add_code_line(line)

        g = generator(HAND, cls=Tabs)
        g.indent_level = 0
        text = g.generate_code()
        assert "\n\tconstraints = []\n\tif A_ub.shape[0]:\n\t\tconstraints.append(" in text
        assert len(calls) == len(g.scipy_code_lines) and max(calls) >= 2 and g.indent_level == 0
        path = tmp_path / "tabs.py"
        path.write_text(text)
        assert run_script(path)[1]["objective"] == 16.0

    def test_lookups_and_error_builders_are_the_instances(self):
        class Hidden(SciPyCodeGenerator):
            def find_declaration(self, name, decl_type=None):
                return None if name == "y" else super().find_declaration(name, decl_type)

        with pytest.raises(SemanticError, match="declares no decision variable 'y'"):
            generator(HAND, cls=Hidden)._build_variables()

        class Strict(SciPyCodeGenerator):
            @staticmethod
            def _unsupported_operator_error(context, op):
                return ValueError(f"no {op} in a {context}")

        ast = compiled(HAND)
        ast["constraints"][1]["operator"] = "!="
        with pytest.raises(ValueError, match="no != in a constraint"):
            Strict(ast)._build_constraints()
        ast["declarations"][1]["value_type"] = "complex"
        with pytest.raises(SemanticError, match="Unsupported variable type: complex"):
            SciPyCodeGenerator(ast)._build_variables()

    def test_overridden_steps_change_the_script(self, tmp_path):
        class WithCut(SciPyCodeGenerator):
            def _build_constraints(self):
                super()._build_constraints()
                self.A_ub = self.A_ub.tolist() + [[0.0, -1.0]]  # y >= 1, as a list of rows
                self.b_ub.append(-1.0)
                self.ub_names.append("cut")

        g = generator(HAND, cls=WithCut)
        g.scipy_code_lines.append("# reviewed by hand")
        first = g.generate_code()
        assert g.generate_code() == first  # a second run replaces the first one's lines
        assert first.startswith("# reviewed by hand\n#!/usr/bin/env python3\n") and '("cut", {1: -1}, -1),' in first
        path = tmp_path / "cut.py"
        path.write_text(first)
        # With y >= 1 the hand enumeration leaves y = 1, x = 1: 3 + 2 + 7 = 12.
        assert run_script(path)[1]["values"] == {"x": 1.0, "y": 1}


def spoiled(**changes):
    """A generator of HAND whose attributes get `changes` (values, or functions of the instance) after the build."""

    class Spoiled(SciPyCodeGenerator):
        def _build_constraints(self):
            super()._build_constraints()
            for name, value in changes.items():
                setattr(self, name, value(self) if callable(value) else value)

    return generator(HAND, cls=Spoiled)


class LongerThanItHolds(list):
    def __len__(self):
        return 5


class TestChangedAttributes:
    @pytest.mark.parametrize(
        "changes, kind, message",
        [
            ({"c": [1.0, 2.0, 3.0]}, ValueError, "c has 3 entries; var_names has 2"),
            ({"integrality": [0]}, ValueError, "integrality has 1 entries; var_names has 2"),
            ({"bounds": [(0, 1), (0, 1, 2)]}, ValueError, r"bounds\[1\] is not a \(lower, upper\) pair"),
            ({"bounds": [(0, 1), 5]}, TypeError, "bounds"),
            ({"var_names": ["x", 2]}, TypeError, "var_names must hold str, not int"),
            (
                {"var_names": lambda g: LongerThanItHolds(g.var_names)},
                ValueError,
                "var_names has 2 entries; var_names has 5",
            ),
            ({"ub_names": ["r", "r", 3]}, TypeError, "ub_names must hold str, not int"),
            ({"b_ub": [4.0]}, ValueError, "b_ub has 1 entries"),
            ({"c": [1.0, "two"]}, TypeError, "must be real number, not str"),
            ({"inline_limit": "10"}, TypeError, "^inline_limit must be an int, not str$"),
            ({"inline_limit": -1}, ValueError, "^inline_limit must be at least 0, not -1$"),
            ({"A_ub": [[1.0, 1.0, 0.0]], "b_ub": [4.0], "ub_names": ["r"]}, ValueError, "A_ub has 3 columns"),
            ({"A_eq": lambda g: g.A_eq[0]}, ValueError, "A_eq must have two dimensions, not 1"),
            ({"A_eq": lambda g: np.ones((1, 3))}, ValueError, "A_eq has 3 columns; var_names has 2"),
            (
                {"var_names": ["x"], "bounds": [(0, 1)], "integrality": [0], "c": [1.0]},
                ValueError,
                "A_ub has 2 columns",
            ),
        ],
    )
    def test_faults_are_named(self, changes, kind, message):
        with pytest.raises(kind, match=message):
            spoiled(**changes).generate_code()

    def test_changes_in_any_form_reach_the_script(self, tmp_path):
        from scipy.sparse import csr_array

        # y <= 0 as a sparse row, x free below, and the objective turned to minimizing x + y.
        g = spoiled(
            A_ub=lambda g: csr_array(np.vstack([g.A_ub, [[0.0, 1.0]]])),
            b_ub=lambda g: g.b_ub + [0.0],
            ub_names=lambda g: g.ub_names + ["cap"],
            bounds=[(None, None), (0, 5)],
            objective_sense="minimize",
            c=[1.0, 1.0],
            objective_offset=0,
        )
        path = tmp_path / "changed.py"
        path.write_text(g.generate_code())
        # y = 0 leaves x = 3 from the equation: objective 3.
        assert run_script(path)[1]["objective"] == 3.0 and '("cap", {1: 1}, 0),' in path.read_text()


# ------------------------------------------------ scripts against tarvok.solver

OUTCOMES = {
    "infeasible": "dvar float+ x;\ndvar float+ y;\nminimize x;\nsubject to {\n  x + y <= 1;\n  x + y >= 2;\n}",
    "unbounded": "dvar float x;\ndvar float y;\nmaximize x + y;\nsubject to {\n  x - y <= 1;\n}",
    "integer_infeasible": "dvar int k;\ndvar float y;\nminimize y;\nsubject to {\n  2 * k - y == 1;\n  y == 0;\n}",
    "false_constant": "int n = 3;\ndvar float x;\nminimize x;\nsubject to {\n  forall(i in 1..2) ok: i * n - x + x >= 4;\n}",
    "crossed_bounds": "dvar float x in 0..5;\nminimize x;\nsubject to {\n  x >= 7;\n}",
    "no_columns": "float k = 2.5;\nminimize 2 * k;",
    "empty_set": "{string} None = {};\ndvar float x[None];\ndvar int+ unused;\ndexpr float d = 4 + 0 * unused;\nminimize 1;",
    # m is 1..10 as an integer, and -1.5 m - 2 >= -17 holds up to m = 10: -10.
    "fractional_integer_bounds": "dvar int m in 0.5..10.5;\ndvar int k in -2..-2;\nminimize -m;\n"
    "subject to {\n  -1.5*m + k >= -17;\n}",
    # m is 4 as an integer, so b = 1 makes b + m >= 5 hold.
    "feasible_only_after_rounding": "dvar int b in 0..1;\ndvar int m in 3.6..4.5;\nsubject to {\n  b + m >= 5;\n}",
    "crossing_sides": "dvar float x in 0..10;\ndvar float y in 0..10;\nsubject to {\n  5 <= x + y <= 3;\n}",
    "unbounded_integer": "dvar int x;\ndvar int y;\nmaximize x + y;\nsubject to {\n  x - y <= 0.5;\n}",
    "unbounded_mixed": "dvar int x in 0..5;\ndvar float y;\nminimize y;\nsubject to {\n  y - x <= 2;\n}",
}


@pytest.mark.parametrize("case", sorted(OUTCOMES))
def test_outcomes_match_the_solver(case, tmp_path):
    _, status, result = emit_and_run(tmp_path, OUTCOMES[case])
    expected = solver.solve_model(OUTCOMES[case], "").to_dict(nested=True)
    assert result == {key: expected[key] for key in ("status", "objective", "values", "message")}
    assert status == (0 if expected["status"] == "optimal" else 3)


# Models on which milp alone gives a wrong status (found by fuzz/difftest.py); each is unbounded.
MILP_SLIPS = {
    "presolve_calls_an_unbounded_lp_infeasible": (
        "int n = ...;\nrange I = 1..n;\n{string} S = ...;\ntuple Pair { string s; int k; float w; }\n{Pair} T = ...;\nfloat p[I] = ...;\nfloat q[S] = ...;\ndvar float+ v0[I];\ndvar float+ v1[I];\nminimize 2 * v1[2] + 1.5 * v1[2] + sum(i in I) p[i] * v0[i] + sum(i in I) p[i] * v1[i];\nsubject to {\n  r0: 5 <= 1.5 * v1[3] + 0.5 * v1[2] + (-1) * v0[3] <= 6;\n}\n",
        'n = 3;\nS = {"a", "b", "c"};\nT = {<"a", 1, 2.0>, <"b", 2, 0.5>, <"c", 3, 1.0>};\np = [1.5, 4.7, -0.30000000000000004];\nq = [1.5, 0.0, 2.25];\n',
    ),
    "unbounded_mip_called_infeasible": (
        "int n = ...;\nrange I = 1..n;\n{string} S = ...;\ntuple Pair { string s; int k; float w; }\n{Pair} T = ...;\nfloat p[I] = ...;\nfloat q[S] = ...;\ndvar int v0[I];\nmaximize 0 * v0[2] + sum(i in I) p[i] * v0[i] + (-1);\nsubject to {\n  forall(i in I: i != 1) 2 * v0[1] + (-1) * v0[1] + 2 * v0[3] + 0.5 * v0[i] >= 3 + p[i];\n  (-2.5) <= 0.5 * v0[1] + (-3) * v0[2] + (-3) * v0[2] + 1 * v0[3] <= (-1.5);\n  1.5 * v0[3] + 1.5 * v0[3] + 0 * v0[1] + (-2.5) <= 0.5 * v0[2] + 0;\n}\n",
        'n = 3;\nS = {"a", "b", "c"};\nT = {<"b", 2, -2>, <"c", 3, 5>};\np = [5.7, 4, 0];\nq = [0.5, -1, -1.8];\n',
    ),
    "unbounded_mip_called_optimal": (
        "int n = ...;\nrange I = 1..n;\n{string} S = ...;\ntuple Pair { string s; int k; float w; }\n{Pair} T = ...;\nfloat p[I] = ...;\nfloat q[S] = ...;\ndvar float v0;\ndvar float v1[I];\ndvar float+ v2[I];\ndvar int v3 in (-0.5)..2;\nminimize 1 * v2[2] + sum(i in I) p[i] * v1[i];\nsubject to {\n  2 <= 1.5 * v1[3] + 2 * v1[1] + 2 * v1[1] + (-1) * v1[2] <= 3;\n}\n",
        'n = 3;\nS = {"a"};\nT = {<"a", 1, 1>};\np = [-2.5, -1.5, 5];\nq = [3];\n',
    ),
}


# A model on which milp fails in its presolve ("Solve error"); it is infeasible: 1.5 a + 2 b + 3 c = 2.5 has no
# solution in non-negative integers.
PRESOLVE_ERROR = (
    "int n = ...;\nrange I = 1..n;\n{string} S = ...;\nfloat p[I] = ...;\nfloat q[S] = ...;\ndvar boolean v0;\n"
    "dvar int+ v1[S];\ndvar int+ v2[I];\ndvar int+ v3;\nmaximize 2 * v3;\nsubject to {\n"
    "  forall(i in I: i != 2) 1 * v2[i] <= 2 + p[i];\n  forall(s in S) 0.5 * v3 + 0.5 * v1[s] <= 2 + q[s];\n"
    '  1.5 * v1["a"] + 0 * v0 + 2 * v2[2] + 2 == (-3) * v3 + 4.5;\n}\n',
    'n = 2;\nS = {"a", "b", "c"};\np = [1.5, 4];\nq = [1.0, 2, 5.25];\n',
)


def test_a_solver_error_is_settled_by_one_more_solve(tmp_path):
    _, status, result = emit_and_run(tmp_path, *PRESOLVE_ERROR)
    assert solver.solve_model(*PRESOLVE_ERROR).status is solver.Status.INFEASIBLE
    assert (status, result["status"], result["objective"]) == (3, "infeasible", None)


@pytest.mark.parametrize("case", sorted(MILP_SLIPS))
def test_statuses_milp_alone_gets_wrong(case, tmp_path):
    model, data = MILP_SLIPS[case]
    _, status, result = emit_and_run(tmp_path, model, data)
    assert solver.solve_model(model, data).status is solver.Status.UNBOUNDED
    assert (status, result["status"], result["objective"]) == (3, "unbounded", None)


def test_the_script_rounds_integer_bounds_and_keeps_stdout_for_json(tmp_path):
    # Bounds edited by hand in the script: it rounds them as the solver does,
    # 0.5..10.5 to 1..10, and the optimum stays -10 (milp alone reports -9).
    path = tmp_path / "edited.py"
    emitter.write_script(OUTCOMES["fractional_integer_bounds"], "", path)
    text = path.read_text()
    assert '("m", 1, 10, 1, -1),' in text
    text = text.replace('("m", 1, 10, 1, -1),', '("m", 0.5, 10.5, 1, -1),')
    # The solver's log goes to file descriptor 1; the script sends it to stderr.
    path.write_text(text.replace("OPTIONS = {}", 'OPTIONS = {"disp": True}'))
    done = subprocess.run([sys.executable, str(path)], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0 and json.loads(done.stdout)["objective"] == -10
    assert done.stdout.startswith("{") and "HiGHS" in done.stderr


def test_a_reader_that_stops_early_ends_the_script_quietly(tmp_path):
    emitter.write_script(HAND, "", tmp_path / "model.py")
    with subprocess.Popen([sys.executable, str(tmp_path / "model.py")], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE) as child:  # fmt: skip
        child.stdout.close()  # as `| head -1` does once it has its line
        assert child.stderr.read() == b"" and child.wait(timeout=300) == 141


def x_of(program, values):
    """The column vector behind a result's values."""
    x = np.zeros(program.num_columns)
    for variable in program.variables:
        cells = np.asarray(values[variable["name"]], dtype=float).ravel()
        x[variable["first_column"] : variable["first_column"] + cells.size] = cells
    return x


@pytest.mark.slow
@pytest.mark.parametrize("name", sorted(p.name for p in EXAMPLES.iterdir() if p.is_dir()))
def test_every_shipped_example_solves_as_tarvok_run_does(name, tmp_path):
    model, data = example(name)
    _, status, result = emit_and_run(tmp_path, model, data, name=f"{name}.py")
    expected = solver.solve_model(model, data)
    assert (status, result["status"], expected.status.value) == (0, "optimal", "optimal")
    assert result["objective"] == pytest.approx(expected.objective, rel=1e-7, abs=1e-7)
    assert result["values"].keys() == expected.values.keys()
    # Several optima are possible, so the script's values must be one: feasible, and reaching the optimum.
    p = expected.program
    x = x_of(p, result["values"])
    tolerance = 1e-6 * (1 + np.abs(x))
    assert np.all(x >= p.column_lower - tolerance) and np.all(x <= p.column_upper + tolerance)
    assert np.all(np.abs(x - np.round(x))[p.integrality == 1] == 0)
    rows, columns, coefficients = p.coo()
    activity = np.bincount(rows, weights=coefficients * x[columns], minlength=p.num_rows)
    slack = 1e-6 * (1 + np.abs(activity))
    assert np.all(activity >= p.row_lower - slack) and np.all(activity <= p.row_upper + slack)
    assert p.objective_offset + p.cost @ x == pytest.approx(expected.objective, rel=1e-7, abs=1e-6)
    for dexpr in p.dexprs:
        value = dexpr["constant"] + np.dot(dexpr["coefficients"], x[dexpr["columns"]])
        assert result["values"][dexpr["name"]] == pytest.approx(value, rel=1e-7, abs=1e-6)


# -------------------------------------------------------------------- files


class TestFromAProgram:
    """write_program_script writes, from a Program at hand, the very files write_script writes from the texts."""

    WIDE = "range I = 1..6000;\ndvar float+ x[I];\nminimize sum(i in I) i * x[i];\n" + (
        "subject to {\n  forall(i in 1..5999) low: x[i] + x[i + 1] >= 1;\n}\n"
    )

    @pytest.mark.parametrize("case", ["hand", "transportation", "wide", *sorted(OUTCOMES)])
    def test_the_same_files_as_from_the_texts(self, case, tmp_path):
        model, data = {"hand": (HAND, ""), "transportation": example("transportation"), "wide": (self.WIDE, "")}.get(
            case, (OUTCOMES.get(case), "")
        )
        texts = emitter.write_script(model, data, tmp_path / "texts.py")
        program = emitter.write_program_script(solver.compile(model, data).program, tmp_path / "program.py")
        assert (tmp_path / "texts.py").read_text() == (tmp_path / "program.py").read_text()
        assert len(texts) == len(program) == (2 if case == "wide" else 1)
        if case == "wide":  # past the inline limit the numbers go to the .npz beside the script
            left, right = np.load(tmp_path / "texts.npz"), np.load(tmp_path / "program.npz")
            assert left.files == right.files and all(np.array_equal(left[k], right[k]) for k in left.files)

    def test_refusals(self, tmp_path):
        program = solver.instantiate(HAND, "")
        with pytest.raises(ValueError, match="ends in .npz"):
            emitter.write_program_script(program, tmp_path / "plan.npz")
        with pytest.raises(TypeError, match="must be a tarvok.solver.Program"):
            emitter.write_program_script(HAND, tmp_path / "plan.py")
        assert os.listdir(tmp_path) == []


class TestFiles:
    def test_written_whole_or_not_at_all(self, tmp_path):
        target = tmp_path / "plan.py"
        target.write_text("# my own script\n")
        target.chmod(0o750)

        class Broken(SciPyCodeGenerator):
            def _build_objective(self):
                raise RuntimeError("stop halfway")

        with pytest.raises(RuntimeError):
            generator(HAND, cls=Broken).write(target)
        assert target.read_text() == "# my own script\n" and os.listdir(tmp_path) == ["plan.py"]
        generator(HAND).write(target)
        assert target.read_text().startswith("#!/usr/bin/env python3") and target.stat().st_mode & 0o777 == 0o750
        assert os.listdir(tmp_path) == ["plan.py"]

    def test_unusable_paths(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            emitter.write_script(HAND, "", tmp_path / "missing" / "plan.py")
        (tmp_path / "folder.py").mkdir()
        with pytest.raises(IsADirectoryError):
            emitter.write_script(HAND, "", tmp_path / "folder.py")
        with pytest.raises(ValueError, match="ends in .npz"):
            emitter.write_script(HAND, "", tmp_path / "plan.NPZ")
        with pytest.raises(SemanticError, match="undeclared name 'z'"):
            emitter.write_script("dvar float x;\nminimize z;", "", tmp_path / "plan.py")
        assert sorted(os.listdir(tmp_path)) == ["folder.py"]


# ---------------------------------------------------------------- the command


def command(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "tarvok", *args], capture_output=True, text=True, cwd=cwd, timeout=120)


class TestEmitCommand:
    def test_statuses_and_what_is_written(self, tmp_path):
        (tmp_path / "m.mod").write_text(HAND)
        (tmp_path / "bad.mod").write_text("dvar float x;\nminimize x + y;")
        (tmp_path / "d.dat").write_text("")
        done = command("emit", "m.mod", "d.dat", "-o", "out/plan.py", cwd=tmp_path)
        assert done.returncode == 2 and "no folder" in done.stderr
        done = command("emit", "m.mod", "d.dat", "-o", "plan.py", cwd=tmp_path)
        assert (done.returncode, done.stdout) == (0, "Wrote plan.py\n")
        assert run_script(tmp_path / "plan.py")[1]["objective"] == 16.0
        before = (tmp_path / "plan.py").read_text()
        bad = command("emit", "bad.mod", "d.dat", "-o", "plan.py", cwd=tmp_path)
        assert bad.returncode == 1 and "bad.mod:2:14: error: undeclared name 'y'" in bad.stdout
        assert (tmp_path / "plan.py").read_text() == before
        assert command("emit", "nowhere.mod", "d.dat", "-o", "x.py", cwd=tmp_path).returncode == 2
        assert command("emit", "m.mod", "d.dat", "-o", "x.npz", cwd=tmp_path).returncode == 2
        assert command("emit", "m.mod", "d.dat", cwd=tmp_path).returncode == 2  # -o is required
        assert sorted(os.listdir(tmp_path)) == ["bad.mod", "d.dat", "m.mod", "plan.py"]

    def test_solve_emits_the_final_pair(self, tg, monkeypatch, capsys, tmp_path):
        llm = stand_in_llm(tg, monkeypatch, HAND)
        monkeypatch.chdir(tmp_path)
        argv = [
            "solve",
            "two products",
            "-m",
            "m.mod",
            "-d",
            "d.dat",
            "--no-few-shot",
            "--no-alignment",
            "--emit",
            "plan.py",
        ]
        assert _cli.main(argv + ["--json"]) == 0
        assert json.loads(capsys.readouterr().out)["emitted"] == ["plan.py"]
        assert run_script(tmp_path / "plan.py")[1]["objective"] == 16.0
        llm.model = "dvar float x;\nminimize x + y;"
        assert _cli.main(argv) == 1  # this reply does not compile
        assert "undeclared name 'y'" in capsys.readouterr().out
        # A path that cannot take a script is refused before any request.
        monkeypatch.setattr(tg, "_llm_generate_text", lambda **k: pytest.fail("asked the LLM"))
        assert _cli.main(argv[:-1] + ["gone/plan.py"]) == 2
