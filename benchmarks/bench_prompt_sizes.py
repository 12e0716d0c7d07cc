"""Print the size in characters of each prompt for each grammar mode, with the
documents of the installed package and three few-shot examples: the text the
LLM reads (and is paid for) on every request.

The examples come from the shipped example library when it holds three
described model and data pairs, otherwise from three built-in samples of
typical size. Usage: python benchmarks/bench_prompt_sizes.py
"""

import os
import time

import tarvok.tarvok_generative as tg

DESCRIPTION = (
    "A company ships a single product from {n} plants to {m} customers. Each plant has a capacity and each "
    "customer a demand that must be met exactly. Shipping one unit along a lane has a known cost, and a lane "
    "may only be used when a fixed charge is paid for it. Decide which lanes to open and how much to ship on "
    "each so that all demand is met at the lowest total cost."
)
MODEL = """// Fixed-charge transportation
{string} Plants = ...;
{string} Customers = ...;
float capacity[Plants] = ...;   // units per period
float demand[Customers] = ...;  // units per period
float cost[Plants][Customers] = ...;
float fixed[Plants][Customers] = ...;

dvar float+ ship[Plants][Customers];  // units on each lane
dvar boolean open[Plants][Customers]; // lane in use

minimize total_cost:
  sum(p in Plants, c in Customers) (cost[p][c] * ship[p][c] + fixed[p][c] * open[p][c]);

subject to {
  forall(p in Plants) supply: sum(c in Customers) ship[p][c] <= capacity[p];
  forall(c in Customers) meet_demand: sum(p in Plants) ship[p][c] == demand[c];
  forall(p in Plants, c in Customers) use_lane: ship[p][c] <= capacity[p] * open[p][c];
}
"""
DATA = """Plants = {"North", "South"};
Customers = {"A", "B", "C"};
capacity = [120, 90];
demand = [60, 70, 50];
cost = [[4, 6, 9], [5, 3, 7]];
fixed = [[100, 120, 90], [110, 80, 130]];
"""


def library_examples(k=3):
    """Up to k examples from the shipped library, read as the workflow reads them."""
    root = os.path.join(os.path.dirname(tg.__file__), "tvl_models")
    found = []
    for folder, _, files in sorted(os.walk(root)):
        mods = sorted(f for f in files if f.endswith(".mod"))
        dats = sorted(f for f in files if f.endswith(".dat"))
        for desc in sorted(f for f in files if f.endswith(".txt")):
            if not (mods and dats) or len(found) == k:
                break
            paths = [os.path.join(folder, name) for name in (desc, mods[0], dats[0])]
            texts = [tg._safe_read_text(p) for p in paths]
            if all(texts):
                found.append(
                    dict(
                        zip(("description", "model", "data"), texts),
                        **dict(zip(("desc_path", "model_path", "data_path"), paths)),
                    )
                )
    return found


def sample_examples():
    return [
        {
            "description": DESCRIPTION.format(n=n, m=m),
            "model": MODEL,
            "data": DATA,
            "desc_path": f"tvl_models/sample{i}/problem.txt",
            "model_path": f"tvl_models/sample{i}/model.mod",
            "data_path": f"tvl_models/sample{i}/model.dat",
        }
        for i, (n, m) in enumerate(((2, 3), (3, 5), (4, 8)), 1)
    ]


def main():
    shots = library_examples()
    source = "shipped library"
    if len(shots) < 3:
        shots, source = sample_examples(), "built-in samples"
    prompt, model, data = DESCRIPTION.format(n=2, m=3), MODEL, DATA
    errors = ["Syntax error at line 12, column 7: expected ';' before 'subject'"]
    assessment = "The objective omits the fixed lane charges; add them and link open to ship."
    shot_chars = sum(len(s["description"]) + len(s["model"]) + len(s["data"]) for s in shots)
    print(f"few-shot examples: {len(shots)} from the {source} ({shot_chars} characters of text)")
    print(f"problem {len(prompt)}, model {len(model)}, data {len(data)} characters\n")

    builders = {
        "generation": lambda g: tg._build_generation_prompt(prompt, g, few_shots=shots),
        "syntax revision": lambda g: tg._build_revision_prompt_syntax(prompt, g, model, data, errors, few_shots=shots),
        "alignment revision": lambda g: tg._build_revision_prompt_alignment(
            prompt, g, assessment, model, data, few_shots=shots
        ),
        "alignment": lambda g: tg._build_alignment_prompt(prompt, g, model, data),
        "final assessment": lambda g: tg._build_final_assessment_prompt(prompt, g, model, data, errors),
        "feedback": lambda g: tg._build_feedback_prompt("Is the fixed charge modelled right?", g, model, data),
    }
    modes = list(tg.Grammar)
    references = {mode: tg._get_grammar_implementation(mode) for mode in modes}
    print(f"{'prompt (characters)':<22}" + "".join(f"{mode.name:>10}" for mode in modes))
    print(f"{'  grammar reference':<22}" + "".join(f"{len(references[m]):>10}" for m in modes))
    for name, build in builders.items():
        print(f"{name:<22}" + "".join(f"{len(build(references[m])):>10}" for m in modes))

    # Building is never the cost that matters; show it is negligible.
    reference = references[tg.Grammar.CODE]
    t0 = time.perf_counter()
    for _ in range(1000):
        builders["syntax revision"](reference)
    print(f"\nsyntax revision with the CODE reference: {(time.perf_counter() - t0) * 1000:.1f} us per build")


if __name__ == "__main__":
    main()
