"""The seven prompts, compared as whole texts with prompts assembled here from
the protocol's fixed pieces, and the error-list rendering."""

import pytest

# The protocol's fixed pieces, copied verbatim, one line each.
ROLE = "<role>\nYou are an expert in mathematical optimization and Tarvok.\n</role>\n\n"
GRAMMAR_OPEN = "<grammar_reference>\n--- BEGIN TARVOK SYNTAX IMPLEMENTATION ---\n"
GRAMMAR_CLOSE = "\n--- END TARVOK SYNTAX IMPLEMENTATION ---\n</grammar_reference>\n\n"
MODEL_DATA_CONTRACT = '<output_requirements>\n- Return ONLY a JSON object with exactly two keys: "model" (the Tarvok model) and "data" (the matching data file).\n- The values must be single JSON strings (no arrays/objects inside them).\n- Escape all double quotes and backslashes; encode newlines as \\n.\n- No trailing commas. No additional keys. No commentary.\n- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n</output_requirements>\n\n<json_schema>\n{\n  "type": "object",\n  "additionalProperties": false,\n  "required": ["model", "data"],\n  "properties": {\n    "model": {"type": "string"},\n    "data":  {"type": "string"}\n  }\n}\n</json_schema>\n\n<example_output>\n{\n  "model": "float a;\\nfloat b;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }",  "data":  "a = 10;\\nb= 5;"\n}\n</example_output>\n'
FEW_SHOT_OPEN = "<few_shot_examples>\nUse the following exemplars as guidance for structure and syntax only. Do not copy variable names unless appropriate to the new problem.\n"
GENERATION_TASK = "<task>\nGenerate a valid Tarvok model (.mod) and a matching data file (.dat) for the given problem description.\nEnsure the model decision variables, objective function, and constraints fully align with the provided problem description.\nInfer from the problem context whether decision variables should be integer, binary, or continuous.\nLabel all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\nIf data are missing, create a small, plausible mock instance consistent with the model.\nUse the following Tarvok syntax implementation as a reference for valid Tarvok syntax.\nYou are also provided with a few-shot examples section; use it only as guidance and produce a solution tailored to the new problem.\n</task>\n\n"
SYNTAX_TASK = "<task>\nThe previous attempt to generate a Tarvok model and data file failed due to syntax errors.\nRevise the model and data to fix the errors while retaining alignment with the problem description.\nChange only what is necessary to fix the errors.\nLabel all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\nUse the following Tarvok syntax implementation as a reference for valid Tarvok syntax.\nYou are also provided with a few-shot examples section; use it only as guidance and produce a solution tailored to the new problem.\n</task>\n\n"
SYNTAX_GUIDELINES = "\n</errors>\n\n<revision_guidelines>\n- Fix the listed syntax/semantic errors.\n- Preserve the original modeling intent and structure when possible.\n- Ensure the model compiles with the data under the given implementation.\n- Return complete model and data strings; do not return diffs.\n</revision_guidelines>\n\n"
REALIGN_TASK_OPEN = "<task>\nThe previous attempt produced a syntactically valid Tarvok model and data, but they are NOT fully aligned with the problem description.\n<assessment>\n"
REALIGN_TASK_CLOSE = "\n</assessment>\nRevise the model and data so that they fully align with the problem description while preserving syntactic validity.\nChange only what is necessary to achieve alignment (objective, constraints, variables, sets/parameters, and data consistency).\nLabel all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\nUse the following Tarvok syntax implementation as a reference for valid Tarvok syntax.\nYou are also provided with a few-shot examples section; use it only as guidance and produce a solution tailored to the new problem.\n</task>\n\n"
REALIGN_GUIDELINES = "\n</data>\n</previous_attempt>\n\n<revision_guidelines>\n- Ensure the objective, constraints, indices, and variable domains reflect the problem description.\n- Make the minimal set of changes necessary to correct misalignment.\n- Keep syntax strictly valid.\n- Return complete model and data strings; do not return diffs.\n</revision_guidelines>\n\n"
EXECUTION_TASK = "<task>\nThe previous attempt produced a Tarvok model and data that compile, but solving them did not give an optimal solution.\nRevise the model and data so that the problem has an optimal solution while retaining alignment with the problem description.\nChange only what is necessary to remove the cause of the solver's verdict.\nLabel all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\nUse the following Tarvok syntax implementation as a reference for valid Tarvok syntax.\nYou are also provided with a few-shot examples section; use it only as guidance and produce a solution tailored to the new problem.\n</task>\n\n"
EXECUTION_GUIDELINES = "\n</solver_verdict>\n\n<revision_guidelines>\n- Find the cause of the verdict: for an infeasible model, constraints with the wrong direction, sign, coefficient or right-hand side, or data that contradict each other; for an unbounded model, a missing constraint or bound, or an objective with the wrong sense.\n- Preserve the original modeling intent and structure when possible.\n- Ensure the model compiles with the data under the given implementation.\n- Return complete model and data strings; do not return diffs.\n</revision_guidelines>\n\n"
ASSESSMENT_FOCUS = "<assessment_focus>\n- Objective and constraints reflect the prompt intent.\n- Decision variables have correct domains and indices.\n- Data is consistent with sets/parameters used by the model.\n- Signs, units, and indexing are correct; no missing links.\n- Any syntax error raised by the compiler.\n- Most impactful improvements if misaligned.\n</assessment_focus>\n\n"
ALIGNMENT_CONTRACT = '<output_requirements>\n- Return ONLY a JSON object with exactly two keys: "aligned" (boolean) and "assessment" (string).\n- If issues exist, mention the most critical fixes in "assessment", a single short paragraph (3–6 sentences) of plain text.\n- No Markdown. No bullet lists. No commentary. No additional keys. No trailing commas.\n- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n</output_requirements>\n\n<json_schema>\n{\n  "type": "object",\n  "additionalProperties": false,\n  "required": ["aligned", "assessment"],\n  "properties": {\n    "aligned": {"type": "boolean"},\n    "assessment": {"type": "string"}\n  }\n}\n</json_schema>\n\n<example_output>\n{ "aligned": false, "assessment": "The model objective function does not include fixed costs." }\n</example_output>\n'
PARAGRAPH_CONTRACT = "<output_requirements>\n- Return a single short paragraph (3–6 sentences) of plain text.\n- No Markdown, no bullet lists, no code fences.\n- If issues exist, mention the most critical fixes.\n</output_requirements>\n"
FEEDBACK_CONTRACT = '<output_requirements>\n- Return ONLY a JSON object with 1 required key and up to 2 optional keys:\n  "feedback" (required), "revised_model" (optional), "revised_data" (optional).\n- Each value must be a single JSON string. Escape all double quotes and backslashes;\n  encode newlines as \\n.\n- If no changes are needed, omit "revised_model" and "revised_data".\n- If changes are needed, return complete model and data strings; do not return diffs.\n- No trailing commas. No additional keys. No commentary.\n- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n</output_requirements>\n\n<json_schema>\n{\n  "type": "object",\n  "additionalProperties": false,\n  "required": ["feedback"],\n  "properties": {\n    "feedback": {"type": "string"},\n    "revised_model": {"type": "string"},\n    "revised_data": {"type": "string"}\n  }\n}\n</json_schema>\n\n<example_output>\n{\n  "feedback": "The model was missing coefficients a and b.",\n  "revised_model": "// minimal fix\\nfloat a;\\nfloat b;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }",  "revised_data":  "a = 10;\\nb= 5;"\n}\n</example_output>\n'
ALIGNMENT_TASK = "<task>\nAssess whether the generated Tarvok model and data fully align with the problem description.\nAlignment means the objective, constraints, decision variables, and data match the problem description.\nBe critical and specific about modeling choices, feasibility, and consistency.\nUse the following Tarvok syntax implementation as a reference for valid Tarvok syntax.\n</task>\n\n"
FINAL_TASK = "<task>\nAssess how well the generated Tarvok model and data align with the problem description.\nBe critical and specific about modeling choices, feasibility, and consistency.\nIf you believe the problem description is incomplete or ambiguous, point this out in your assessment.\nUse the following Tarvok syntax implementation as a reference for valid Tarvok syntax.\n</task>\n\n"
FEEDBACK_TASK = "<task>\nAnswer the user's question about the provided Tarvok model and data.\nProvide critical, specific feedback. If revisions are necessary for correctness,\nsemantics, or consistency with the grammar reference, propose minimal changes.\nOnly change what is necessary.\nLabel all constraints and the objective function meaningfully; thoroughly comment the changes to explain the purpose of variables, parameters, objective, and constraints; match these explanations to user's question by following the predicaments of literate programming.\nUse the following Tarvok syntax implementation as a reference for valid Tarvok syntax.\n</task>\n\n"


def section(few_shots):
    if not few_shots:
        return ""
    blocks = []
    for i, ex in enumerate(few_shots, 1):
        blocks.append(
            f'<example index="{i}">\n<description path="{ex.get("desc_path", "")}">\n{ex["description"]}\n'
            f'</description>\n\n<model_file path="{ex.get("model_path", "")}">\n{ex["model"]}\n</model_file>\n\n'
            f'<data_file path="{ex.get("data_path", "")}">\n{ex["data"]}\n</data_file>\n</example>\n'
        )
    return FEW_SHOT_OPEN + "".join(blocks) + "</few_shot_examples>\n\n"


def reference(grammar):
    return GRAMMAR_OPEN + grammar + GRAMMAR_CLOSE


def previous(model, data):
    return "\n</problem_description>\n\n<previous_attempt>\n<model>\n" + model + "\n</model>\n\n<data>\n" + data


def expected_generation(prompt, grammar, few_shots=None):
    return (
        ROLE
        + GENERATION_TASK
        + reference(grammar)
        + section(few_shots)
        + "<problem_description>\n"
        + prompt
        + "\n</problem_description>\n\n"
        + MODEL_DATA_CONTRACT
    )


def expected_syntax(prompt, grammar, model, data, errors, few_shots=None):
    shown = errors if isinstance(errors, str) else str(errors)
    return (
        ROLE
        + SYNTAX_TASK
        + reference(grammar)
        + section(few_shots)
        + "<problem_description>\n"
        + prompt
        + previous(model, data)
        + "\n</data>\n</previous_attempt>\n\n<errors>\n"
        + shown
        + SYNTAX_GUIDELINES
        + MODEL_DATA_CONTRACT
    )


def expected_realign(prompt, grammar, assessment, model, data, few_shots=None):
    return (
        ROLE
        + REALIGN_TASK_OPEN
        + assessment
        + REALIGN_TASK_CLOSE
        + reference(grammar)
        + section(few_shots)
        + "<problem_description>\n"
        + prompt
        + previous(model, data)
        + REALIGN_GUIDELINES
        + MODEL_DATA_CONTRACT
    )


def expected_verdict(status, message=None, subset=(), model=""):
    """The solver's verdict as the execution revision states it."""
    lines = model.split("\n")
    text = f'Solving the model with its data ended with the status "{status}".'
    if message:
        text += "\n" + message
    if subset:
        text += "\nThese constraints and bounds cannot all hold together (an irreducible infeasible subset):"
        for item in subset[:20]:
            line = item.get("line") or 0
            source = lines[line - 1].strip(" \t\r\f\v") if 0 < line <= len(lines) else ""
            text += "\n- " + ("bound of " if item.get("kind") == "bound" else "") + str(item["name"])
            text += f" (model line {line})" if line > 0 else ""
            text += ": " + source if source else ""
        if len(subset) > 20:
            text += f"\n- ... and {len(subset) - 20} more"
    return text


def expected_execution(prompt, grammar, model, data, verdict_text, few_shots=None):
    return (
        ROLE
        + EXECUTION_TASK
        + reference(grammar)
        + section(few_shots)
        + "<problem_description>\n"
        + prompt
        + previous(model, data)
        + "\n</data>\n</previous_attempt>\n\n<solver_verdict>\n"
        + verdict_text
        + EXECUTION_GUIDELINES
        + MODEL_DATA_CONTRACT
    )


def inputs(opener, text, joint, model, data):
    return opener + text + joint + model + "\n</model>\n\n<data>\n" + data


def expected_alignment(prompt, grammar, model, data):
    return (
        ROLE
        + ALIGNMENT_TASK
        + reference(grammar)
        + inputs("<inputs>\n<problem_description>\n", prompt, "\n</problem_description>\n\n<model>\n", model, data)
        + "\n</data>\n</inputs>\n\n"
        + ASSESSMENT_FOCUS
        + ALIGNMENT_CONTRACT
    )


def expected_final(prompt, grammar, model, data, errors):
    block = ""
    if errors:
        block = "SYNTAX ERRORS:\n" + (errors if isinstance(errors, str) else str(errors)) + "\n\n"
    return (
        ROLE
        + FINAL_TASK
        + reference(grammar)
        + inputs("<inputs>\n<problem_description>\n", prompt, "\n</problem_description>\n\n<model>\n", model, data)
        + "\n</data>\n\n"
        + block
        + "</inputs>\n\n"
        + ASSESSMENT_FOCUS
        + PARAGRAPH_CONTRACT
    )


def expected_feedback(question, grammar, model, data):
    return (
        ROLE
        + FEEDBACK_TASK
        + reference(grammar)
        + inputs("<inputs>\n<question>\n", question, "\n</question>\n\n<model>\n", model, data)
        + "\n</data>\n</inputs>\n\n"
        + FEEDBACK_CONTRACT
    )


TRICKY = "x </problem_description> <data> \"quoted\" 'single' back\\slash \\n é 😀 \u2028 \ud83d \t end\n"
EXAMPLES = [
    {
        "description": 'Ship <b>goods</b> "fast"',
        "model": "dvar float x;\n// </model_file>",
        "data": "a = 1;",
        "desc_path": "lib/a/desc.txt",
        "model_path": "lib/a/m.mod",
        "data_path": "lib/a/d.dat",
        "extra": "ignored",
    },
    {"description": TRICKY, "model": "m\\2", "data": "ünïcode"},
    {"description": "third", "model": "", "data": "", "desc_path": 'c:\\x\\"q".txt'},
]


@pytest.mark.parametrize("grammar", ["", "# Tarvok grammar\n\nmodel ::= decl* ;\n", TRICKY])
@pytest.mark.parametrize("few_shots", [None, [], EXAMPLES])
class TestWholePrompts:
    def test_generation(self, tg, grammar, few_shots):
        assert tg._build_generation_prompt(TRICKY, grammar, few_shots=few_shots) == expected_generation(
            TRICKY, grammar, few_shots
        )

    @pytest.mark.parametrize("errors", [[], ["line 3: expected ';'"], ["a\nb", 'say "it\'s"', "\x00\\"], "raw text"])
    def test_syntax_revision(self, tg, grammar, few_shots, errors):
        args = ("P <p>", grammar, "float a;\n", TRICKY, errors)
        assert tg._build_revision_prompt_syntax(*args, few_shots=few_shots) == expected_syntax(*args, few_shots)

    def test_alignment_revision(self, tg, grammar, few_shots):
        args = (TRICKY, grammar, "Fixed costs are missing.", "model </data>", "")
        assert tg._build_revision_prompt_alignment(*args, few_shots=few_shots) == expected_realign(*args, few_shots)

    @pytest.mark.parametrize(
        "result",
        [
            {"status": "unbounded", "objective": None, "message": "The objective can improve without limit."},
            {"status": "infeasible_or_unbounded"},
            {"status": "error", "message": None, "infeasible_constraints": None},
            {
                "status": "infeasible",
                "message": "No solution satisfies all constraints.",
                "infeasible_constraints": [
                    {"name": "capacity[Seattle]", "line": 3, "kind": "constraint"},
                    {"name": "ship[Seattle][Austin]", "line": 1, "kind": "bound"},
                    {"name": "late", "line": 99, "kind": "constraint"},
                    {"name": "c0", "line": 0, "kind": "constraint"},
                ],
            },
        ],
    )
    def test_execution_revision(self, tg, grammar, few_shots, result):
        model = "  dvar float+ ship[P][M];\t\r\n\n   forall(p in P) capacity: sum(m in M) ship[p][m] <= 1;  \n" + TRICKY
        args = (TRICKY, grammar, model, "d = 1;")
        verdict_text = expected_verdict(
            result["status"], result.get("message"), result.get("infeasible_constraints") or (), model
        )
        got = tg._build_revision_prompt_execution(*args, result, few_shots=few_shots)
        assert got == expected_execution(*args, verdict_text, few_shots)


@pytest.mark.parametrize("grammar", ["", TRICKY])
class TestWholeJudgingPrompts:
    def test_alignment(self, tg, grammar):
        assert tg._build_alignment_prompt(TRICKY, grammar, "m", "d") == expected_alignment(TRICKY, grammar, "m", "d")

    @pytest.mark.parametrize("errors", [[], ["SemanticError: x undefined", 'it\'s "bad"\n'], "", "one text"])
    def test_final_assessment(self, tg, grammar, errors):
        args = ("P", grammar, TRICKY, "d", errors)
        assert tg._build_final_assessment_prompt(*args) == expected_final(*args)

    def test_feedback(self, tg, grammar):
        args = ("Why is x unbounded? 'why'", grammar, TRICKY, 'd = "1";')
        assert tg._build_feedback_prompt(*args) == expected_feedback(*args)


class TestPromptDetails:
    def test_contracts(self, tg):
        assert len(MODEL_DATA_CONTRACT) == 834
        assert '"data":  {"type": "string"}' in MODEL_DATA_CONTRACT
        for prompt in (
            tg._build_generation_prompt("p", "g"),
            tg._build_revision_prompt_syntax("p", "g", "m", "d", []),
            tg._build_revision_prompt_alignment("p", "g", "a", "m", "d"),
        ):
            assert prompt.endswith(MODEL_DATA_CONTRACT) and prompt.count("<output_requirements>") == 1
        assert "(3\u20136 sentences)" in tg._build_final_assessment_prompt("p", "", "m", "d", [])
        assert '"// minimal fix\\nfloat a;' in tg._build_feedback_prompt("q", "", "m", "d")

    def test_grammar_none_leaves_one_empty_line(self, tg):
        text = tg._build_alignment_prompt("p", tg._get_grammar_implementation(tg.Grammar.NONE), "m", "d")
        assert "--- BEGIN TARVOK SYNTAX IMPLEMENTATION ---\n\n--- END TARVOK SYNTAX IMPLEMENTATION ---\n" in text

    @pytest.mark.parametrize("missing", ["description", "model", "data"])
    def test_few_shot_entry_without_a_text_key(self, tg, missing):
        entry = {"description": "d", "model": "m", "data": "x"}
        del entry[missing]
        with pytest.raises(KeyError) as info:
            tg._build_generation_prompt("p", "g", few_shots=[{"description": "ok", "model": "m", "data": "x"}, entry])
        assert info.value.args == (missing,)

    def test_values_that_are_not_texts_show_their_text_form(self, tg):
        shots = [{"description": 42, "model": None, "data": 1.5, "desc_path": None}]
        got = tg._build_generation_prompt("p", "g", few_shots=shots)
        assert got == expected_generation(
            "p", "g", [{"description": "42", "model": "None", "data": "1.5", "desc_path": "None"}]
        )
        for errors in ([1, "two"], ("a", "b"), None, {"k": "v"}):
            assert tg._build_revision_prompt_syntax("p", "g", "m", "d", errors) == expected_syntax(
                "p", "g", "m", "d", str(errors)
            )

    def test_solver_verdict_keeps_long_subsets_and_lines_short(self, tg):
        long_line = "c: " + "x + " * 100 + "x <= 1;"
        subset = [{"name": f"c[{i}]", "line": 1, "kind": "constraint"} for i in range(23)]
        got = tg._build_revision_prompt_execution(
            "p", "", long_line, "", {"status": "infeasible", "infeasible_constraints": subset}
        )
        verdict = got.split("<solver_verdict>\n")[1].split("\n</solver_verdict>")[0]
        lines = verdict.split("\n")
        assert len(lines) == 2 + 20 + 1 and lines[-1] == "- ... and 3 more"
        assert lines[2] == "- c[0] (model line 1): " + long_line[:200] + "..."
        # A result map without a status is refused with the host's KeyError.
        with pytest.raises(KeyError):
            tg._build_revision_prompt_execution("p", "", "m", "d", {"message": "x"})

    def test_text_subclass_items_use_their_own_repr(self, tg):
        class Shown(str):
            def __repr__(self):
                return "<shown>"

        got = tg._build_revision_prompt_syntax("p", "g", "m", "d", [Shown("e")])
        assert "<errors>\n[<shown>]\n</errors>" in got
