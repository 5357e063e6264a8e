# Exact decimal arithmetic with the decimal module at money!'s precision: 22
# digits, cut rather than rounded (twin of money_math.kiv).
import os, time
from decimal import Decimal, getcontext, ROUND_DOWN
ctx = getcontext()
ctx.prec = 22
ctx.rounding = ROUND_DOWN
n = int(os.environ.get("BENCH_N", 1000000))
total = Decimal("0.00000")
product = Decimal("0.00000")
price = Decimal("12.34567")
cent = Decimal("0.01")
start = time.perf_counter()
for k in range(1, n + 1):
    total = total + cent
    product = price * k
elapsed = time.perf_counter() - start
print("$%s $%s" % (total, product))
print("ops:", 2 * n)
print("elapsed:", elapsed)
