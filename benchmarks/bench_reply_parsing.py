"""Time extract_json_from_markdown and _json_loads_relaxed on ordinary and
adversarial replies of 10 KB, 1 MB and 10 MB; the per-MB figure shows whether
growth is linear."""

import json
import time

import tarvok.tarvok_generative as tg


def ordinary(size):
    body = json.dumps({"model": "x" * (size - 60), "data": "a = 1;"})
    return "Here is the answer:\n```json\n" + body + "\n```\nThanks."


def many_fences(size):
    return ("```json {" * (size // 9 + 1))[:size]


def prose_then_object(size):
    # No fence: the brace scan must find the object after a long prose prefix.
    return "word " * ((size - 40) // 5) + '{"model": "m", "data": "d"}'


def best_of(fn, arg, repeat=3):
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        try:
            fn(arg)
        except (ValueError, TypeError):
            pass
        best = min(best, time.perf_counter() - t0)
    return best


def main():
    print(f"{'reply':<18}{'size':>8}  {'extract ms':>11}  {'ms/MB':>8}  {'loads ms':>10}  {'ms/MB':>8}")
    for name, make in (("ordinary", ordinary), ("many fences", many_fences), ("prose+object", prose_then_object)):
        for size in (10_000, 1_000_000, 10_000_000):
            reply = make(size)
            mb = len(reply) / 1e6
            t_extract = best_of(tg.extract_json_from_markdown, reply)
            t_loads = best_of(tg._json_loads_relaxed, reply)
            print(
                f"{name:<18}{size // 1000:>6}KB  {t_extract * 1e3:>11.2f}  {t_extract * 1e3 / mb:>8.2f}"
                f"  {t_loads * 1e3:>10.2f}  {t_loads * 1e3 / mb:>8.2f}"
            )


if __name__ == "__main__":
    main()
