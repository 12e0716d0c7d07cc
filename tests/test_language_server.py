"""`tarvok lsp` in a subprocess, driven by a client speaking JSON-RPC over its stdin and stdout."""

import random
import sys

import pytest
from lsp_client import LspClient, frame

pytest.importorskip("pygls")

MODEL = """\
// Products the bakery makes.
{string} Products = ...;
// Profit of one batch of each product.
float profit[Products] = ...;
float flour[Products] = ...;     // kg of flour per batch
float flourStock = ...;
range Shifts = 1..2;
dvar float+ make[Products];

maximize totalProfit: sum(p in Products) proft[p] * make[p];
subject to {
  flourLimit: sum(p in Products) flour[p] * make[p] <= flourStock;
  forall(s in Shifts)
    shiftCap: sum(p in Products) make[p] <= 10 * s;
}
"""
DATA = """\
Products = {"bread", "cake"};
profit = [3, 5];
flour = [2, 1, 4];
flourStock = 100;
"""


def pos(line, character):
    return {"line": line, "character": character}


def doc(path):
    return {"textDocument": {"uri": path.as_uri()}}


def apply_edits(text, edits):
    """The text with LSP edits applied (ASCII texts: characters are offsets)."""
    lines = text.split("\n")
    starts = [0]
    for line in lines:
        starts.append(starts[-1] + len(line) + 1)
    for edit in sorted(edits, key=lambda e: (e["range"]["start"]["line"], e["range"]["start"]["character"]))[::-1]:
        r = edit["range"]
        begin = starts[r["start"]["line"]] + r["start"]["character"]
        end = starts[r["end"]["line"]] + r["end"]["character"]
        text = text[:begin] + edit["newText"] + text[end:]
    return text


@pytest.fixture
def server(tmp_path):
    client = LspClient([sys.executable, "-m", "tarvok", "lsp", "--stdio"], cwd=tmp_path)
    client.initialize(tmp_path)
    yield client
    assert client.close() == 0, client.stderr_text()


def test_initialize_announces_the_features(tmp_path):
    client = LspClient([sys.executable, "-m", "tarvok", "lsp"], cwd=tmp_path)
    try:
        result = client.initialize(tmp_path, {"general": {"positionEncodings": ["utf-32", "utf-16"]}})
    finally:
        assert client.close() == 0
    capabilities = result["capabilities"]
    assert result["serverInfo"]["name"] == "tarvok"
    assert capabilities["positionEncoding"] == "utf-32"
    for feature in ("hoverProvider", "definitionProvider", "referencesProvider", "documentSymbolProvider"):
        assert capabilities[feature]
    assert capabilities["codeActionProvider"]["codeActionKinds"] == ["quickfix"]
    assert "completionProvider" in capabilities
    assert "documentFormattingProvider" not in capabilities


def test_a_session_from_opening_to_closing(server, tmp_path):
    model_path, data_path = tmp_path / "plan.mod", tmp_path / "plan.dat"
    model_path.write_text(MODEL)
    data_path.write_text(DATA)
    model_uri, data_uri = model_path.as_uri(), data_path.as_uri()

    # Opening the model checks it with the data file beside it: each gets its own diagnostics.
    server.open(model_path)
    undeclared, unused = server.diagnostics(model_uri)
    assert unused["severity"] == 2 and "'profit' is declared but never used" in unused["message"]
    assert undeclared["code"] == "T0201"
    assert undeclared["severity"] == 1
    assert undeclared["source"] == "tarvok"
    assert undeclared["range"] == {"start": pos(9, 41), "end": pos(9, 46)}
    assert "'proft'" in undeclared["message"]
    [wrong_length] = server.diagnostics(data_uri)
    assert wrong_length["range"]["start"]["line"] == 2
    assert "flour" in wrong_length["message"]

    server.open(data_path)
    assert len(server.diagnostics(model_uri)) == 2
    assert len(server.diagnostics(data_uri)) == 1

    # The compiler's fix, as a quick fix, applied as an incremental change.
    actions = server.request(
        "textDocument/codeAction",
        {**doc(model_path), "range": {"start": pos(9, 43), "end": pos(9, 43)}, "context": {"diagnostics": []}},
    )
    [fix] = actions
    assert fix["title"] == "Replace 'proft' with 'profit'"
    assert fix["kind"] == "quickfix"
    assert fix["diagnostics"][0]["code"] == "T0201"
    [edit] = fix["edit"]["changes"][model_uri]
    assert edit == {"range": {"start": pos(9, 41), "end": pos(9, 46)}, "newText": "profit"}
    model = apply_edits(MODEL, [edit])
    server.notify(
        "textDocument/didChange",
        {"textDocument": {"uri": model_uri, "version": 2}, "contentChanges": [{**edit, "text": edit["newText"]}]},
    )
    assert server.diagnostics(model_uri) == []
    assert len(server.diagnostics(data_uri)) == 1
    assert (
        server.request(
            "textDocument/codeAction",
            {**doc(model_path), "range": {"start": pos(9, 43), "end": pos(9, 43)}, "context": {"diagnostics": []}},
        )
        == []
    )

    # A whole new text for the data mends the data.
    server.notify(
        "textDocument/didChange",
        {"textDocument": {"uri": data_uri, "version": 2}, "contentChanges": [{"text": DATA.replace(", 4]", "]")}]},
    )
    assert server.diagnostics(model_uri) == []
    assert server.diagnostics(data_uri) == []

    # Hover on a use: the declaration line and its comment.
    hover = server.request("textDocument/hover", {**doc(model_path), "position": pos(9, 43)})
    assert hover["contents"]["kind"] == "markdown"
    assert "float profit[Products] = ...;" in hover["contents"]["value"]
    assert "Profit of one batch of each product." in hover["contents"]["value"]
    assert hover["range"] == {"start": pos(9, 41), "end": pos(9, 47)}
    assert server.request("textDocument/hover", {**doc(model_path), "position": pos(10, 3)}) is None
    hover = server.request("textDocument/hover", {**doc(data_path), "position": pos(2, 1)})
    assert "kg of flour per batch" in hover["contents"]["value"]

    # From a data assignment to the model's declaration.
    definition = server.request("textDocument/definition", {**doc(data_path), "position": pos(2, 2)})
    assert definition == {"uri": model_uri, "range": {"start": pos(4, 6), "end": pos(4, 11)}}

    references = server.request(
        "textDocument/references",
        {**doc(model_path), "position": pos(1, 10), "context": {"includeDeclaration": True}},
    )
    places = [(r["uri"], r["range"]["start"]["line"]) for r in references]
    assert places == [(model_uri, 1), (model_uri, 3), (model_uri, 4), (model_uri, 7), (model_uri, 9),
                      (model_uri, 11), (model_uri, 13), (data_uri, 0)]  # fmt: skip

    symbols = server.request("textDocument/documentSymbol", doc(model_path))
    assert [s["name"] for s in symbols] == [
        "Products", "profit", "flour", "flourStock", "Shifts", "make", "totalProfit", "flourLimit", "shiftCap",
    ]  # fmt: skip
    assert [s["name"] for s in server.request("textDocument/documentSymbol", doc(data_path))] == [
        "Products", "profit", "flour", "flourStock",
    ]  # fmt: skip

    # After `in`: the sets and ranges only; elsewhere the names and the keywords.
    completion = server.request("textDocument/completion", {**doc(model_path), "position": pos(12, 14)})
    assert [item["label"] for item in completion["items"]] == ["Products", "Shifts"]
    completion = server.request("textDocument/completion", {**doc(model_path), "position": pos(9, 43)})
    labels = {item["label"] for item in completion["items"]}
    assert {"profit", "make", "flourStock", "forall", "subject to", "sum"} <= labels

    # Closing the data: the model is checked against the file on disk again.
    server.notify("textDocument/didClose", doc(data_path))
    assert server.diagnostics(model_uri) == []
    assert len(server.diagnostics(data_uri)) == 1
    # Closing both: what was shown for them goes.
    server.notify("textDocument/didClose", doc(model_path))
    assert server.diagnostics(model_uri) == []
    assert server.diagnostics(data_uri) == []
    assert model  # the client's copy, for the record


def test_data_without_a_model_is_checked_for_syntax(server, tmp_path):
    path = tmp_path / "alone.dat"
    path.write_text("a = 1;\nb = [1, 2;\n")
    server.open(path)
    [syntax] = server.diagnostics(path.as_uri())
    assert syntax["range"]["start"]["line"] == 1
    # A model that appears beside it later is used from then on.
    (tmp_path / "alone.mod").write_text("int a = ...;\ndvar float x;\nminimize a * x;\n")
    server.notify(
        "textDocument/didChange",
        {"textDocument": {"uri": path.as_uri(), "version": 2}, "contentChanges": [{"text": "a = 1;\n"}]},
    )
    assert server.diagnostics((tmp_path / "alone.mod").as_uri()) == []
    assert server.diagnostics(path.as_uri()) == []
    assert server.request("textDocument/definition", {**doc(path), "position": pos(0, 0)})["uri"].endswith("alone.mod")


def test_positions_count_utf16_units_by_default(server, tmp_path):
    path = tmp_path / "units.mod"
    text = '{string} S = {"😀é"}; int n = 1;\ndvar float x;\nminimize nn * x;\n'
    server.open(path, text)
    [undeclared] = [d for d in server.diagnostics(path.as_uri()) if d["severity"] == 1]
    assert undeclared["range"] == {"start": pos(2, 9), "end": pos(2, 11)}
    # `n` after the emoji (2 units) and é (1 unit).
    definition = server.request("textDocument/definition", {**doc(path), "position": pos(2, 9)})
    assert definition is None
    hover = server.request("textDocument/hover", {**doc(path), "position": pos(0, 26)})
    assert "int n = 1;" in hover["contents"]["value"]


def test_hostile_input_leaves_the_server_answering(server, tmp_path):
    path = tmp_path / "h.mod"
    text = "int n = 1; // 😀\ndvar float x;\nminimize n * x;\n"
    server.open(path, text)
    assert server.diagnostics(path.as_uri()) == []

    def still_answers():
        hover = server.request("textDocument/hover", {**doc(path), "position": pos(2, 9)})
        assert "int n = 1;" in hover["contents"]["value"]

    # Bytes that are no message, a body that is not JSON, a message of no known kind.
    server.send_raw(b"garbage without headers\r\n\r\n")
    server.send_raw(b"Content-Length: 9\r\n\r\n{not json")
    server.send_raw(frame({"jsonrpc": "2.0", "id": 999, "params": 5}))
    still_answers()
    assert "error" in server.request_raw("tarvok/nothing", {})
    # Parameters that do not fit the method (a request is answered with an error).
    server.send({"jsonrpc": "2.0", "id": 1000, "method": "textDocument/hover", "params": {"position": pos(-1, "x")}})
    server.send({"jsonrpc": "2.0", "method": "textDocument/didChange", "params": {"textDocument": 5}})
    still_answers()

    # Positions past every end, and between the halves of a surrogate pair.
    for p in (pos(0, 15), pos(0, 2**31 - 1), pos(2**31 - 1, 0), pos(3, 0)):
        for method in ("textDocument/hover", "textDocument/definition", "textDocument/completion"):
            assert "error" not in server.request_raw(method, {**doc(path), "position": p})
        server.request("textDocument/references", {**doc(path), "position": p, "context": {"includeDeclaration": 1}})
    # A document the server never saw, and one whose name is no file.
    assert server.request("textDocument/hover", {**doc(tmp_path / "missing.mod"), "position": pos(0, 0)}) is None
    assert server.request("textDocument/documentSymbol", {"textDocument": {"uri": "untitled:1"}}) == []

    # Garbage, a lone surrogate, a huge line and deep nesting as document texts.
    rng = random.Random(23)
    texts = [
        "".join(chr(rng.randrange(1, 0x3000)) for _ in range(2000)),
        "int n = 1;\ud800\nminimize n;",
        "int n = 1;" + "x" * 2_000_000,
        "(" * 100_000,
    ]
    for i, garbage in enumerate(texts):
        other = tmp_path / f"g{i}.mod"
        server.open(other, garbage)
        assert isinstance(server.diagnostics(other.as_uri(), timeout=60), list)
        for _ in range(20):
            p = pos(rng.randrange(0, 4), rng.randrange(0, 3_000_000))
            for method in ("textDocument/hover", "textDocument/definition", "textDocument/completion"):
                assert "error" not in server.request_raw(method, {**doc(other), "position": p})
        server.request("textDocument/documentSymbol", doc(other))
    # An incremental change whose range lies outside the text.
    server.notify(
        "textDocument/didChange",
        {
            "textDocument": {"uri": path.as_uri(), "version": 9},
            "contentChanges": [{"range": {"start": pos(99, 0), "end": pos(99, 5)}, "text": "z"}],
        },
    )
    server.diagnostics(path.as_uri())
    still_answers()
    assert server.process.poll() is None


def test_every_request_is_answered_and_no_header_ends_the_server(server, tmp_path):
    path = tmp_path / "h.mod"
    server.open(path, "int n = 1;\ndvar float x;\nminimize n * x;\n")
    server.diagnostics(path.as_uri())
    for bad in (-1, 2**63, 2**31, 1.5, "3", True):
        for where in ("line", "character"):
            answer = server.request_raw("textDocument/hover", {**doc(path), "position": {**pos(2, 9), where: bad}})
            assert answer["error"]["code"] == -32602, answer
            assert f"params.position.{where} must be a whole number from 0 to 2147483647" in answer["error"]["message"]
    answer = server.request_raw("textDocument/hover", doc(path))  # no position: the library cannot read it
    assert answer["error"]["code"] == -32602 and "position" in answer["error"]["message"]

    deep = (
        '{"jsonrpc": "2.0", "id": 77, "method": "textDocument/hover", "params": ' + "[" * 100_000 + "]" * 100_000 + "}"
    )
    server.send_raw(b"Content-Length: %d\r\n\r\n%s" % (len(deep), deep.encode()))
    assert server.response(77)["error"]["code"] == -32700
    # A length no memory holds: refused unread, and the next frame is read.
    server.send_raw(b"Content-Length: 1000000000000\r\n\r\n{")
    hover = server.request("textDocument/hover", {**doc(path), "position": pos(2, 9)})
    assert "int n = 1;" in hover["contents"]["value"]
    refused = server.response(None)["error"]
    assert refused["message"].endswith("one message may have at most 134217728 bytes")
