"""Recording stand-ins for the collaborators of the two entry points."""

import json


class Recorder:
    def __init__(self):
        self.calls = []  # (name, args, kwargs) in call order

    def names(self):
        return [c[0] for c in self.calls]

    def of(self, name):
        return [(a, k) for n, a, k in self.calls if n == name]


class ScriptedCompiler:
    """Stands in for TVLCompiler: each compile pops the next outcome (None
    compiles, an exception instance is raised)."""

    outcomes = []
    compiled = []

    def __init__(self, *args):
        assert args == ()

    def compile_model(self, *args, **kwargs):
        assert kwargs == {} and len(args) == 2
        type(self).compiled.append(args)
        outcome = type(self).outcomes.pop(0) if type(self).outcomes else None
        if outcome is not None:
            raise outcome
        return {}


def pair(model, data="d = 1;"):
    return json.dumps({"model": model, "data": data})


def verdict(aligned, assessment="  fine  "):
    return json.dumps({"aligned": aligned, "assessment": assessment})


def install(tg, monkeypatch, replies, compile_outcomes=(), few_shots=()):
    """Replaces every collaborator of generative_solve / generative_feedback
    except reply parsing; returns the recorder."""
    rec = Recorder()
    queue = list(replies)

    def record(name, result):
        def fake(*args, **kwargs):
            rec.calls.append((name, args, kwargs))
            return result(*args, **kwargs) if callable(result) else result

        monkeypatch.setattr(tg, name, fake)

    record("_get_grammar_implementation", lambda mode: "GRAMMAR:" + mode.name)
    record("_infer_provider", lambda p, m: tg.LLMProvider.OPENAI)
    record("_gather_few_shots", lambda *a, **k: list(few_shots))
    record("_build_generation_prompt", lambda p, g, few_shots=None: "GEN")
    record("_build_revision_prompt_syntax", lambda p, g, m, d, e, few_shots=None: "FIX:" + m)
    record("_build_revision_prompt_alignment", lambda p, g, a, m, d, few_shots=None: "ALIGN-FIX:" + a)
    record("_build_alignment_prompt", lambda p, g, m, d: "JUDGE:" + m)
    record("_build_final_assessment_prompt", lambda p, g, m, d, e: "FINAL:" + m)
    record("_build_feedback_prompt", lambda q, g, m, d: "FEEDBACK:" + q)
    record("_llm_generate_text", lambda **kw: queue.pop(0))

    ScriptedCompiler.outcomes = list(compile_outcomes)
    ScriptedCompiler.compiled = []
    monkeypatch.setattr(tg, "TVLCompiler", ScriptedCompiler)
    return rec


PAIR_REQUEST = '"required": ["model", "data"]'
VERDICT_REQUEST = '"required": ["aligned", "assessment"]'


class StandInLlm:
    """Answers each request by what its prompt asks for: every request for a pair gets `model` and `data`, an
    alignment request the verdict `aligned` with `assessment`, any other request (the final assessment)
    `assessment`. With `error` set, every request after the first pair raises it."""

    def __init__(self, model, data="", aligned=True, assessment="Fine.", error=None):
        self.model, self.data, self.aligned, self.assessment, self.error = model, data, aligned, assessment, error
        self.requests = []  # the keyword arguments of each request

    def __call__(self, **kwargs):
        self.requests.append(kwargs)
        prompt = kwargs["input_text"]
        if self.error is not None and len(self.requests) > 1:
            raise self.error
        if PAIR_REQUEST in prompt:
            return pair(self.model, self.data)
        if VERDICT_REQUEST in prompt:
            return verdict(self.aligned, self.assessment)
        return self.assessment


def stand_in_llm(tg, monkeypatch, model, data="", **script):
    """Puts a StandInLlm in place of the module's LLM step and returns it."""
    llm = StandInLlm(model, data, **script)
    monkeypatch.setattr(tg, "_llm_generate_text", llm)
    return llm
