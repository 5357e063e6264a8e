-- One pass of a counted loop with one sum (twin of repeat_add.kiv).
local n = tonumber(os.getenv("BENCH_N") or 1000000)
local k = 3
local start = os.clock()
local s = 0
for i = 1, n do s = s + k end
local elapsed = os.clock() - start
print(s)
print("ops: " .. n)
print("elapsed: " .. elapsed)
