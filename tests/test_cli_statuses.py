"""The statuses and output of `run`, `check` and `emit` through the real command: every usage fault is status 2 in
one line naming the option, `--json` is always one object, `run` shows diagnostics as `check` does, and what a
solve that stops early or is interrupted still shows."""

import json
import os
import random
import re
import signal
import subprocess
import sys
import time

import pytest
from test_cli_files import located

MODEL = "dvar float+ x;\ndvar float+ y;\nmaximize 3 * x + 2 * y;\nsubject to {\n  cap: x + y <= 4;\n  x <= 3;\n}\n"
#: Compiles with a warning (z is never used); optimum 11 at x = 3, y = 1.
WARNED = MODEL.replace("dvar float+ y;\n", "dvar float+ y;\ndvar float+ z;\n")
BROKEN = "dvar float+ x;\nminimize cost: w;\n"
NEEDS_DATA = "float a = ...;\ndvar float+ x;\nminimize a * x;\nsubject to {\n  x >= 1;\n}\n"
INFEASIBLE = "dvar float+ x;\nminimize x;\nsubject to {\n  low: x <= -1;\n}\n"
NO_OBJECTIVE = "dvar float+ x;\nsubject to {\n  c: x >= 1;\n}\n"


def tarvok(*argv, cwd, env=None):
    return subprocess.run(
        [sys.executable, "-m", "tarvok", *argv], cwd=cwd, env=env, capture_output=True, text=True, timeout=120
    )


def market_split():
    """Forty binaries, five equalities: HiGHS needs far longer than a test waits to prove the optimum."""
    random.seed(7)
    a = [[random.randint(0, 99) for _ in range(40)] for _ in range(5)]
    model = (
        "range R = 1..5;\nrange C = 1..40;\nint a[R][C] = ...;\nint b[R] = ...;\n"
        "dvar boolean x[C];\ndvar float+ over[R];\ndvar float+ under[R];\n"
        "minimize sum(i in R) (over[i] + under[i]);\nsubject to {\n"
        "  forall(i in R) split: sum(j in C) a[i][j] * x[j] + over[i] - under[i] == b[i];\n}\n"
    )
    return model, "a = %s;\nb = %s;\n" % (a, [sum(row) // 2 for row in a])


@pytest.fixture
def folder(tmp_path):
    for name, text in {
        "m.mod": MODEL,
        "warned.mod": WARNED,
        "broken.mod": BROKEN,
        "needs.mod": NEEDS_DATA,
        "off.mod": INFEASIBLE,
        "none.mod": NO_OBJECTIVE,
        "d.dat": "// no data\n",
        "a.dat": "a = 2;\n",
    }.items():
        (tmp_path / name).write_text(text)
    return tmp_path


# ------------------------------------------------------------- usage faults

USAGE_FAULTS = [
    (["--threads", "0"], "--threads"),
    (["--threads", "-3"], "--threads"),
    (["--threads", "100000000000000000000"], "--threads"),
    (["--time-limit", "nan"], "--time-limit"),
    (["--time-limit", "0"], "--time-limit"),
    (["--time-limit", "-1"], "--time-limit"),
    (["--mip-gap", "-0.5"], "--mip-gap"),
    (["--mip-gap", "nan"], "--mip-gap"),
    (["--write", "out/missing/x.lp"], "--write"),
    (["--write", "x.txt"], "--write"),
    (["--write", "m.mod"], "--write"),
    (["--max-size", "0"], "--max-size"),
]


@pytest.mark.parametrize("as_json", [False, True], ids=["text", "json"])
@pytest.mark.parametrize("extra, option", USAGE_FAULTS, ids=[" ".join(f[0]) for f in USAGE_FAULTS])
def test_a_usage_fault_of_run_is_status_2_naming_the_option(folder, extra, option, as_json):
    done = tarvok("run", "m.mod", "d.dat", *extra, *(["--json"] if as_json else []), cwd=folder)
    assert done.returncode == 2, done.stderr
    if as_json:
        assert done.stderr == ""
        error = json.loads(done.stdout)
        assert set(error) == {"error", "status"} and error["status"] == 2
        message = error["error"]
    else:
        assert done.stdout == ""
        (line,) = done.stderr.splitlines()
        assert line.startswith("tarvok: error: ")
        message = line
    assert option in message and "()" not in message  # the option, never an internal function
    assert sorted(os.listdir(folder)) == sorted(["m.mod", "warned.mod", "broken.mod", "needs.mod", "off.mod",
                                                 "none.mod", "d.dat", "a.dat"])  # fmt: skip


@pytest.fixture
def without_highspy(tmp_path):
    """An environment in which `import highspy` fails as it does where the extra is not installed."""
    stub = tmp_path / "hide" / "highspy"
    stub.mkdir(parents=True)
    (stub / "__init__.py").write_text("raise ModuleNotFoundError(\"No module named 'highspy'\", name='highspy')\n")
    return {**os.environ, "PYTHONPATH": os.pathsep.join([str(stub.parent), os.environ.get("PYTHONPATH", "")])}


@pytest.mark.parametrize("extra", [[], ["--write", "plan.lp"]], ids=["solve", "write"])
def test_a_missing_extra_is_status_2_saying_what_to_install(folder, without_highspy, extra):
    done = tarvok("run", "m.mod", "d.dat", *extra, cwd=folder, env=without_highspy)
    assert (done.returncode, done.stdout) == (2, "")
    (line,) = done.stderr.splitlines()
    assert "'highspy'" in line and "pip install 'tarvok[solve]'" in line
    done = tarvok("run", "m.mod", "d.dat", "--json", *extra, cwd=folder, env=without_highspy)
    assert json.loads(done.stdout)["status"] == 2
    assert not (folder / "plan.lp").exists()


# ------------------------------------------------------------- one JSON object

JSON_CASES = [
    (["run", "m.mod", "d.dat"], 0, {"status": "optimal", "objective": 11}),
    (["run", "m.mod"], 0, {"status": "optimal", "objective": 11}),
    (["run", "off.mod", "d.dat"], 3, {"status": "infeasible"}),
    (["run", "broken.mod", "d.dat"], 1, {"error": "the model does not compile", "status": 1}),
    (["run", "needs.mod"], 1, {"error": "the model does not compile", "status": 1}),
    (["run", "nowhere.mod", "d.dat"], 2, {"status": 2}),
    (["run", "m.mod", "nowhere.dat"], 2, {"status": 2}),
    (["check", "nowhere.mod"], 2, {"status": 2}),
    (["check", "m.mod", "nowhere.dat"], 2, {"status": 2}),
    (["check", "m.mod", "d.dat", "--max-size", "0"], 2, {"status": 2}),
]


@pytest.mark.parametrize("argv, status, expected", JSON_CASES, ids=[" ".join(c[0]) for c in JSON_CASES])
def test_json_is_one_object_whatever_the_outcome(folder, argv, status, expected):
    done = tarvok(*argv, "--json", cwd=folder)
    assert done.returncode == status, done.stderr
    printed = json.loads(done.stdout)  # the whole of stdout is one JSON value
    assert isinstance(printed, dict) and printed.items() >= expected.items()
    if status == 2:
        assert "nowhere" in printed["error"] or "--max-size" in printed["error"]
    if status == 1:
        assert printed["diagnostics"] and printed["diagnostics"][0]["severity"] == "error"
        assert printed["diagnostics"][0]["path"] == argv[1]


def test_check_json_keeps_its_list_of_records(folder):
    # The compiler's own JSON: the records, for a pair that compiles and for one that does not.
    for model, status in (("warned.mod", 0), ("broken.mod", 1)):
        done = tarvok("check", model, "d.dat", "--json", cwd=folder)
        assert done.returncode == status
        records = json.loads(done.stdout)
        assert isinstance(records, list) and records and all(r["path"] == model for r in records)


# ---------------------------------------------------- diagnostics as check prints them


@pytest.mark.parametrize("model, data", [("broken.mod", "d.dat"), ("needs.mod", "d.dat"), ("warned.mod", "d.dat")])
def test_run_shows_diagnostics_as_check_does(folder, model, data):
    files = [model] + ([data] if data else [])
    check = tarvok("check", *files, cwd=folder)
    run = tarvok("run", *files, cwd=folder)
    shown = check.stdout.rsplit("OK", 1)[0] if check.returncode == 0 else check.stdout
    assert shown.startswith(f"{model}:") and (": error: " in shown or ": warning: " in shown)
    assert run.stdout.startswith(shown)
    assert run.returncode == (0 if check.returncode == 0 else 1)
    run_json = json.loads(tarvok("run", *files, "--json", cwd=folder).stdout)
    assert run_json["diagnostics"] == json.loads(tarvok("check", *files, "--json", cwd=folder).stdout)


def test_products_beyond_what_the_solver_reads_get_one_verdict(folder):
    # Each factor is fine; their product is not, and only expanding the model meets it.
    (folder / "p.mod").write_text("float a = ...;\ndvar float+ x;\nminimize a * a * x;\nsubject to {\n  x >= 1;\n}\n")
    (folder / "p.dat").write_text("a = 1e10;\n")
    reports = []
    for argv in (["check"], ["run"], ["emit", "-o", "plan.py"]):
        done = tarvok(argv[0], "p.mod", "p.dat", *argv[1:], cwd=folder)
        assert done.returncode == 1, done.stdout + done.stderr
        reports.append(located(done))
    tail = "is at or beyond 1e20, which the solver reads as infinity; choose units that make it smaller"
    assert reports[0] == reports[1] == reports[2] == [(3, 10, f"the coefficient of 'x' in 'a * a * x' {tail}")]
    record = json.loads(tarvok("check", "p.mod", "p.dat", "--json", cwd=folder).stdout)
    assert [r["code"] for r in record] == ["T0606"]
    assert not (folder / "plan.py").exists()
    # Smaller data: the same model is fine everywhere.
    (folder / "p.dat").write_text("a = 1e9;\n")
    assert tarvok("check", "p.mod", "p.dat", cwd=folder).stdout == "OK\n"
    assert tarvok("run", "p.mod", "p.dat", cwd=folder).stdout.startswith("Status: optimal\nObjective: 1e+18\n")


# ------------------------------------------------------------------ the report

SIZES = re.compile(r"^\d+ columns?( \(\d+ integer\))?, \d+ rows?, \d+ nonzeros?; "
                   r"compile \d+\.\d{3} s, expansion \d+\.\d{3} s, solve \d+\.\d{3} s$")  # fmt: skip


def test_a_model_without_objective_prints_none_and_sizes_end_the_report(folder):
    done = tarvok("run", "none.mod", cwd=folder)
    assert done.returncode == 0
    assert "Objective" not in done.stdout and done.stdout.startswith("Status: optimal\n")
    assert done.stdout.splitlines()[-1] == "1 column, 0 rows, 0 nonzeros; " + done.stdout.split("; ")[-1].rstrip("\n")
    done = tarvok("run", "m.mod", "d.dat", cwd=folder)
    assert done.stdout.startswith("Status: optimal\nObjective: 11\n")
    assert SIZES.match(done.stdout.splitlines()[-1])


def test_a_mip_stopped_by_its_time_limit_shows_bound_and_gap(folder):
    model, data = market_split()
    (folder / "ms.mod").write_text(model)
    (folder / "ms.dat").write_text(data)
    done = tarvok("run", "ms.mod", "ms.dat", "--time-limit", "1", "--json", cwd=folder)
    assert done.returncode == 3
    result = json.loads(done.stdout)
    assert result["status"] == "time_limit"
    bound = result["statistics"]["best_bound"]
    # A lower bound of a minimum: at most the incumbent, at least 0 (the objective sums nonnegative columns).
    assert 0 <= bound <= result["objective"] + 1e-6
    done = tarvok("run", "ms.mod", "ms.dat", "--time-limit", "1", cwd=folder)
    (line,) = [line for line in done.stdout.splitlines() if line.startswith("Best bound: ")]
    assert re.fullmatch(r"Best bound: [-\d.e+]+ \(gap [\d.e+]+%\)", line)
    assert re.search(r"^40 columns? \(40 integer\)|^50 columns \(40 integer\)", done.stdout.splitlines()[-1])


def test_a_closed_stream_leaves_the_status_as_the_table_has_it(folder):
    def closed(fd, *argv, **streams):
        shut = None if fd is None else lambda: os.close(fd)
        return subprocess.run([sys.executable, "-m", "tarvok", *argv], cwd=folder, preexec_fn=shut, timeout=120,
                              **streams)  # fmt: skip

    # stdout closed before the start (>&-) is a reader gone, whatever the run ends in.
    for argv in (["check", "m.mod"], ["run", "--json", "missing.mod"]):
        done = closed(1, *argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        assert (done.returncode, done.stderr) == (141, b"")
    # A closed stderr loses the failure's line, not its status, and nothing of it reaches stdout.
    done = closed(2, "run", "missing.mod", stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    assert (done.returncode, done.stdout) == (2, b"")
    # A --json failure whose reader has gone is as quiet as a result.
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        done = closed(None, "run", "--json", "missing.mod", stdout=write_end, stderr=subprocess.PIPE)
    finally:
        os.close(write_end)
    assert (done.returncode, done.stderr) == (141, b"")


def test_ctrl_c_prints_the_best_solution_found_so_far(folder):
    model, data = market_split()
    (folder / "ms.mod").write_text(model)
    (folder / "ms.dat").write_text(data)
    with subprocess.Popen(
        [sys.executable, "-m", "tarvok", "run", "ms.mod", "ms.dat", "--time-limit", "120"],
        cwd=folder,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    ) as child:
        time.sleep(3)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    assert child.returncode == 130
    assert err.splitlines()[-1] == "tarvok: interrupted"
    assert out.startswith("Status: error\n") and "Stopped by Ctrl-C.\n" in out
    assert SIZES.match(out.splitlines()[-1])
    if "Objective: " in out:  # an incumbent, shown with its values and the bound
        assert "\nx\n" in out and "Best bound: " in out


def test_ctrl_c_leaves_stdout_to_the_json_whichever_solver_runs(folder):
    pytest.importorskip("pyscipopt")
    model, data = market_split()
    (folder / "ms.mod").write_text(model)
    (folder / "ms.dat").write_text(data)
    argv = ["run", "ms.mod", "ms.dat", "--solver", "scip", "--json", "--time-limit", "120"]
    with subprocess.Popen([sys.executable, "-m", "tarvok", *argv], cwd=folder, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True) as child:  # fmt: skip
        time.sleep(4)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    assert child.returncode == 130, err
    assert json.loads(out)["status"] == "error"  # the one object alone, nothing the solver printed


# ------------------------------------------------------------ names in --write

LABELLED = (
    "{string} S = ...;\ndvar float+ x[S];\nmaximize profit: sum(s in S) x[s];\nsubject to {\n"
    "  forall(s in S) top: x[s] <= 2;\n  total: sum(s in S) x[s] <= 3;\n}\n"
)


def test_an_lp_file_keeps_the_objective_label_and_names_the_folded_constraints(folder):
    highspy = pytest.importorskip("highspy")
    (folder / "l.mod").write_text(LABELLED)
    # A set element with a line break: it must not end the comment that names it.
    (folder / "l.dat").write_text('S = {"a", "b\\nst\\n evil: x >= 9"};\n')
    done = tarvok("run", "l.mod", "l.dat", "--write", "plan.lp", cwd=folder)
    assert done.returncode == 0, done.stderr
    text = (folder / "plan.lp").read_text()
    assert "\n profit: " in text and "\n obj:" not in text
    comments = [line for line in text.splitlines() if line.startswith("\\ x")]
    assert len(comments) == 2 and all(": upper bound from top[" in c and c.endswith("(line 5)") for c in comments)
    assert not any(line.lstrip().startswith("evil") for line in text.splitlines())
    # The file still reads as the same program: optimum 3 (= total), as the model says.
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    assert h.readModel(str(folder / "plan.lp")) == highspy.HighsStatus.kOk
    h.run()
    assert h.getInfo().objective_function_value == pytest.approx(3)
    assert h.getLp().num_row_ == 1
