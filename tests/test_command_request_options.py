"""--timeout and --replay hold for one command's requests alone: against a scripted server that answers slowly,
solve, feedback and models end at the command's timeout with the LLM-failure status, and the module's settings
are the user's while the request is out and after."""

import json
import subprocess
import sys
import time

from llm_server import ollama_generate, ollama_tags

from tarvok import _cli

MODEL = "dvar float+ y;\nminimize cost: y;\nsubject to {\n  atLeast: y >= 1;\n}\n"
TIMED_OUT = "Ollama request timed out: no complete reply within the 1 s request timeout (REQUEST_TIMEOUT, --timeout)"
LLM = ["--provider", "ollama", "--model", "llama3", "--timeout", "1"]


def test_timeout_and_replay_hold_for_the_command_alone(tg, ollama_server, tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "p.mod").write_text(MODEL)
    (tmp_path / "p.dat").write_text("")
    settings_seen = []

    def slowly(request):
        settings_seen.append((tg.REQUEST_TIMEOUT, tg.REPLAY_PATH))
        listing = request.path == "/api/tags"
        return (ollama_tags(["llama3"] * 20) if listing else ollama_generate("x" * 200)).trickled(0.5)

    ollama_server.server.handler = slowly
    ollama_server.set_timeout(30.0)  # the user's setting, which --timeout overrides for the one command
    for argv, message in [
        (["solve", "Cover demand.", "-m", "new.mod", "-d", "new.dat", "--no-few-shot"], TIMED_OUT),
        (["feedback", "Right?", "-m", "p.mod", "-d", "p.dat"], TIMED_OUT),
        (["models"], "Failed to list Ollama models: " + TIMED_OUT),
    ]:
        started = time.monotonic()
        assert _cli.main([*argv, *LLM]) == 5, argv
        assert time.monotonic() - started < 3, argv
        assert capsys.readouterr().err.splitlines()[-1] == "tarvok: error: " + message
    assert settings_seen == [(30.0, None)] * 3
    assert (tg.REQUEST_TIMEOUT, tg.REPLAY_PATH) == (30.0, None)

    # The real program answers feedback from a transcript of the very prompt it sends.
    prompts = []
    monkeypatch.setattr(tg, "_llm_generate_text", lambda **kw: prompts.append(kw["input_text"]) or '{"feedback": "x"}')
    tg.generative_feedback("Right?", "p.mod", "p.dat")
    reply = json.dumps({"feedback": "From the transcript."})
    (tmp_path / "talk.jsonl").write_text(json.dumps({"prompt": prompts[0], "reply": reply}) + "\n")
    done = subprocess.run(
        [sys.executable, "-m", "tarvok", "feedback", "Right?", "-m", "p.mod", "-d", "p.dat", "--replay", "talk.jsonl"],
        capture_output=True, text=True, timeout=120,
    )  # fmt: skip
    assert (done.returncode, done.stdout) == (0, "From the transcript.\n"), done.stderr
