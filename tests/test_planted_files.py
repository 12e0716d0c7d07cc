"""Files planted beside what the package writes, as a hostile user of a shared folder would leave them: a move
journal, links at the names of backups, alternatives, scratch and output folders; and many saves of one pair at
once. Each attack goes through the real surface: the `tarvok` command, a real `tarvok serve`, `tarvok eval`."""

import hashlib
import json
import shutil
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import pytest
from test_cli import GOOD_DATA, GOOD_MODEL
from test_evaluation_end_to_end import command, dataset, llm  # noqa: F401  (llm: the scripted service)

JOURNAL_HEAD = "# tarvok: a model and data pair is being moved into place.\n"


def tarvok(*argv, cwd):
    return subprocess.run([sys.executable, "-m", "tarvok", *argv], cwd=cwd, capture_output=True, text=True, timeout=120)


@pytest.fixture
def folder(tmp_path):
    """A shared folder holding a pair, and a stand-in for a file of the user's own elsewhere."""
    shared = tmp_path / "shared"
    shared.mkdir()
    (shared / "plan.mod").write_text(GOOD_MODEL)
    (shared / "plan.dat").write_text(GOOD_DATA)
    (tmp_path / "home").mkdir()
    (tmp_path / "home" / ".bashrc").write_text("the user's own\n")
    (tmp_path / "book.jsonl").write_text("")  # recorded replies: none is asked for
    return shared


def plant_journal(shared, victim):
    """The journal of the attack: it asks for a planted file to be moved onto the victim."""
    (shared / "evil").write_text("planted\n")
    (shared / "plan.mod.tarvok-pending").write_text(
        f"{JOURNAL_HEAD}staged model={shared / 'evil'}\nstaged data={shared / 'evil'}\nmodel={victim}\ndata={victim}\n"
    )


def propose(shared, revised):
    """The revision `feedback` keeps for --apply, so that applying asks no LLM."""
    digest = lambda name: hashlib.sha256((shared / name).read_bytes()).hexdigest()  # noqa: E731
    (shared / "plan.mod.proposed.json").write_text(
        json.dumps(
            {
                "question": "Q",
                "model_sha256": digest("plan.mod"),
                "data_sha256": digest("plan.dat"),
                "answer": {"feedback": "Double it.", "revised_model": revised},
            }  # fmt: skip
        )
    )


def feedback_apply(shared):
    return tarvok("feedback", "Q", "-m", "plan.mod", "-d", "plan.dat", "--apply", cwd=shared)


def test_a_planted_journal_moves_nothing_and_is_refused_in_one_line(folder, tmp_path):
    victim = tmp_path / "home" / ".bashrc"
    plant_journal(folder, victim)
    propose(folder, GOOD_MODEL.replace("y >= x", "y >= 2 * x"))
    for done in (
        tarvok(
            "solve", "text", "-m", "plan.mod", "-d", "plan.dat", "--replay", str(tmp_path / "book.jsonl"), cwd=folder
        ),
        feedback_apply(folder),
    ):
        assert done.returncode == 2 and done.stdout == ""
        [line] = done.stderr.splitlines()
        assert "plan.mod.tarvok-pending was left alone: it records another pair" in line
    assert victim.read_text() == "the user's own\n" and (folder / "evil").read_text() == "planted\n"
    assert (folder / "plan.mod").read_text() == GOOD_MODEL and (folder / "plan.mod.tarvok-pending").exists()


def test_feedback_writes_its_backups_in_place_of_planted_links(folder, tmp_path):
    victim = tmp_path / "home" / ".bashrc"
    (folder / "plan.mod.bak").symlink_to(victim)
    (folder / "plan.mod.proposed.json.tmp").symlink_to(victim)
    revised = GOOD_MODEL.replace("y >= x", "y >= 2 * x")
    propose(folder, revised)
    done = feedback_apply(folder)
    assert done.returncode == 0, done.stderr
    assert (folder / "plan.mod").read_text() == revised
    assert not (folder / "plan.mod.bak").is_symlink() and (folder / "plan.mod.bak").read_text() == GOOD_MODEL
    assert victim.read_text() == "the user's own\n"


def test_what_if_alternatives_are_new_files(folder, tmp_path):
    victim = tmp_path / "home" / ".bashrc"
    (folder / "plan.alt1.mod").symlink_to(victim)
    (folder / "plan.alt2.dat").write_text("an earlier alternative\n")
    for taken in ("plan.alt1.mod", "plan.alt2.dat"):
        done = tarvok("solve", "text", "-m", "plan.mod", "-d", "plan.dat", "--what-if", "--replay",
                      str(tmp_path / "book.jsonl"), cwd=folder)  # fmt: skip
        assert done.returncode == 2
        assert f"{taken} exists; alternatives are written only as new files" in done.stderr
        (folder / taken).rename(tmp_path / taken)
    assert victim.read_text() == "the user's own\n"
    assert (tmp_path / "plan.alt2.dat").read_text() == "an earlier alternative\n"


@pytest.fixture
def served(llm_server, tmp_path):
    from test_web_browser import serving

    workdir = tmp_path / "work"
    workdir.mkdir()
    with serving(llm_server, workdir) as port:
        yield port, workdir


def test_the_page_server_follows_no_planted_file(served, tmp_path):
    from test_web_browser import post

    port, workdir = served
    outside = tmp_path / "outside"
    outside.mkdir()
    victim = tmp_path / "victim"
    victim.write_text("the user's own\n")
    assert post(port, "/api/apply", {"name": "plan", "model": GOOD_MODEL, "data": GOOD_DATA})[0] == 200
    (workdir / "plan.mod.bak").symlink_to(victim)
    shutil.rmtree(workdir / ".scratch", ignore_errors=True)
    (workdir / ".scratch").symlink_to(outside)
    revised = GOOD_MODEL.replace("y >= x", "y >= 2 * x")
    assert post(port, "/api/apply", {"name": "plan", "model": revised, "data": GOOD_DATA})[0] == 200
    assert (workdir / "plan.mod.bak").read_text() == GOOD_MODEL and victim.read_text() == "the user's own\n"
    status, written = post(port, "/api/emit", {"model": GOOD_MODEL, "data": GOOD_DATA, "format": "mps"})
    assert status == 200 and "ROWS" in written["text"]
    assert list(outside.iterdir()) == [] and not (workdir / ".scratch").is_symlink()

    plant_journal(workdir, victim)
    status, answer = post(port, "/api/apply", {"name": "plan", "model": GOOD_MODEL, "data": GOOD_DATA})
    assert status == 409 and "plan.mod.tarvok-pending was left alone" in answer["error"]
    assert victim.read_text() == "the user's own\n" and (workdir / "plan.mod").read_text() == revised


def test_concurrent_saves_of_one_name_never_tear_the_pair(served):
    from test_web_browser import post

    port, workdir = served
    marker = lambda path: path.read_text().rsplit("// save ", 1)[1]  # noqa: E731

    def save(tag):
        body = {"name": "plan", "model": f"{GOOD_MODEL}// save {tag}\n", "data": f"{GOOD_DATA}// save {tag}\n"}
        return post(port, "/api/apply", body)[0]

    with ThreadPoolExecutor(30) as pool:
        for round in range(4):
            statuses = list(pool.map(save, [f"{round}-{i}" for i in range(30)]))
            assert set(statuses) == {200}, statuses
            assert marker(workdir / "plan.mod") == marker(workdir / "plan.dat")
            assert marker(workdir / "plan.mod.bak") == marker(workdir / "plan.dat.bak")
    assert not list(workdir.glob(".tarvok-*")) and not (workdir / "plan.mod.tarvok-pending").exists()


def test_eval_writes_nothing_through_a_link_in_its_out_folder(llm, tmp_path):  # noqa: F811
    path, out, outside = dataset(tmp_path, ["bakery"]), tmp_path / "out", tmp_path / "outside"
    out.mkdir()
    outside.mkdir()
    (out / "bakery").symlink_to(outside)  # a problem's folder: replaced by a folder of the run's own
    done = command([str(path), "--out", "out", "--model", "gpt-test", "--iterations", "2"], tmp_path)
    _, stderr = done.communicate(timeout=180)
    assert done.returncode == 0, stderr
    assert (out / "bakery" / "model.mod").is_file() and not (out / "bakery").is_symlink()
    (out / "results.jsonl").rename(tmp_path / "results.jsonl")
    (out / "results.jsonl").symlink_to(outside / "results.jsonl")  # the records: refused before any request
    asked = len(llm.asked)
    refused = command([str(path), "--out", "out", "--model", "gpt-test"], tmp_path)
    _, stderr = refused.communicate(timeout=180)
    assert refused.returncode != 0 and "results.jsonl" in stderr
    assert list(outside.iterdir()) == [] and len(llm.asked) == asked


def test_eval_writes_nothing_through_a_link_planted_while_a_problem_runs(llm, openai_server, tmp_path):  # noqa: F811
    path, out, victim = dataset(tmp_path, ["bakery"]), tmp_path / "out", tmp_path / "victim"
    names = ("transcript.jsonl", "model.mod", "data.dat")
    answer = openai_server.server.handler

    def planting(request):  # once the problem's folder is readied, before anything is written in it
        if not llm.asked:
            for name in names:
                (out / "bakery" / name).symlink_to(victim)
        return answer(request)

    openai_server.server.handler = planting
    done = command([str(path), "--out", "out", "--model", "gpt-test", "--iterations", "1"], tmp_path)
    _, stderr = done.communicate(timeout=180)
    assert done.returncode == 0, stderr
    assert not victim.exists() and not any((out / "bakery" / name).is_symlink() for name in names)
    transcript = (out / "bakery" / "transcript.jsonl").read_text().splitlines()
    assert [json.loads(line)["step"] for line in transcript][0] == "generate" and len(transcript) == len(llm.asked)
