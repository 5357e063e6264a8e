# parse against Python's re on the same splits: a 10 MB CSV-like text split on
# a charset rule, and a block of 1M values matched by a datatype rule. Each Kiv
# figure is the time of a script that builds the data and parses it, less the
# time of the same script without the parse. usage: compare.py KIV
import re, subprocess, sys, tempfile, time

kiv = sys.argv[1] if len(sys.argv) > 1 else "build/kiv"
LINES = 10 * 1024 * 1024 // 32          # about 10 MB of "field,field,field,123456\n"

gen_text = f"""line: "alpha,beta-gamma,delta,123456^/" s: make string! {LINES * 32}
loop {LINES} [append s line]"""
parse_text = """field: charset [#"a" - #"z" #"0" - #"9" #"-"] n: 0
print parse s [some [some field (n: n + 1) [#"," | #"^/"]]] print n"""
gen_block = "b: make block! 1000000 repeat i 500000 [append b i append b 'w]"
parse_block = "loop 10 [r: parse b [some [integer! word!]]] print r"  # ten runs: one is below the noise

def kiv_time(code):
    with tempfile.NamedTemporaryFile("w", suffix=".kiv", delete=False) as f:
        f.write("Kiv []\n" + code + "\n")
    best = None
    for _ in range(3):
        t = time.perf_counter()
        out = subprocess.run([kiv, "--cli", f.name], capture_output=True, text=True)
        d = time.perf_counter() - t
        best = d if best is None else min(best, d)
    return best, out.stdout.split()

def py_time(f):
    best = None
    for _ in range(3):
        t = time.perf_counter(); r = f(); d = time.perf_counter() - t
        best = d if best is None else min(best, d)
    return best, r

text = "alpha,beta-gamma,delta,123456\n" * LINES
csv = re.compile(r"[a-z0-9-]+[,\n]")
values = [x for i in range(500000) for x in (i, "w")]
blk = re.compile(r"(?:\d+w)+")
joined = "".join(("w" if isinstance(v, str) else str(v)) for v in values)
def py_block(): return blk.fullmatch(joined) is not None

t_gen, _ = kiv_time(gen_text)
t_all, out = kiv_time(gen_text + "\n" + parse_text)
k_csv = t_all - t_gen
p_csv, fields = py_time(lambda: len(csv.findall(text)))
print(f"csv 10 MB charset rule: kiv {k_csv:.3f} s ({out}), python re {p_csv:.3f} s ({fields}), ratio {k_csv / p_csv:.1f}")

t_gen, _ = kiv_time(gen_block)
t_all, out = kiv_time(gen_block + "\n" + parse_block)
k_blk = (t_all - t_gen) / 10
p_blk, ok = py_time(py_block)
print(f"block 1M values datatype rule: kiv {k_blk:.3f} s ({out}), python re {p_blk:.3f} s ({ok}), ratio {k_blk / p_blk:.1f}")
