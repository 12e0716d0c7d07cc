"""`tarvok check` as a user runs it: a real process, real files, the exit
statuses of the command table, paths that editors link, and --json."""

import json
import subprocess
import sys

import pytest

BROKEN = "float flour = ...;\ndvar float+ bread;\ndvar float+ cakes;\nmaximize 3 * bread + 5 * cake;\n"
BROKEN += "subject to {\n  bread + 2 * cakes <= flour;\n}\n"


def tarvok(*args, cwd):
    done = subprocess.run(
        [sys.executable, "-m", "tarvok", "check", *args], cwd=cwd, capture_output=True, text=True, timeout=120
    )
    return done.returncode, done.stdout, done.stderr


@pytest.fixture
def files(tmp_path):
    (tmp_path / "out").mkdir()
    (tmp_path / "out" / "bakery.mod").write_text(BROKEN)
    (tmp_path / "out" / "bakery.dat").write_text("flour = 10;\noven = 5;\n")
    return tmp_path


def test_errors_carry_the_real_paths_and_exit_1(files):
    status, out, err = tarvok("out/bakery.mod", "out/bakery.dat", cwd=files)
    assert (status, err) == (1, "")
    heads = [line for line in out.splitlines() if not line.startswith("    ")]
    assert heads == [
        "out/bakery.mod:4:26: error: undeclared name 'cake' (did you mean 'cakes'?)",
        "out/bakery.dat:2:1: error: 'oven' is not declared in the model",
    ]


def test_json_prints_the_records(files):
    status, out, _ = tarvok("out/bakery.mod", "out/bakery.dat", "--json", cwd=files)
    records = json.loads(out)
    assert status == 1
    assert [(r["path"], r["code"], r["line"], r["column"], r["fix"]) for r in records] == [
        ("out/bakery.mod", "T0201", 4, 26, "cakes"),
        ("out/bakery.dat", "T0502", 2, 1, None),
    ]


def test_warnings_do_not_fail_and_the_data_file_is_optional(files):
    (files / "w.mod").write_text("dvar float x;\ndvar float idle;\nminimize x;\nsubject to { x >= 1; }\n")
    status, out, _ = tarvok("w.mod", cwd=files)
    assert status == 0
    assert out.splitlines()[0] == "w.mod:2:12: warning: decision variable 'idle' is declared but never used"
    assert out.splitlines()[-1] == "OK, 1 warning"
    status, out, _ = tarvok("w.mod", "--json", cwd=files)
    assert status == 0 and [r["severity"] for r in json.loads(out)] == ["warning"]


def test_a_model_without_its_data_is_checked_alone(files):
    status, out, _ = tarvok("out/bakery.mod", cwd=files)
    assert status == 1 and "undeclared name 'cake'" in out and "has no value" not in out
    assert "out/bakery.mod: note: no data was given, so the data was not checked" in out


@pytest.mark.parametrize("args", [(), ("missing.mod",), ("a", "b", "c")])
def test_usage_and_unreadable_files_exit_2(files, args):
    status, out, err = tarvok(*args, cwd=files)
    assert status == 2 and out == "" and err
