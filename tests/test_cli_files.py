"""The real `tarvok` command and the files it is given: no output path can be an input, `run
--write` gives a file whole or not at all, one reader gives the same bytes the same verdict in
every command, and human-readable output shows what a terminal would act on as escapes."""

import json
import os
import pathlib
import re
import resource
import shutil
import signal
import subprocess
import sys

import pytest
from llm_server import openai_models, openai_response
from test_cli import GOOD_DATA, GOOD_MODEL
from workflow_fakes import VERDICT_REQUEST, stand_in_llm

import tarvok

MODEL = "dvar float+ x;\ndvar float+ y;\nmaximize 3 * x + 2 * y;\nsubject to {\n  cap: x + y <= 4;\n  x <= 3;\n}\n"
DATA = "// no data\n"


def tarvok_command(*argv, cwd, preexec_fn=None, timeout=120):
    return subprocess.run(
        [sys.executable, "-m", "tarvok", *argv],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=timeout,
        preexec_fn=preexec_fn,
    )


def one_error_line(done):
    """The one line a failure prints on stderr."""
    lines = done.stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith("tarvok: error: "), done.stderr
    return lines[0][len("tarvok: error: ") :]


def listing(folder):
    return sorted(p.name for p in pathlib.Path(folder).iterdir())


@pytest.fixture
def pair(tmp_path):
    (tmp_path / "in").mkdir()
    (tmp_path / "in" / "m.mod").write_text(MODEL)
    (tmp_path / "in" / "d.dat").write_text(DATA)
    return tmp_path


# ------------------------------------------------------ outputs over inputs

#: Each command with an output path, and the suffix that output needs; the inputs carry that
#: suffix too, so that only their being inputs can refuse them.
OUTPUTS = {
    "emit": (".py", lambda m, d, out: ["emit", m, d, "-o", out]),
    "run": (".lp", lambda m, d, out: ["run", m, d, "--write", out]),
    "solve": (".py", lambda m, d, out: [
        "solve", "a plan", "-m", m, "-d", d, "--model", "gpt-test", "--no-few-shot", "--emit", out,
    ]),
}  # fmt: skip


def spell(folder, spelling, target):
    """A path that names `target`: as it is, through '..', a link or a hard link."""
    if spelling == "name":
        return target
    if spelling == "dots":
        (folder / "other").mkdir(exist_ok=True)
        return f"other/../{target}"
    alias = folder / ("alias" + pathlib.Path(target).suffix)
    if spelling == "link":
        alias.symlink_to(folder / target)
    else:
        os.link(folder / target, alias)
    return alias.name


@pytest.mark.parametrize("command", sorted(OUTPUTS))
@pytest.mark.parametrize("spelling", ["name", "dots", "link", "hard link"])
@pytest.mark.parametrize("which", ["model", "data"])
def test_no_output_path_can_be_an_input(openai_server, tmp_path, command, spelling, which):
    suffix, argv = OUTPUTS[command]
    (tmp_path / "in").mkdir()
    inputs = {"model": f"in/model{suffix}", "data": f"in/data{suffix}"}
    (tmp_path / inputs["model"]).write_text(MODEL)
    (tmp_path / inputs["data"]).write_text(DATA)
    out = spell(tmp_path, spelling, inputs[which])
    done = tarvok_command(*argv(inputs["model"], inputs["data"], out), cwd=tmp_path)
    assert (done.returncode, done.stdout) == (2, ""), done.stderr
    assert f"{out} is the same file as " in one_error_line(done)
    assert (tmp_path / inputs["model"]).read_text() == MODEL and (tmp_path / inputs["data"]).read_text() == DATA
    assert openai_server.server.requests == []


def test_the_data_file_beside_a_script_is_no_input_either(pair):
    # plan.py would keep large numbers in plan.npz: the model's own name here.
    os.rename(pair / "in" / "m.mod", pair / "in" / "plan.npz")
    done = tarvok_command("emit", "in/plan.npz", "in/d.dat", "-o", "in/plan.py", cwd=pair)
    assert done.returncode == 2 and "the script's data file" in one_error_line(done)
    assert (pair / "in" / "plan.npz").read_text() == MODEL


# ------------------------------------------------ --write whole or not at all

BIG_MODEL = (
    "dvar float+ x[1..3001];\nminimize sum(i in 1..3000) x[i];\n"
    "subject to { forall(i in 1..3000) c: x[i] + x[i + 1] >= 1; }\n"
)


def installed():
    """Whether the package is an installed copy (an editable one rebuilds on import, writing files)."""
    return "site-packages" in pathlib.Path(tarvok.__file__).resolve().parts


def test_write_gives_a_whole_file_and_keeps_its_permissions(pair):
    target = pair / "plan.lp"
    target.write_text("an older model\n")
    target.chmod(0o640)
    done = tarvok_command("run", "in/m.mod", "in/d.dat", "--write", "plan.lp", cwd=pair)
    assert done.returncode == 0, done.stderr
    assert target.read_text().endswith("end\n") and "cap: +1 x +1 y <= +4" in target.read_text()
    assert target.stat().st_mode & 0o777 == 0o640
    assert listing(pair) == ["in", "plan.lp"]


@pytest.mark.parametrize(
    "out, reason",
    [
        ("plan.txt", "plan.txt ends in neither .mps nor .lp"),
        ("folder.lp", "folder.lp is a folder"),
        ("missing/plan.mps", "no folder"),
    ],
)
def test_paths_that_cannot_take_the_model_are_refused_before_any_work(pair, out, reason):
    (pair / "folder.lp").mkdir()
    done = tarvok_command("run", "in/m.mod", "in/d.dat", "--write", out, cwd=pair)
    assert (done.returncode, done.stdout) == (2, "")
    assert one_error_line(done).startswith("--write cannot write the model there: ") and reason in done.stderr


def test_an_unwritable_folder_is_one_line_and_status_2(pair):
    if os.geteuid() == 0:
        folder = pathlib.Path("/sys")  # no file can be made there, whoever asks
    else:
        folder = pair / "locked"
        folder.mkdir()
        folder.chmod(0o500)
    done = tarvok_command("run", "in/m.mod", "in/d.dat", "--write", str(folder / "plan.lp"), cwd=pair)
    assert (done.returncode, done.stdout) == (2, "")
    assert one_error_line(done) == f"--write cannot write {folder / 'plan.lp'}: Permission denied"


@pytest.mark.skipif(not installed(), reason="an editable install rebuilds on import, which the limit stops")
@pytest.mark.parametrize("name", ["plan.mps", "plan.lp"])
def test_a_write_cut_short_leaves_the_old_file(pair, name):
    # A file-size limit makes the writes fail as a full disk does, which HiGHS (writing the .lp) does not notice.
    (pair / "in" / "big.mod").write_text(BIG_MODEL)
    target = pair / name
    target.write_text("an older model\n")

    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))

    done = tarvok_command("run", "in/big.mod", "in/d.dat", "--write", name, cwd=pair, preexec_fn=limited)
    assert (done.returncode, done.stdout) == (2, "")
    reasons = "Input/output error|No space left on device|File too large"
    assert re.fullmatch(rf"--write cannot write {re.escape(name)}: ({reasons})", one_error_line(done))
    assert target.read_text() == "an older model\n" and listing(pair) == ["in", name]
    # The library function too: an OSError, and the old file.
    call = f"import sys, tarvok.solver as s; s.write_model(open(sys.argv[1]).read(), '', {name!r})"
    done = subprocess.run([sys.executable, "-c", call, "in/big.mod"], cwd=pair, preexec_fn=limited,
                          capture_output=True, text=True, timeout=120)  # fmt: skip
    assert done.returncode == 1 and done.stderr.rstrip().splitlines()[-1].startswith("OSError: [Errno ")
    assert target.read_text() == "an older model\n" and listing(pair) == ["in", name]


@pytest.fixture
def small_disk(tmp_path):
    """A 64 KiB file system, where a large model file does not fit."""
    folder = tmp_path / "disk"
    folder.mkdir()
    if shutil.which("mount") is None or os.geteuid() != 0:
        pytest.skip("mounting a small file system needs root")
    made = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(folder)], capture_output=True)
    if made.returncode != 0:
        pytest.skip("cannot mount a small file system here")
    try:
        yield folder
    finally:
        subprocess.run(["umount", str(folder)], check=True)


def test_a_full_disk_leaves_the_old_file(pair, small_disk):
    (pair / "in" / "big.mod").write_text(BIG_MODEL)
    target = small_disk / "plan.mps"
    target.write_text("an older model\n")
    done = tarvok_command("run", "in/big.mod", "in/d.dat", "--write", str(target), cwd=pair)
    assert (done.returncode, done.stdout) == (2, "")
    assert one_error_line(done) == f"--write cannot write {target}: No space left on device"
    assert target.read_text() == "an older model\n" and listing(small_disk) == ["plan.mps"]
    # The library function says so with an OSError, and leaves the file as it was too.
    solver = pytest.importorskip("tarvok.solver")
    with pytest.raises(OSError) as raised:
        solver.write_model(BIG_MODEL, "", target)
    assert raised.value.filename == str(target) and raised.value.strerror == "No space left on device"
    assert target.read_text() == "an older model\n" and listing(small_disk) == ["plan.mps"]


# --------------------------------------------------- one reader, one verdict


def located(done):
    """(line, column, message) of each diagnostic, as `check` prints them with the path or `run` without."""
    found = re.findall(r"^(?:\S+?:)?(\d+):(\d+): (?:error: )?(.*)$", done.stdout, flags=re.M)
    return [(int(line), int(column), message) for line, column, message in found]


@pytest.mark.parametrize("command", ["check", "run", "emit"])
def test_bytes_that_are_not_utf8_get_one_verdict(pair, command):
    (pair / "in" / "m.mod").write_bytes(b"dvar float+ x;\n// caf\xc3\xa9 \xff\xfe\nminimize x;\n")
    argv = {"check": [], "run": [], "emit": ["-o", "plan.py"]}[command]
    done = tarvok_command(command, "in/m.mod", "in/d.dat", *argv, cwd=pair)
    assert (done.returncode, done.stdout) == (2, "")
    assert done.stderr.rstrip("\n").endswith("cannot read in/m.mod: not UTF-8: byte 0xff at line 2, column 9")
    assert listing(pair) == ["in"]


@pytest.mark.parametrize("command", ["check", "run", "emit"])
def test_a_lone_carriage_return_is_read_as_the_same_bytes(pair, command):
    # No reader turns it into a line end, so every command places the error on line 1.
    (pair / "in" / "m.mod").write_bytes(b"dvar float+ x;\rminimize y;\n")
    argv = {"check": [], "run": [], "emit": ["-o", "plan.py"]}[command]
    done = tarvok_command(command, "in/m.mod", "in/d.dat", *argv, cwd=pair)
    assert done.returncode == 1
    assert located(done)[0] == (1, 25, "undeclared name 'y'")


def test_eval_solves_the_pair_the_loop_compiled_not_the_files(monkeypatch, tg, tmp_path):
    evaluation = pytest.importorskip("tarvok.evaluation")
    pytest.importorskip("highspy")
    monkeypatch.setenv("OPENAI_API_KEY", "sk-test-never-sent")
    (tmp_path / "set.jsonl").write_text(json.dumps({"id": "p", "question": "Cover y.", "answer": 1}) + "\n")
    llm = stand_in_llm(tg, monkeypatch, "dvar float+ x;\nminimize cost: x + 1;\n")

    def then_overwritten(**request):  # the pair is written by now: the verdict is asked of the files' pair
        if VERDICT_REQUEST in request["input_text"]:
            for model_file in (tmp_path / "runs").rglob("*.mod"):
                model_file.write_bytes(b"dvar float+ x;\n// caf\xc3\xa9 \xff\xfe\nminimize x;\n")
        return llm(**request)

    monkeypatch.setattr(tg, "_llm_generate_text", then_overwritten)
    evaluation.run_evaluation(str(tmp_path / "set.jsonl"), str(tmp_path / "runs"), model="gpt-test", progress=False)
    (line,) = (tmp_path / "runs" / "results.jsonl").read_text(encoding="utf-8").splitlines()
    record = json.loads(line)
    assert (record["error"], record["status"], record["objective"], record["correct"]) == (None, "optimal", 1.0, True)


def test_reading_stops_at_the_limit():
    done = tarvok_command("check", "/dev/zero", cwd="/", timeout=60)
    assert (done.returncode, done.stdout) == (2, "")
    assert (
        done.stderr
        == "tarvok check: cannot read /dev/zero: larger than 64 MiB, the most a model or data file may hold\n"
    )


def test_numbers_the_solver_reads_as_infinity_get_one_located_diagnostic(pair):
    (pair / "in" / "m.mod").write_text(MODEL.replace("x + y <= 4", "x + y <= 1e20").replace("3 * x", "2.5e30 * x"))
    reports = []
    for argv in (["check"], ["run"], ["emit", "-o", "plan.py"]):
        done = tarvok_command(argv[0], "in/m.mod", "in/d.dat", *argv[1:], cwd=pair)
        assert done.returncode == 1, done.stderr
        reports.append(located(done))
    assert reports[0] == reports[1] == reports[2]
    tail = "is at or beyond 1e20, which the solver reads as infinity; choose units that make it smaller"
    assert reports[0] == [(3, 10, f"the number 2.5e30 {tail}"), (5, 17, f"the number 1e20 {tail}")]
    assert listing(pair) == ["in"]


# --------------------------------------------------------- text for a terminal

HOSTILE = "\x1b]0;owned\x07\x1b[2J\u009b31m\rover"
SHOWN = "\\x1b]0;owned\\x07\\x1b[2J\\x9b31m\\x0dover"


def test_names_in_run_output_are_escaped_and_exact_in_json(pair):
    # An infeasible model names the rows that cannot hold together, set elements and all.
    model = "{string} S = ...;\ndvar float+ x[S];\nminimize sum(s in S) x[s];\nsubject to {\n"
    model += "  forall(s in S) need: x[s] >= 2;\n  forall(s in S) cap: x[s] <= 1;\n}\n"
    (pair / "in" / "m.mod").write_text(model)
    (pair / "in" / "d.dat").write_text('S = {"' + HOSTILE.replace("\r", "") + '"};\n')
    done = tarvok_command("run", "in/m.mod", "in/d.dat", cwd=pair)
    assert done.returncode == 3
    assert SHOWN.replace("\\x0d", "") in done.stdout
    assert not re.search(r"[\x00-\x08\x0b-\x1f\x7f-\x9f]", done.stdout + done.stderr)
    done = tarvok_command("run", "in/m.mod", "in/d.dat", "--json", cwd=pair)
    names = [c["name"] for c in json.loads(done.stdout)["infeasible_constraints"]]
    assert HOSTILE.replace("\r", "") in " ".join(names)


def test_diagnostics_in_check_are_escaped_and_exact_in_json(pair):
    (pair / "in" / "m.mod").write_text("int n = ...;\ndvar float+ x in 0..n;\nminimize x;\n")
    (pair / "in" / "d.dat").write_text('n = "' + HOSTILE.replace("\r", "") + '";\n')
    done = tarvok_command("check", "in/m.mod", "in/d.dat", cwd=pair)
    assert done.returncode == 1
    assert "\\x9b31m" in done.stdout and not re.search(r"[\x00-\x08\x0b-\x1f\x7f-\x9f]", done.stdout)
    done = tarvok_command("check", "in/m.mod", "in/d.dat", "--json", cwd=pair)
    (record,) = json.loads(done.stdout)
    assert "\u009b31m" in record["message"]


def test_server_texts_are_escaped_and_exact_in_json(openai_server, tmp_path):
    hostile_id = "gpt-" + HOSTILE
    openai_server.server.route("/v1/models", openai_models([hostile_id, "gpt-plain"]))
    done = tarvok_command("models", "--all", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["gpt-" + SHOWN, "gpt-plain"]
    openai_server.server.route("/v1/models", openai_models([hostile_id]))
    done = tarvok_command("models", "--all", "--json", cwd=tmp_path)
    assert json.loads(done.stdout) == [hostile_id]


def test_an_assessment_is_escaped_and_exact_in_json(openai_server, tmp_path):
    verdict = json.dumps({"aligned": True, "assessment": "Fine." + HOSTILE})
    solve = ["solve", "a plan", "-m", "m.mod", "-d", "d.dat", "--model", "gpt-test", "--no-few-shot"]
    for extra in ([], ["--json"]):
        pair_reply = json.dumps({"model": GOOD_MODEL, "data": GOOD_DATA})
        openai_server.server.queue(openai_response(pair_reply), openai_response(verdict))
        done = tarvok_command(*solve, *extra, cwd=tmp_path)
        assert done.returncode == 0, done.stderr
        if extra:
            assert json.loads(done.stdout)["assessment"] == "Fine." + HOSTILE
        else:
            assert done.stdout.endswith("Fine." + SHOWN + "\n")


def test_eval_lines_for_a_reader_are_escaped_and_records_exact(monkeypatch, tg, capsys, tmp_path):
    pytest.importorskip("tarvok.evaluation")
    pytest.importorskip("highspy")
    from tarvok import _cli

    monkeypatch.setenv("OPENAI_API_KEY", "sk-test-never-sent")
    hostile = "p" + HOSTILE
    records = [{"id": hostile, "question": "Cover y.", "answer": 1}, {"id": hostile, "question": "Again.", "answer": 2}]
    (tmp_path / "set.jsonl").write_text("".join(json.dumps(r) + "\n" for r in records))
    stand_in_llm(tg, monkeypatch, "dvar float+ x;\nminimize cost: x + 1;\n")
    status = _cli.main(["eval", str(tmp_path / "set.jsonl"), "--out", str(tmp_path / "runs"), "--model", "gpt-test"])
    out, err = capsys.readouterr()
    assert status == 0, err
    assert f"id 'p{SHOWN}' repeats record 1" in err and f"p{SHOWN}" in out
    assert not re.search(r"[\x00-\x08\x0b-\x1f\x7f-\x9f]", out + err)
    (line,) = (tmp_path / "runs" / "results.jsonl").read_text(encoding="utf-8").splitlines()
    assert json.loads(line)["id"] == hostile


def test_emit_to_scipy_is_the_default_and_an_unknown_target_is_one_line(pair):
    default = tarvok_command("emit", "in/m.mod", "in/d.dat", "-o", "default.py", cwd=pair)
    named = tarvok_command("emit", "in/m.mod", "in/d.dat", "-o", "named.py", "--to", "scipy", cwd=pair)
    assert default.returncode == named.returncode == 0, default.stderr + named.stderr
    assert (pair / "default.py").read_bytes() == (pair / "named.py").read_bytes()

    unknown = tarvok_command("emit", "in/m.mod", "in/d.dat", "-o", "other.py", "--to", "fortran", cwd=pair)
    assert unknown.returncode == 2
    assert one_error_line(unknown) == "unknown target 'fortran' (choose scipy)"
    assert not (pair / "other.py").exists()


@pytest.mark.parametrize(
    "spelling", ["missing", "a/../missing", "./x//y/", "link/../missing", "//no/such/../folder", b"\xff/../q\xfe"]
)
def test_refusals_name_a_path_as_the_host_makes_it_absolute(tmp_path, spelling):
    """Made absolute by name (a link's '..' is not followed, '//' kept), bytes that are not UTF-8 kept."""
    (tmp_path / "sub" / "deep").mkdir(parents=True)
    (tmp_path / "link").symlink_to(tmp_path / "sub" / "deep")
    (tmp_path / "m.mod").write_text(MODEL)
    raw = os.fsencode(spelling)

    def absolute(path):
        return os.fsdecode(os.path.normpath(os.path.join(os.fsencode(tmp_path), path)))

    def refusal(*argv):
        done = subprocess.run([sys.executable, "-m", "tarvok", *argv, "--json"], cwd=tmp_path, capture_output=True)
        assert done.returncode == 2, done.stderr
        return json.loads(done.stdout.decode("utf-8", "surrogateescape"))["error"]

    assert refusal("rank", "word", "--examples", raw) == "examples folder not found: " + absolute(raw)
    written = raw.rstrip(b"/") + b"/out.mps"
    assert refusal("run", "m.mod", "--write", written) == (
        "--write cannot write the model there: no folder " + os.path.dirname(absolute(written))
    )
