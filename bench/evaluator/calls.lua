-- Nested function calls, four deep per iteration (twin of calls.kiv).
local function d(x) return x + 1 end
local function c(x) return d(x + 1) end
local function b(x) return c(x + 1) end
local function a(x) return b(x + 1) end
local n = tonumber(os.getenv("BENCH_N") or 100000)
local start = os.clock()
local total = 0
for i = 1, n do total = total + a(i) - i end
local elapsed = os.clock() - start
print(total)
print("ops: " .. 4 * n)
print("elapsed: " .. elapsed)
