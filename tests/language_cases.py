"""The language cases under compiler_cases/<area>/: what each states (compiles, an objective, the diagnostics
written beside their lines), read strictly, and written from what the compiler reports:

    python language_cases.py annotate compiler_cases/<area>/<case>.mod [--warnings]

compiler_cases/README.md describes the format."""

import argparse
import dataclasses
import math
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).parent / "compiler_cases"
# A solved objective passes when |found - expected| <= OBJECTIVE_TOLERANCE * max(1, |expected|).
OBJECTIVE_TOLERANCE = 1e-6

HEADER = "// expect: "
ANNOTATION = re.compile(
    r"(?P<lead>//\s*)(?:(?P<mark>[\^v])(?P<column>\d+)?|(?P<end>end))"
    r" (?P<severity>error|warning)\[(?P<code>T\d{4})\]: (?P<message>\S.*)"
)
# What only an annotation says; a line like this that is not a well-formed annotation is refused.
ANNOTATION_LIKE = re.compile(r"\s*//\s*(\^|(v\d*|end)\s+(error|warning)\b)|.*//.*\b(error|warning)\s*\[T")
# A diagnostic or notice listed in the header, as cases once did.
HEADER_DIAGNOSTIC = re.compile(r"(model|data):\d+:\d+: |\(stopped after")
NOTICE = re.compile(r"\(stopped after .*\)")
# The lines of a compiler report that the cases check: diagnostics and the notice.
REPORTED = re.compile(r"^((model|data):\d+:\d+: |\(stopped after)")


class MalformedCase(ValueError):
    """A case whose expectations cannot be read as written."""


@dataclasses.dataclass(frozen=True)
class Diagnostic:
    severity: str
    code: str
    file: str
    line: int
    column: int
    message: str

    @property
    def text(self):
        """The diagnostic as the compiler's report prints it."""
        return f"{self.file}:{self.line}:{self.column}: {self.message}"

    @classmethod
    def of(cls, record):
        return cls(*(record[k] for k in ("severity", "code", "file", "line", "column", "message")))


@dataclasses.dataclass(frozen=True)
class Case:
    name: str
    model: str
    data: str
    compiles: bool
    objective: float | None
    notice: str | None
    errors: tuple[Diagnostic, ...]
    warnings: tuple[Diagnostic, ...]

    @property
    def report(self):
        """The report lines the compiler must print: each error, then the notice if any."""
        return [e.text for e in self.errors] + ([self.notice] if self.notice else [])


def names():
    """Every case as '<area>/<name>'."""
    return sorted(p.relative_to(ROOT).with_suffix("").as_posix() for p in ROOT.rglob("*.mod"))


def read(name):
    """The case `name`, its expectations checked for form (MalformedCase otherwise)."""
    model_path = ROOT / f"{name}.mod"
    data_path = model_path.with_suffix(".dat")
    model = model_path.read_text(encoding="utf-8")
    data = data_path.read_text(encoding="utf-8") if data_path.exists() else ""
    return parse(name, model, data)


def parse(name, model, data):
    directives = header_of(model)
    for file, text in (("model", model), ("data", data)):
        for number, line in enumerate(text.split("\n"), 1):
            if line.startswith("// expect:") and (file == "data" or number > len(directives)):
                raise MalformedCase(f"{name}.{file[:3]}:{number}: '// expect:' lines open the model, before all else")
    compiles, objective, notice = False, None, None
    for directive in directives:
        if HEADER_DIAGNOSTIC.match(directive):
            raise MalformedCase(
                f"{name}.mod: '{HEADER}{directive}': write each diagnostic beside its line "
                "(`python language_cases.py annotate` does it; see compiler_cases/README.md)"
            )
        if directive == "compiles" and not compiles:
            compiles = True
        elif directive.startswith("objective ") and objective is None:
            objective = number_of(directive[len("objective ") :], name)
        elif directive.startswith("notice ") and notice is None and NOTICE.fullmatch(directive[len("notice ") :]):
            notice = directive[len("notice ") :]
        else:
            raise MalformedCase(f"{name}.mod: unknown or repeated expectation '{HEADER}{directive}'")
    if compiles and objective is not None:
        raise MalformedCase(f"{name}.mod: 'objective' already says that the case compiles; drop 'compiles'")
    compiles = compiles or objective is not None
    stated = annotations(model, "model", name) + annotations(data, "data", name)
    errors = tuple(d for d in stated if d.severity == "error")
    warnings = tuple(d for d in stated if d.severity == "warning")
    if compiles and (errors or notice):
        raise MalformedCase(f"{name}: a case that compiles states no errors and no notice")
    if not compiles and not errors:
        raise MalformedCase(f"{name}: states no outcome: '{HEADER}compiles', '{HEADER}objective N' or its errors")
    return Case(name, model, data, compiles, objective, notice, errors, warnings)


def header_of(model):
    """The directives of the model's opening '// expect: ' lines."""
    directives = []
    for line in model.split("\n"):
        if not line.startswith(HEADER):
            break
        directives.append(line[len(HEADER) :])
    return directives


def number_of(text, name):
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value):
        raise MalformedCase(f"{name}.mod: the objective '{text}' is not a finite number")
    return value


def end_of(text):
    """(line, column) just past the last character, where the compiler reports the end of the text."""
    last = text.rsplit("\n", 1)[-1]
    return text.count("\n") + 1, len(last) + 1


def annotations(text, file, name):
    """The diagnostics written beside the lines of `text`, in source order."""
    where = f"{name}.{file[:3]}"
    found, above, below, closed = [], None, [], False
    for number, line in enumerate(text.split("\n"), 1):
        match = ANNOTATION.fullmatch(line)
        if match is None:
            if ANNOTATION_LIKE.match(line):
                raise MalformedCase(f"{where}:{number}: not a well-formed annotation: {line!r}")
            if closed and line:
                raise MalformedCase(f"{where}:{number}: 'end' annotations are the last lines of the text")
            above = (number, line)
            found.extend(at(mark, above, where) for mark in below)
            below = []
            continue
        if closed and not match["end"]:
            raise MalformedCase(f"{where}:{number}: 'end' annotations are the last lines of the text")
        if match["end"]:
            closed = True
            found.append(diagnostic(match, file, *end_of(text)))
        elif match["mark"] == "v":
            below.append((number, match, file))
        elif above is None:
            raise MalformedCase(f"{where}:{number}: a '^' annotation with no line above it")
        else:
            found.append(at((number, match, file), above, where))
    if below:
        raise MalformedCase(f"{where}:{below[0][0]}: a 'v' annotation with no line below it")
    return sorted(found, key=lambda d: (d.line, d.column))


def at(mark, target, where):
    """The diagnostic that the annotation `mark` places on the line `target`."""
    number, match, file = mark
    caret = len(match["lead"]) + 1
    column = int(match["column"] or caret)
    if match["column"] and column >= caret:
        raise MalformedCase(f"{where}:{number}: put the caret under column {column} instead of naming it")
    if column > len(target[1]) + 1:
        raise MalformedCase(f"{where}:{number}: column {column} is past the end of line {target[0]}")
    return diagnostic(match, file, target[0], column)


def diagnostic(match, file, line, column):
    return Diagnostic(match["severity"], match["code"], file, line, column, match["message"])


# ------------------------------------------------------------------ writing annotations


def compile_pair(model, data):
    """(error records in the report, warning records, the notice or None) of compiling the pair."""
    from tarvok.tarvok_core import SemanticError, TVLCompiler

    try:
        result = TVLCompiler().compile_model(model, data)
    except SemanticError as error:
        reported = [line for line in str(error).splitlines() if REPORTED.match(line)]
        notice = reported.pop() if reported and NOTICE.fullmatch(reported[-1]) else None
        records = error.diagnostics
        shown = [r for r in records if r["severity"] == "error"][: len(reported)]
        return shown, [r for r in records if r["severity"] == "warning"], notice
    return [], result["warnings"], None


def without_annotations(text):
    text = "\n".join(line for line in text.split("\n") if not ANNOTATION_LIKE.match(line))
    return text if not text or text.endswith("\n") else text + "\n"


def caret_line(diagnostic, mark):
    column = diagnostic.column
    mark = mark if column >= 3 else f" {mark}{column}"
    return "//" + " " * max(column - 3, 0) + mark + f" {diagnostic.severity}[{diagnostic.code}]: {diagnostic.message}"


def goes_above(diagnostic):
    """A message that holds '*/' would close a block comment its line opens: it is written above the line."""
    return "*/" in diagnostic.message


def render(text, diagnostics):
    """`text` (ending with a newline) with each diagnostic at a position of it written beside its line, and the
    new number of each line."""
    if not text:
        return text, {1: 1}
    at_end = [d for d in diagnostics if (d.line, d.column) == end_of(text)]
    below = {}
    for d in diagnostics:
        if d not in at_end:
            below.setdefault(d.line, []).append(d)
    out, moved = [], {}
    for number, line in enumerate(text.split("\n")[:-1], 1):
        here = sorted(below.pop(number, []), key=lambda d: d.column)
        out.extend(caret_line(d, "v") for d in here if goes_above(d))
        moved[number] = len(out) + 1
        out.append(line)
        out.extend(caret_line(d, "^") for d in here if not goes_above(d))
    if below:
        raise SystemExit(f"diagnostics past the last line: {below}")
    moved[len(moved) + 1] = len(out) + 1 + len(at_end)
    out.extend(f"// end {d.severity}[{d.code}]: {d.message}" for d in at_end)
    return "\n".join(out) + "\n", moved


def annotate(model_path, with_warnings):
    """Writes the diagnostics the compiler reports for the case beside their lines (and its notice, if any, in
    the header); the warnings too when asked, or when the case already states some. Diagnostics still listed in the header are checked first: the same texts, their line numbers
    (their own and those their messages name) moved with the lines."""
    data_path = model_path.with_suffix(".dat")
    model = model_path.read_text(encoding="utf-8")
    data = data_path.read_text(encoding="utf-8") if data_path.exists() else ""
    written = [ANNOTATION.fullmatch(line) for line in (model + "\n" + data).split("\n")]
    with_warnings = with_warnings or any(m and m["severity"] == "warning" for m in written)
    directives = header_of(model)
    listed = [d for d in directives if HEADER_DIAGNOSTIC.match(d) and not NOTICE.fullmatch(d)]
    listed_notice = next((d for d in directives if NOTICE.fullmatch(d)), None)
    claims = [d for d in directives if d == "compiles" or d.startswith("objective ")]
    body = model.split("\n", len(directives))[-1] if directives else model
    data = without_annotations(data)

    def with_header(notice):
        return "".join(f"{HEADER}{d}\n" for d in claims + ([f"notice {notice}"] if notice else []))

    errors, warnings, notice = compile_pair(with_header(None) + without_annotations(body), data)
    if errors and claims:
        raise SystemExit(f"{model_path}: the header says {claims} but the case does not compile")
    if not errors and not claims:
        claims = ["compiles"]
    model = with_header(notice) + without_annotations(body)
    errors, warnings, notice = compile_pair(model, data)

    for attempt in range(2):  # the second pass takes the messages whose line numbers moved with the annotations
        chosen = [Diagnostic.of(r) for r in errors + (warnings if with_warnings else [])]
        new_texts, moves = {}, {}
        for file, text in (("model", model), ("data", data)):
            new_texts[file], moves[file] = render(text, [d for d in chosen if d.file == file])
        new_errors, new_warnings, _ = compile_pair(new_texts["model"], new_texts["data"])
        if len(new_errors) != len(errors) or len(new_warnings) != len(warnings):
            raise SystemExit(f"{model_path}: the annotations changed what the compiler reports")
        errors = [dict(r, message=n["message"]) for r, n in zip(errors, new_errors)]
        warnings = [dict(r, message=n["message"]) for r, n in zip(warnings, new_warnings)]

    case = parse(model_path.stem, new_texts["model"], new_texts["data"])
    if case.report != [Diagnostic.of(r).text for r in new_errors] + ([notice] if notice else []):
        raise SystemExit(f"{model_path}: the annotations do not read back as the compiler's report")
    if listed or listed_notice:
        # Old line numbers counted the old header; the new one has its own length.
        shift = len(directives) - len(header_of(new_texts["model"]))
        model_moves = {line + shift: new for line, new in moves["model"].items()}
        old = [moved_text(t, model_moves, moves["data"]) for t in listed] + ([listed_notice] if listed_notice else [])
        if old != case.report:
            lines = "".join(f"  - {a}\n  + {b}\n" for a, b in zip(old, case.report) if a != b)
            raise SystemExit(f"{model_path}: the header's diagnostics differ from the annotations:\n{lines}")
    model_path.write_text(new_texts["model"], encoding="utf-8")
    if data_path.exists():
        data_path.write_text(new_texts["data"], encoding="utf-8")


def moved_text(listed, model_moves, data_moves):
    """A header diagnostic with its line numbers moved as the lines moved ('?N' where line N went away)."""
    file, line, column, message = re.fullmatch(r"(model|data):(\d+):(\d+): (.*)", listed).groups()
    moves = model_moves if file == "model" else data_moves

    def moved(match):
        mapping = model_moves if "model" in match.string[: match.start()] else moves
        number = int(match["line"])
        return match[0][: -len(match["line"])] + str(mapping.get(number, f"?{number}"))

    message = re.sub(r"(?:line |\b(?=\d+:\d))(?P<line>\d+)", moved, message)
    return f"{file}:{moves.get(int(line), '?' + line)}:{column}: {message}"


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    command = commands.add_parser("annotate", help="write the compiler's diagnostics beside their lines")
    command.add_argument("models", nargs="+", type=pathlib.Path)
    command.add_argument("--warnings", action="store_true", help="write the warnings too")
    arguments = parser.parse_args()
    for path in arguments.models:
        annotate(path, arguments.warnings)
    sys.exit(0)
