"""A stand-in LLM for the assumptions step, answering each request by what its prompt asks for, over the
generator example of examples/what_if (its pairs in tests/fixtures/assumptions).

`python tests/assumption_fakes.py` records the example's replay book again (after a prompt changed) by running
`tarvok solve` in this process with this stand-in answering."""

import json
import sys
from pathlib import Path

HERE = Path(__file__).parent
PAIRS = HERE / "fixtures" / "assumptions"
EXAMPLE = HERE.parent / "examples" / "what_if"
DATA = (PAIRS / "main.dat").read_text()
MAIN = (PAIRS / "main.mod").read_text()
ALTERNATIVES = {
    "already running": (PAIRS / "alt.mod").read_text(),
    "every hour": (PAIRS / "alt2.mod").read_text(),
    "in tens": "dvar float+ power;\nminimize cost: 10 * pwr;\n",  # does not compile
    "the energy cost alone": MAIN.replace(
        "minimize totalCost:",
        "dexpr float answer = sum(g in Gens, h in Hours) energyCost[g] * power[g][h];  // the energy cost\n\n"
        "minimize totalCost:",
    ),
}
LISTED = [
    {
        "assumption": "Both generators are off before the first hour, so running in hour 1 costs a start.",
        "alternative": "the generators are already running before the first hour, so hour 1 costs no start",
        "where": "model lines 26-27 (firstStart)",
        "kind": "boundary_condition",
    },
    {
        "assumption": "A start is paid once, in the hour a generator switches on.",
        "alternative": "the start cost is paid for every hour a generator runs",
        "where": "model lines 15-16 (totalCost)",
        "kind": "interpretation",
    },
]
MORE = [
    {
        "assumption": "Demand is in MW.",
        "alternative": "demand is given in tens of MW",
        "where": "data line 3",
        "kind": "units",
    },
    {
        "assumption": "The question asks for the total cost.",
        "alternative": "the question asks for the energy cost alone",
        "where": "model line 15",
        "kind": "asked_quantity",
    },
]

PAIR_REQUEST = '"required": ["model", "data"]'
VERDICT_REQUEST = '"required": ["aligned", "assessment"]'
LIST_REQUEST = '"type": "array"'


class AssumingLlm:
    """Answers a pair request with the main pair, the assumptions request with `listed` (a text is sent as it is),
    an alternative's request with the pair its alternative names, a verdict request with "aligned"."""

    def __init__(self, listed=None):
        self.listed = LISTED if listed is None else listed
        self.steps = []

    def __call__(self, **kwargs):
        prompt = kwargs["input_text"]
        if "</alternative>" in prompt:
            self.steps.append("what_if")
            alternative = prompt.split("<alternative>\n", 1)[1].split("\n</alternative>", 1)[0]
            model = next(m for key, m in ALTERNATIVES.items() if key in alternative)
            return json.dumps({"model": model, "data": DATA})
        if PAIR_REQUEST in prompt:
            self.steps.append("pair")
            return "```json\n" + json.dumps({"model": MAIN, "data": DATA}) + "\n```"
        if LIST_REQUEST in prompt:
            self.steps.append("assumptions")
            return self.listed if isinstance(self.listed, str) else json.dumps(self.listed, indent=1)
        if VERDICT_REQUEST in prompt:
            self.steps.append("align")
            return json.dumps({"aligned": True, "assessment": "The model meets the demand at least cost."})
        self.steps.append("assess")
        return "The model meets the demand at least cost."


def record_book(book=EXAMPLE / "generators.jsonl"):
    """Runs the README's example with the stand-in answering and records its conversation as the book."""
    import os
    import tempfile

    from tarvok import _cli, tarvok_generative

    tarvok_generative._llm_generate_text = AssumingLlm()
    book.unlink(missing_ok=True)
    with tempfile.TemporaryDirectory() as out:
        os.chdir(HERE.parent)
        argv = [
            "solve",
            "@examples/what_if/generators.txt",
            "-m",
            f"{out}/generators.mod",
            "-d",
            f"{out}/generators.dat",
            "--grammar",
            "none",
            "--no-few-shot",
            "--assumptions",
            "--what-if",
            "--record",
            str(book),
        ]
        status = _cli.main(argv)
    lines = [json.loads(line) for line in book.read_text().splitlines()]
    for line in lines:  # as a provider would name itself
        line.update(provider="openai", model="gpt-5", seconds=0.0)
    book.write_text("".join(json.dumps(line, ensure_ascii=False) + "\n" for line in lines))
    return status


if __name__ == "__main__":
    sys.exit(record_book())
