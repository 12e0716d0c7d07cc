"""Grammar references beside the installed package, and the tolerant reader
of example files."""

import enum
import os
import pathlib

import pytest

SOURCE_TREE = pathlib.Path(__file__).resolve().parent.parent


def read_text(path):
    with open(path) as f:
        return f.read()


@pytest.fixture
def layout(tg, tmp_path, monkeypatch):
    """A package directory with its documents in a fresh tree, and the module
    pointed at it."""
    package = tmp_path / "tarvok"
    grammars = tmp_path / "docs" / "grammars"
    package.mkdir()
    grammars.mkdir(parents=True)
    (grammars / "Tarvok grammar.md").write_bytes(b"\n\n# grammar\r\nline\rend\n\n")
    (grammars / "Tarvok_GBNF").write_text("root ::= model\n")
    (grammars / "tarvok_core.cpp").write_text("decoy\n")
    (package / "tarvok_core.cpp").write_text("// front end\n")
    monkeypatch.setattr(tg, "__file__", str(package / "tarvok_generative.so"))
    return tmp_path


class TestInstalledDocuments:
    def test_modes_return_the_documents_shipped_with_the_installed_module(self, tg):
        package_dir = pathlib.Path(tg.__file__).parent
        assert SOURCE_TREE / "src" not in package_dir.parents, "tests must run against the installed package"
        grammars = package_dir / "docs" / "grammars"
        bnf = tg._get_grammar_implementation(tg.Grammar.BNF)
        code = tg._get_grammar_implementation(tg.Grammar.CODE)
        assert (
            bnf
            == read_text(grammars / "Tarvok grammar.md")
            == read_text(SOURCE_TREE / "docs/grammars/Tarvok grammar.md")
        )
        assert (
            code
            == read_text(package_dir / "tarvok_core.cpp")
            == read_text(SOURCE_TREE / "src/tarvok/compiler/tarvok_core.cpp")
        )
        assert tg._read_tarvok_GBNF() == read_text(SOURCE_TREE / "docs/grammars/Tarvok_GBNF")
        assert tg._get_grammar_implementation(tg.Grammar.NONE) == ""


class TestReferenceReaders:
    def test_paths_follow_the_module_file_on_every_call(self, tg, layout, monkeypatch):
        assert tg._get_grammar_implementation(tg.Grammar.BNF) == "\n\n# grammar\nline\nend\n\n"
        assert tg._get_grammar_implementation(tg.Grammar.CODE) == "// front end\n"
        assert tg._read_tarvok_GBNF() == "root ::= model\n"
        elsewhere = layout / "other" / "tarvok"
        elsewhere.mkdir(parents=True)
        (elsewhere / "tarvok_core.cpp").write_text("moved\n")
        monkeypatch.setattr(tg, "__file__", str(elsewhere / "m.so"))
        assert tg._read_tarvok_code() == "moved\n"
        assert tg._get_grammar_implementation(tg.Grammar.NONE) == ""  # no docs there, nothing touched
        with pytest.raises(FileNotFoundError):
            tg._get_grammar_implementation(tg.Grammar.BNF)

    def test_readers_go_through_the_module(self, tg, layout, monkeypatch):
        seen = []
        monkeypatch.setattr(tg, "_read_file", lambda path: seen.append(path) or "patched")
        assert tg._read_tarvok_grammar() == "patched"
        assert seen == [os.path.join(str(layout), "docs", "grammars", "Tarvok grammar.md")]
        monkeypatch.setattr(tg, "_read_tarvok_grammar", lambda: "G")
        monkeypatch.setattr(tg, "_read_tarvok_code", lambda: "C")
        assert [tg._get_grammar_implementation(m) for m in tg.Grammar] == ["", "G", "C"]

    def test_the_package_copy_serves_when_the_root_has_none(self, tg, layout):
        own = layout / "tarvok" / "docs" / "grammars"
        own.mkdir(parents=True)
        (own / "Tarvok grammar.md").write_text("package copy\n")
        (own / "Tarvok_GBNF").write_text("package gbnf\n")
        assert tg._read_tarvok_grammar() == "\n\n# grammar\nline\nend\n\n"  # the root's copy comes first
        (layout / "docs" / "grammars" / "Tarvok grammar.md").unlink()
        assert tg._get_grammar_implementation(tg.Grammar.BNF) == "package copy\n"
        assert tg._read_tarvok_GBNF() == "root ::= model\n"
        (own / "Tarvok grammar.md").unlink()
        with pytest.raises(FileNotFoundError) as missing:
            tg._read_tarvok_grammar()
        assert missing.value.filename == os.path.join(str(layout), "docs", "grammars", "Tarvok grammar.md")

    def test_read_file_is_strict_and_refuses_descriptors(self, tg, tmp_path):
        bad = tmp_path / "bad.txt"
        bad.write_bytes(b"ok \xff\xfe")
        with pytest.raises(UnicodeDecodeError):
            tg._read_file(str(bad))
        fd = os.open(bad, os.O_RDONLY)
        try:
            with pytest.raises(TypeError):
                tg._read_file(fd)
            os.fstat(fd)  # still open
        finally:
            os.close(fd)

    def test_invalid_modes(self, tg):
        Other = enum.Enum("Other", "NONE BNF CODE")
        for mode in ("BNF", 2, None, Other.BNF, tg.LLMProvider.OPENAI):
            with pytest.raises(ValueError) as info:
                tg._get_grammar_implementation(mode)
            assert str(info.value) == "Invalid mode: " + str(mode)

    def test_mode_is_compared_by_equality(self, tg, monkeypatch):
        class LikeCode:
            def __eq__(self, other):
                return other is tg.Grammar.CODE

        monkeypatch.setattr(tg, "_read_tarvok_code", lambda: "C")
        assert tg._get_grammar_implementation(LikeCode()) == "C"


class TestSafeReadText:
    def test_edge_cases(self, tg, tmp_path):
        f = tmp_path / "f.txt"
        f.write_text("   abcdefgh")
        assert tg._safe_read_text(f, 5) == "ab"
        assert tg._safe_read_text(f, 0) == ""
        assert tg._safe_read_text(f, -3) == "abcde"
        assert tg._safe_read_text(f, -20) == ""
        assert tg._safe_read_text(f, 2**100) == tg._safe_read_text(f, None) == "abcdefgh"
        assert tg._safe_read_text(f, -(2**100)) == ""
        assert tg._safe_read_text(f, 5.0) == ""  # not a slice index: a failure like any other
        assert tg._safe_read_text(str(f)) == tg._safe_read_text(os.fsencode(f)) == "abcdefgh"
        (tmp_path / "blank.txt").write_text(" \n\t\u3000\n")
        assert tg._safe_read_text(tmp_path / "blank.txt") == ""
        assert tg._safe_read_text(tmp_path / "missing.txt") == ""
        assert tg._safe_read_text(tmp_path) == ""

    def test_default_limit_is_taken_at_load(self, tg, tmp_path):
        f = tmp_path / "f.txt"
        f.write_text("abcdef")
        tg.FEW_SHOT_MAX_CHARS = 2
        assert tg._safe_read_text(f) == "abcdef"

    def test_descriptors_are_not_paths(self, tg, tmp_path):
        f = tmp_path / "f.txt"
        f.write_text("text")
        fd = os.open(f, os.O_RDONLY)
        try:
            assert tg._safe_read_text(fd) == ""
            os.fstat(fd)
        finally:
            os.close(fd)

    def test_interrupts_pass_through(self, tg, tmp_path, monkeypatch):
        def interrupted(*args, **kwargs):
            raise KeyboardInterrupt

        monkeypatch.setattr("builtins.open", interrupted)
        with pytest.raises(KeyboardInterrupt):
            tg._safe_read_text(tmp_path / "f.txt")
