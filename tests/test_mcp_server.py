"""`tarvok mcp` through the mcp package's own stdio client: the server runs in a subprocess, as an
agent's client starts it, and every tool is called on shipped examples and on bad input."""

import asyncio
import json
import os
import subprocess
import sys
import time
from contextlib import asynccontextmanager
from pathlib import Path

import pytest

mcp = pytest.importorskip("mcp")
from llm_server import openai_response  # noqa: E402
from mcp import ClientSession, StdioServerParameters, stdio_client  # noqa: E402
from mcp.shared.exceptions import MCPError  # noqa: E402
from test_cli import GOOD_DATA, GOOD_MODEL  # noqa: E402
from test_cli_statuses import market_split  # noqa: E402

import tarvok  # noqa: E402
from tarvok import _cli  # noqa: E402

LIBRARY = Path(tarvok.__file__).parent / "tvl_models"

# max 3x + 2y  s.t.  x + y <= 4,  x + 3y <= 6,  x <= 3: the vertex x = 3, y = 1 gives 11 (by hand).
LP_MODEL = """float cap = ...;
{string} Goods = ...;
float profit[Goods] = ...;
dvar float+ make[Goods];
maximize total: sum(g in Goods) profit[g] * make[g];
subject to {
  hours: sum(g in Goods) make[g] <= cap;
  steel: make["x"] + 3 * make["y"] <= 6;
  limit: make["x"] <= 3;
}
"""
LP_DATA = 'cap = 4;\nGoods = {"x", "y"};\nprofit = [3, 2];\n'
LP_JSON = {"cap": 4, "Goods": ["x", "y"], "profit": [3, 2]}
LP_KEYED = {"cap": 4, "Goods": ["x", "y"], "profit": {"y": 2, "x": 3}}


def server_environment(**changes):
    env = dict(os.environ)
    # Rank by shared words: no embedding model to load in every server.
    env["TARVOK_EMBEDDING_MODEL"] = "/nonexistent/embedding-model"
    for name, value in changes.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


@asynccontextmanager
async def session(env=None, args=("-m", "tarvok", "mcp")):
    params = StdioServerParameters(command=sys.executable, args=list(args), env=env or server_environment())
    with open(os.devnull, "w") as quiet:
        async with stdio_client(params, errlog=quiet) as (read, write):
            async with ClientSession(read, write) as s:
                await s.initialize()
                yield s


def run(scenario):
    return asyncio.run(asyncio.wait_for(scenario(), 180))


async def call(s, name, arguments, **options):
    result = await s.call_tool(name, arguments, **options)
    text = "".join(c.text for c in result.content if c.type == "text")
    return result, text


def test_lists_tools_resources_and_prompt():
    async def scenario():
        async with session() as s:
            tools = {t.name: t for t in (await s.list_tools()).tools}
            assert list(tools) == [
                "check_model",
                "run_model",
                "emit_script",
                "find_examples",
                "generate_model",
                "list_assumptions",
                "what_if",
            ]
            assert tools["run_model"].input_schema["required"] == ["model"]
            assert set(tools["run_model"].input_schema["properties"]) == {
                "model",
                "data",
                "time_limit",
                "mip_gap",
                "sensitivity",
            }
            assert set(tools["generate_model"].input_schema["properties"]) == {
                "description",
                "provider",
                "model",
                "iterations",
                "execution_check",
                "assumptions",
                "what_if",
                "what_if_max",
            }
            assert tools["check_model"].annotations.read_only_hint
            assert not tools["generate_model"].annotations.read_only_hint
            assert all(len(t.description) > 150 for t in tools.values())

            resources = {str(r.uri) for r in (await s.list_resources()).resources}
            examples = sorted(p.name for p in LIBRARY.iterdir() if (p / f"{p.name}.mod").is_file())
            assert resources == {"tarvok://language", "tarvok://diagnostics"} | {
                f"tarvok://examples/{n}" for n in examples
            }
            templates = (await s.list_resource_templates()).resource_templates
            assert [t.uri_template for t in templates] == ["tarvok://examples/{name}"]

            language = (await s.read_resource("tarvok://language")).contents[0].text
            assert language == (Path(tarvok.__file__).parent / "docs" / "grammars" / "Tarvok grammar.md").read_text()
            example = (await s.read_resource("tarvok://examples/transportation")).contents[0].text
            assert (LIBRARY / "transportation" / "transportation.mod").read_text() in example
            assert (LIBRARY / "transportation" / "transportation.dat").read_text() in example
            codes = json.loads((await s.read_resource("tarvok://diagnostics")).contents[0].text)
            assert {"code": "T0201", "severity": "error"}.items() <= next(
                c for c in codes if c["code"] == "T0201"
            ).items()
            for missing in ("tarvok://examples/../../secret", "tarvok://examples/nothing_here", "tarvok://other"):
                with pytest.raises(MCPError):
                    await s.read_resource(missing)

            prompts = (await s.list_prompts()).prompts
            assert [p.name for p in prompts] == ["formulate"]
            prompt = await s.get_prompt("formulate", {"description": "Plan the bakery's week."})
            text = prompt.messages[0].content.text
            assert "Plan the bakery's week." in text
            assert text.index("find_examples") < text.index("check_model") < text.index("run_model")

    run(scenario)


def test_tools_on_shipped_examples_and_a_hand_solved_program(tmp_path):
    async def scenario():
        async with session() as s:
            for name in ("transportation", "assignment", "bin_packing"):
                model = (LIBRARY / name / f"{name}.mod").read_text()
                data = (LIBRARY / name / f"{name}.dat").read_text()
                result, _ = await call(s, "check_model", {"model": model, "data": data})
                assert not result.is_error and result.structured_content["ok"], name
                result, text = await call(s, "run_model", {"model": model, "data": data, "time_limit": 30})
                assert not result.is_error and json.loads(text)["status"] == "optimal", name

            for data in (LP_DATA, LP_JSON, LP_KEYED):
                result, text = await call(s, "run_model", {"model": LP_MODEL, "data": data})
                solved = json.loads(text)
                assert not result.is_error and solved == result.structured_content
                assert solved["status"] == "optimal"
                assert solved["objective"] == pytest.approx(11)
                assert solved["values"]["make"] == pytest.approx({"x": 3, "y": 1})

            # The vertex is degenerate, so duals are not unique, but any optimal ones meet the optimum.
            result, text = await call(s, "run_model", {"model": LP_MODEL, "data": LP_DATA, "sensitivity": True})
            solved = json.loads(text)
            assert not result.is_error and "notes" not in solved and solved["sensitivity_basis"] == "lp"
            duals = solved["duals"]
            assert 4 * duals["hours"] + 6 * duals["steel"] + 3 * duals["limit"] == pytest.approx(11)
            assert set(solved["ranging"]) == {"costs", "rhs"}

            result, script = await call(s, "emit_script", {"model": LP_MODEL, "data": LP_JSON})
            assert not result.is_error and result.structured_content == {"script": script}
            (tmp_path / "lp.py").write_text(script)
            done = subprocess.run([sys.executable, "lp.py"], cwd=tmp_path, capture_output=True, text=True, timeout=120)
            assert done.returncode == 0, done.stderr
            assert json.loads(done.stdout)["objective"] == pytest.approx(11)

            description = (LIBRARY / "transportation" / "transportation.txt").read_text()
            result, _ = await call(s, "find_examples", {"description": description, "k": 2})
            found = result.structured_content
            assert not result.is_error and found["ranking"] == "lexical"
            assert [e["name"] for e in found["examples"]][0] == "transportation" and len(found["examples"]) == 2
            first = found["examples"][0]
            assert first["model"] == (LIBRARY / "transportation" / "transportation.mod").read_text()
            assert first["data"] == (LIBRARY / "transportation" / "transportation.dat").read_text()
            assert first["uri"] == "tarvok://examples/transportation"

    run(scenario)


HUGE_MODEL = "dvar float x[1..100000000];\nminimize sum(i in 1..100000000) x[i];\n"

BAD_CALLS = [
    # (tool, arguments, a piece of the message)
    ("run_model", {"model": "dvar float x;\nminimize z;\n"}, "model:2:10: undeclared name 'z'"),
    ("emit_script", {"model": "dvar float x;\nminimize z;\n"}, "undeclared name 'z'"),
    ("run_model", {"model": LP_MODEL, "data": "cap = ;"}, "data:1:7"),
    ("run_model", {"model": LP_MODEL, "data": {**LP_JSON, "profit": [3, 2, 1]}}, "'profit' has 3 values"),
    ("run_model", {"model": LP_MODEL, "data": {**LP_JSON, "Goods": "x"}}, "'Goods' is a set"),
    ("run_model", {"model": LP_MODEL, "data": {**LP_JSON, "profit": {"x": 3}}}, "'profit' has no value for \"y\""),
    ("check_model", {"model": LP_MODEL, "data": {"cap = 1; Goods": 4}}, "'cap = 1; Goods' is not a name"),
    ("check_model", {"model": LP_MODEL, "data": 7}, "'data' must be a data text or a JSON object"),
    ("run_model", {"model": HUGE_MODEL}, "'x' would have 100000000 (1e8) elements"),
    ("check_model", {"model": "// " + "x" * (16 << 20)}, "'model' has 16777219 bytes; at most 16777216"),
    ("run_model", {"data": LP_DATA}, "'model' is required"),
    ("run_model", {"model": LP_MODEL, "data": LP_DATA, "mip_gap": "small"}, "'mip_gap' must be a number"),
    ("run_model", {"model": LP_MODEL, "solver": "cplex"}, "unknown argument 'solver'"),
    ("find_examples", {"description": "  "}, "'description' is empty"),
    ("find_examples", {"description": "ship", "k": 1000}, "'k' must be from 1 to 32"),
    ("generate_model", {"description": "plan", "iterations": 2.5}, "'iterations' must be a whole number"),
    ("no_such_tool", {}, "unknown tool 'no_such_tool'"),
]


def test_bad_input_is_an_error_result_and_the_server_stays_up():
    async def scenario():
        async with session() as s:
            for tool, arguments, expected in BAD_CALLS:
                result, text = await call(s, tool, arguments)
                assert result.is_error, (tool, arguments, text)
                assert expected in text, (tool, text)
            result, _ = await call(s, "run_model", {"model": HUGE_MODEL})
            assert [d["code"] for d in result.structured_content["diagnostics"]] == ["T0707"]
            # A model that does not compile is check_model's answer, not a failed call.
            result, _ = await call(s, "check_model", {"model": "dvar float x;\nminimize z;\n"})
            assert not result.is_error and not result.structured_content["ok"]
            error, warning = result.structured_content["diagnostics"]
            assert (error["code"], error["file"], error["line"], error["column"]) == ("T0201", "model", 2, 10)
            assert (warning["severity"], warning["code"]) == ("warning", "T0903")
            # Still answering, and right.
            result, text = await call(s, "run_model", {"model": LP_MODEL, "data": LP_DATA})
            assert json.loads(text)["objective"] == pytest.approx(11)

    run(scenario)


def test_an_infeasible_model_names_its_constraints():
    model = "dvar float+ x;\nsubject to {\n  low: x >= 5;\n  high: x <= 2;\n}\n"

    async def scenario():
        async with session() as s:
            result, text = await call(s, "run_model", {"model": model})
            solved = json.loads(text)
            assert not result.is_error and solved["status"] == "infeasible"
            assert {c["name"] for c in solved["infeasible_constraints"]} >= {"low", "high"}

    run(scenario)


def pair_reply(model, data):
    return openai_response(json.dumps({"model": model, "data": data}))


def test_generate_model_against_a_scripted_server(llm_server):
    llm_server.queue(
        pair_reply(GOOD_MODEL, GOOD_DATA),
        openai_response(json.dumps({"aligned": True, "assessment": "Matches the description."})),
    )
    env = server_environment(OPENAI_API_KEY="sk-test", OPENAI_BASE_URL=llm_server.url + "/v1")

    async def scenario():
        progress = []

        async def on_progress(done, total, message):
            progress.append(message)

        async with session(env) as s:
            result, _ = await call(
                s,
                "generate_model",
                {"description": "Cover demand x at least cost.", "model": "gpt-test", "iterations": 1},
                progress_callback=on_progress,
            )
            assert not result.is_error, result.content
            out = result.structured_content
            assert (out["model"], out["data"], out["compiled"], out["aligned"]) == (GOOD_MODEL, GOOD_DATA, True, True)
            assert out["assessment"] == "Matches the description."
            assert out["solution"]["status"] == "optimal" and out["solution"]["objective"] == pytest.approx(1)
            assert progress and all(isinstance(m, str) and m for m in progress)
        return progress

    run(scenario)
    assert [r.json["model"] for r in llm_server.requests_to("/v1/responses")] == ["gpt-test", "gpt-test"]


def test_readings_against_a_scripted_server(llm_server):
    """generate_model with the what-if step, list_assumptions and what_if on the generator example: the
    alternatives' optima (7000 and 8500 against 7500) were solved by hand in tests/fixtures/assumptions."""
    from assumption_fakes import ALTERNATIVES, DATA, EXAMPLE, LISTED, MAIN, AssumingLlm

    fake = AssumingLlm()
    llm_server.handler = lambda request: openai_response(fake(input_text=request.json["input"]))
    env = server_environment(OPENAI_API_KEY="sk-test", OPENAI_BASE_URL=llm_server.url + "/v1")
    description = (EXAMPLE / "generators.txt").read_text()
    llm = {"description": description, "provider": "openai"}

    async def scenario():
        async with session(env) as s:
            result, _ = await call(s, "generate_model", {**llm, "model": "gpt-test", "what_if": True, "what_if_max": 2})
            assert not result.is_error, result.content
            out = result.structured_content
            assert [a["kind"] for a in out["assumptions"][:2]] == ["boundary_condition", "interpretation"]
            table = out["what_if"]
            assert table["main"]["objective"] == pytest.approx(7500)
            assert [(a["objective"], a["same_answer"]) for a in table["alternatives"]] == [(7000, False), (8500, False)]
            assert table["alternatives"][0]["model"] == ALTERNATIVES["already running"]
            assert table["alternatives"][0]["data"] == DATA and "model_file" not in table["alternatives"][0]

            pair = {**llm, "model": MAIN, "data": DATA, "llm_model": "gpt-test"}
            result, _ = await call(s, "list_assumptions", pair)
            listed = result.structured_content["assumptions"]
            assert not result.is_error and [a["assumption"] for a in listed[:2]] == [a["assumption"] for a in LISTED]
            assert result.structured_content["what_if"] is None

            asked = len(llm_server.requests)
            result, _ = await call(s, "what_if", {**pair, **LISTED[1]})
            assert not result.is_error, result.content
            (alt,) = result.structured_content["what_if"]["alternatives"]
            assert (alt["alternative"], alt["objective"], alt["same_answer"]) == (LISTED[1]["alternative"], 8500, False)
            assert len(llm_server.requests) == asked + 1  # the one reading, nothing listed again
            assert "assumptions" not in result.structured_content

            result, text = await call(s, "what_if", {**pair, **LISTED[1], "model": "dvar float+ x;\nminimize o: y;"})
            assert result.is_error and "y" in text
            assert len(llm_server.requests) == asked + 1  # no request for a model that does not compile

    run(scenario)


def test_a_reply_past_the_limit_is_refused_unread(llm_server):
    llm_server.queue(pair_reply("// " + "x" * 40_000_000, ""))
    env = server_environment(OPENAI_API_KEY="sk-test", OPENAI_BASE_URL=llm_server.url + "/v1")

    async def scenario():
        async with session(env) as s:
            result, text = await call(s, "generate_model", {"description": "Anything.", "model": "gpt-test"})
            assert result.is_error and len(text) < 1000, text[:1000]
            assert "a reply may have (the limit of a model or data text); it was not read" in text

    run(scenario)
    assert len(llm_server.requests) == 1


def test_generate_model_without_a_key(llm_server):
    env = server_environment(OPENAI_API_KEY=None, OPENAI_BASE_URL=llm_server.url + "/v1")

    async def scenario():
        async with session(env) as s:
            result, text = await call(s, "generate_model", {"description": "Cover demand x at least cost."})
            assert result.is_error and "OPENAI_API_KEY environment variable not set." in text
            result, _ = await call(s, "check_model", {"model": GOOD_MODEL, "data": GOOD_DATA})
            assert result.structured_content == {"ok": True, "diagnostics": []}

    run(scenario)
    assert llm_server.requests == []


def test_the_command_starts_the_server():
    async def scenario():
        async with session(args=("-c", "import sys; from tarvok._cli import main; sys.exit(main(['mcp']))")) as s:
            assert (await s.list_tools()).tools

    run(scenario)


def cpu_seconds(pid):
    """The processor time a process has used, all its threads together."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_a_cancelled_solve_stops_and_run_model_has_a_default_time_limit(tmp_path):
    model, data = market_split()  # minutes of branching for HiGHS
    pid_file = tmp_path / "pid"
    start = (
        "import os, sys; open(sys.argv[1], 'w').write(str(os.getpid())); from tarvok._cli import main; main(['mcp'])"
    )

    async def busy(pid):
        before = cpu_seconds(pid)
        await asyncio.sleep(1)
        return cpu_seconds(pid) - before

    async def scenario():
        async with session(args=("-c", start, str(pid_file))) as s:
            run_model = next(t for t in (await s.list_tools()).tools if t.name == "run_model")
            assert run_model.input_schema["properties"]["time_limit"]["default"] == 60
            assert "after time_limit seconds (60 unless given)" in run_model.description
            pid = int(pid_file.read_text())
            solving = asyncio.create_task(call(s, "run_model", {"model": model, "data": data}))
            await asyncio.sleep(1)
            assert await busy(pid) > 0.2  # HiGHS at work
            solving.cancel()  # the client sends notifications/cancelled
            await asyncio.gather(solving, return_exceptions=True)
            await asyncio.sleep(1)
            # Stopped, not left running: a solve keeps a core busy (at least 0.2 s a second above); what is left
            # is the server waiting, with a little of the machine's load in it.
            assert await busy(pid) < 0.2
            _, text = await call(s, "run_model", {"model": LP_MODEL, "data": LP_DATA})
            assert json.loads(text)["objective"] == pytest.approx(11)

    run(scenario)


class RawMcp:
    """`tarvok mcp` spoken to line by line, for what the SDK's client will not send or wait for."""

    def __init__(self):
        self.process = subprocess.Popen(
            [sys.executable, "-m", "tarvok", "mcp"],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            env=server_environment(),
        )
        hello = {"protocolVersion": mcp.types.LATEST_PROTOCOL_VERSION, "capabilities": {}}
        assert "result" in self.request(1, "initialize", {**hello, "clientInfo": {"name": "raw", "version": "0"}})
        self.send_text(json.dumps({"jsonrpc": "2.0", "method": "notifications/initialized"}))

    def send_text(self, line):
        self.process.stdin.write(line.encode() + b"\n")
        self.process.stdin.flush()

    def request(self, number, method, params):
        self.send_text(json.dumps({"jsonrpc": "2.0", "id": number, "method": method, "params": params}))
        return json.loads(self.process.stdout.readline())


def test_every_request_is_answered_and_the_server_ends_with_its_client():
    model, data = market_split()
    server = RawMcp()
    deep = "[" * 100_000 + "]" * 100_000
    server.send_text(
        '{"jsonrpc": "2.0", "id": 2, "method": "tools/call", "params": {"name": "check_model", '
        '"arguments": {"model": "int n = ...;", "data": {"n": ' + deep + "}}}}"
    )
    answer = json.loads(server.process.stdout.readline())
    assert answer["id"] == 2 and "the message cannot be read" in answer["error"]["message"]
    listed = server.request(3, "tools/list", {})
    assert [t["name"] for t in listed["result"]["tools"]][0] == "check_model"

    arguments = {"model": model, "data": data, "time_limit": 300}
    server.send_text(
        json.dumps(
            {"jsonrpc": "2.0", "id": 4, "method": "tools/call", "params": {"name": "run_model", "arguments": arguments}}
        )
    )
    time.sleep(2)
    server.process.stdin.close()  # the client leaves mid-solve
    left = time.monotonic()
    assert server.process.wait(timeout=30) == 0
    assert time.monotonic() - left < 1.0
    server.process.stdout.close()


def test_without_the_sdk_it_says_which_extra_to_install(capsys, monkeypatch):
    monkeypatch.setitem(sys.modules, "mcp", None)
    status = _cli.main(["mcp"])
    out, err = capsys.readouterr()
    assert (status, out) == (2, "")
    assert "tarvok mcp needs the 'mcp' package" in err and "pip install 'tarvok[mcp]'" in err
    assert _cli.main(["mcp", "--help"]) == 0 and "docs/editors.md" in capsys.readouterr().out


hypothesis = pytest.importorskip("hypothesis")
st = hypothesis.strategies

ROUND_TRIP_MODEL = "{string} S = ...;\nstring t = ...;\nint n = ...;\nfloat f[1..2] = ...;\n"


@hypothesis.settings(max_examples=200, deadline=None)
@hypothesis.given(
    names=st.lists(st.text(), unique=True, max_size=5),
    text=st.text(),
    whole=st.integers(-(2**62), 2**62),
    # The language refuses magnitudes from 1e20 on (the solver's infinity).
    reals=st.lists(st.floats(-1e19, 1e19), min_size=2, max_size=2),
)
def test_json_data_arrives_as_given(names, text, whole, reals):
    """Whatever the texts and numbers, the data written from JSON holds exactly them: nothing in a
    value can end a string, start a comment or add an assignment."""
    from tarvok import mcp_server, tarvok_core

    data = {"S": names, "t": text, "n": whole, "f": reals}
    answer = mcp_server.call_tool("check_model", {"model": ROUND_TRIP_MODEL, "data": data})
    assert not answer["is_error"] and answer["structured"]["ok"], answer["content"]
    compiled = tarvok_core.TVLCompiler().compile_model(ROUND_TRIP_MODEL, answer["structured"]["data_text"])
    assert compiled["data"] == data
