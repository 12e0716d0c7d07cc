"""Generate Tarvok models and data from plain-language problem descriptions with an LLM."""

import enum
import logging
import os
from typing import Any, Callable, Literal, Mapping, Optional, TypedDict, type_check_only

from .semantic_error import Diagnostic
from .semantic_error import SemanticError as SemanticError
from .solver import CompiledModel
from .tarvok_core import TVLCompiler as TVLCompiler

MAX_ITERATIONS: int
MAX_OUTPUT_TOKENS: Optional[int]
LLM_PROVIDER: Optional[str]
MODEL_NAME: str
ALIGNMENT_CHECK: bool
FEW_SHOT_TOP_K: int
FEW_SHOT_MAX_CHARS: int
#: The example library generative_solve ranks: a folder relative to the working directory at call time,
#: or None for the library shipped with the package.
FEW_SHOT_LIBRARY: Optional[str | os.PathLike[str]]
#: Seconds one LLM request may take as a whole, however slowly its answer arrives (every provider's client;
#: their own retries are off; a request cut at the deadline is a RuntimeError naming it); None for the
#: client's own default.
REQUEST_TIMEOUT: Optional[float]
EXECUTION_CHECK: bool
EXECUTION_TIME_LIMIT: Optional[float]
#: The transcripts the provider 'replay' answers from: a .jsonl file, or a folder searched for *.jsonl.
REPLAY_PATH: Optional[str | os.PathLike[str]]
ASSUMPTIONS_CHECK: bool

logger: logging.Logger

class LLMProvider(enum.Enum):
    OPENAI = "openai"
    GOOGLE = "google"
    OLLAMA = "ollama"
    REPLAY = "replay"

class Grammar(enum.Enum):
    NONE = 1
    BNF = 2
    CODE = 3

Progress = Optional[Callable[[str], Any]]

def rag_rank(
    query: str,
    models_dir: Optional[str | os.PathLike[str]] = None,
    top_k: int = 10,
    model_name: str = "sentence-transformers/all-MiniLM-L6-v2",
) -> list[dict[str, Any]]: ...
def generative_solve(
    prompt: str,
    model_file: str,
    data_file: str,
    model_name: str = "gpt-5",
    mode: Grammar = Grammar.BNF,
    iterations: int = 5,
    return_statistics: bool = False,
    alignment_check: Optional[bool] = None,
    temperature: Optional[float] = None,
    stop: Optional[list[str]] = None,
    llm_provider: Optional[str] = "openai",
    progress: Progress = None,
    few_shot: bool = True,
) -> str | dict[str, Any]: ...

@type_check_only
class SolverOutcome(TypedDict):
    """How solving a pair ended, as the execution check reports it."""

    status: str
    objective: Optional[float]
    message: Optional[str]
    infeasible_constraints: list[dict[str, Any]]

@type_check_only
class ProgressEvent(TypedDict, total=False):
    """One step of run_generation, as on_event receives it."""

    kind: str
    text: Optional[str]
    iteration: int
    step: Literal["generate", "repair", "align", "realign", "execution", "assess", "feedback"]
    provider: str
    model: str
    seconds: float
    errors: list[str]
    assessment: str
    execution: SolverOutcome

class GenerationResult:
    """What one run of the loop gave (run_generation)."""

    @property
    def model_text(self) -> str: ...
    @property
    def data_text(self) -> str: ...
    @property
    def model_file(self) -> str | os.PathLike[str]: ...
    @property
    def data_file(self) -> str | os.PathLike[str]: ...
    @property
    def iterations(self) -> int: ...
    @property
    def compiled(self) -> bool: ...
    @property
    def syntax_errors(self) -> list[str]: ...
    @property
    def diagnostics(self) -> list[Diagnostic]: ...
    @property
    def aligned(self) -> Optional[bool]: ...
    @property
    def assessment(self) -> str: ...
    @property
    def execution(self) -> Optional[SolverOutcome]: ...
    @property
    def compiled_model(self) -> Optional[CompiledModel]: ...
    @property
    def llm_calls(self) -> int: ...
    @property
    def repair_rounds(self) -> int: ...
    @property
    def tokens_in(self) -> Optional[int]: ...
    @property
    def tokens_out(self) -> Optional[int]: ...
    @property
    def assumptions(self) -> Optional[list[dict[str, str]]]: ...
    @property
    def assumptions_error(self) -> Optional[str]: ...
    @property
    def what_if(self) -> Optional[dict[str, Any]]: ...
    @property
    def statistics(self) -> dict[str, Any]: ...
    def execute(self, time_limit: Optional[float] = None) -> Optional[SolverOutcome]:
        """The final pair's solver outcome as the execution check reports it."""
        ...

def run_generation(
    prompt: str,
    model_file: str | os.PathLike[str],
    data_file: str | os.PathLike[str],
    *,
    model_name: Optional[str] = None,
    llm_provider: Optional[str] = None,
    mode: Optional[Grammar] = None,
    iterations: Optional[int] = None,
    alignment_check: Optional[bool] = None,
    temperature: Optional[float] = None,
    stop: Optional[list[str]] = None,
    progress: Progress = None,
    few_shot: bool = True,
    few_shot_library: Optional[str | os.PathLike[str]] = None,
    execution_check: Optional[bool] = None,
    execution_time_limit: Optional[float] = None,
    timeout: Optional[float] = None,
    embedding_model: Optional[str] = None,
    on_event: Optional[Callable[[ProgressEvent], Any]] = None,
    record: Optional[str | os.PathLike[str]] = None,
    replay: Optional[str | os.PathLike[str]] = None,
    assumptions: Optional[bool] = None,
    what_if: bool = False,
    what_if_max: int = 3,
    cancel: Optional[Callable[[], Any]] = None,
    solver: str = "highs",
    existing: bool = False,
    reading: Optional[dict[str, str]] = None,
    max_size: Optional[int] = None,
) -> GenerationResult:
    """Run the generation loop of generative_solve and return a GenerationResult."""
    ...

def generative_feedback(
    prompt: str,
    model_file: str,
    data_file: str,
    model_name: str = "gpt-5",
    mode: Grammar = Grammar.BNF,
    temperature: Optional[float] = None,
    stop: Optional[list[str]] = None,
    llm_provider: Optional[str] = "openai",
    progress: Progress = None,
) -> Optional[dict[str, Any]]: ...
def extract_json_from_markdown(text: str) -> str: ...
def list_models(llm_provider: Optional[str] = None, model_name: str = "gpt-5") -> list[str]: ...
def list_openai_models(prefix: Optional[str] = "gpt") -> list[str]: ...
def list_gemini_models(prefix: Optional[str] = "gemini") -> list[str]: ...
def list_ollama_models(prefix: Optional[str] = None) -> list[str]: ...
def list_replay_models(prefix: Optional[str] = None) -> list[str]: ...
def _notify(progress: Progress, msg: str) -> None: ...
def _hide_keys(text: str) -> str: ...
def _read_file(path: str | os.PathLike[str]) -> str: ...
def _read_tarvok_GBNF() -> str: ...
def _read_tarvok_grammar() -> str: ...
def _read_tarvok_code() -> str: ...
def _get_grammar_implementation(mode: Grammar) -> str: ...
def _safe_read_text(path: str | os.PathLike[str], max_chars: int = 2147483647) -> str: ...
def _find_pair_in_folder(
    desc_path: str | os.PathLike[str],
) -> tuple[Optional[os.PathLike[str]], Optional[os.PathLike[str]]]: ...
def _gather_few_shots(
    problem_description: str,
    k: int = 3,
    models_dir: Optional[str | os.PathLike[str]] = None,
    progress: Progress = None,
) -> list[dict[str, str]]: ...
def _json_loads_relaxed(text: str) -> Optional[dict[str, Any]]: ...
def _coalesce_response_text(resp: Any) -> str: ...
def _openai_client() -> Any: ...
def _google_client() -> Any: ...
def _replay_client() -> int: ...
def _is_provider_outage(error: BaseException) -> bool: ...
def _check_provider(
    llm_provider: Optional[str], model_name: str, replay: Optional[str | os.PathLike[str]] = None
) -> LLMProvider: ...
def _ollama_generate_text(model_name: str, prompt: str, num_predict: Optional[int] = None) -> str: ...
def _build_create_params(
    model_name: str,
    input_text: str,
    max_tokens: Optional[int] = None,
    temperature: Optional[float] = None,
    stop: Optional[list[str]] = None,
) -> dict[str, Any]: ...
def _infer_provider(llm_provider: Optional[str], model_name: str) -> LLMProvider: ...
def _llm_generate_text(
    provider: LLMProvider,
    model_name: str,
    input_text: str,
    max_tokens: Optional[int] = None,
    temperature: Optional[float] = None,
    stop: Optional[list[str]] = None,
    progress: Progress = None,
) -> str: ...
def _call_openai_with_retry(
    client: Any,
    create_params: Mapping[str, Any],
    retries: int = 3,
    backoff_sec: float = 1.5,
    progress: Progress = None,
) -> Any: ...
def _build_generation_prompt(
    prompt: str, grammar_implementation: str, few_shots: Optional[list[dict[str, str]]] = None
) -> str: ...
def _build_revision_prompt_syntax(
    prompt: str,
    grammar_implementation: str,
    model_code: str,
    data_code: str,
    syntax_errors: list[str] | str,
    few_shots: Optional[list[dict[str, str]]] = None,
) -> str: ...
def _build_revision_prompt_alignment(
    prompt: str,
    grammar_implementation: str,
    assessment_text: str,
    model_code: str,
    data_code: str,
    few_shots: Optional[list[dict[str, str]]] = None,
) -> str: ...
def _build_revision_prompt_execution(
    prompt: str,
    grammar_implementation: str,
    model_code: str,
    data_code: str,
    solver_result: Mapping[str, Any],
    few_shots: Optional[list[dict[str, str]]] = None,
) -> str: ...
def _execute_model(
    model_code: str, data_code: str, time_limit: Optional[float] = None, solver: str = "highs"
) -> dict[str, Any]: ...
def _build_alignment_prompt(prompt: str, grammar_implementation: str, model_code: str, data_code: str) -> str: ...
def _build_final_assessment_prompt(
    prompt: str, grammar_implementation: str, model_code: str, data_code: str, syntax_errors: list[str] | str
) -> str: ...
def _build_feedback_prompt(
    user_prompt_text: str, grammar_implementation: str, model_code: str, data_code: str
) -> str: ...
def _build_assumptions_prompt(prompt: str, grammar_implementation: str, model_code: str, data_code: str) -> str: ...
def _build_what_if_prompt(
    prompt: str,
    grammar_implementation: str,
    model_code: str,
    data_code: str,
    assumption: str,
    alternative: str,
    kind: str = "interpretation",
) -> str: ...
def __dir__() -> list[str]: ...
