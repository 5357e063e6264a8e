# The text of lex_source.kiv through the twins' regular-expression lexer.
import os, time
from regex_lexer import lex
passes = int(os.environ.get("BENCH_N", 1))
parts = []
for i in range(1, int(os.environ.get("BENCH_RECORDS", 20000)) + 1):
    parts.append(
        f'name-{i}: func [\n    "Returns the items of series {i} that pass"\n'
        '    series [block! string!] "The input" /part limit [integer!]\n'
        '    /local result item\n][\n    ; keeps the order of the input\n'
        f'    result: make block! {i}\n    foreach item series [\n'
        '        if find/case result item [append result item]\n    ]\n'
        '    either empty? result [none] [first result]\n]\n')
src = "".join(parts)
start = time.perf_counter()
for _ in range(passes): data = lex(src)
elapsed = time.perf_counter() - start
print(len(data))
print("ops:", passes * len(src.encode()))
print("elapsed:", elapsed)
