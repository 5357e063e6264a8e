-- Two texts and two integers joined into one text, n times (twin of rejoin.kiv).
local n = tonumber(os.getenv("BENCH_N") or 1000000)
local start = os.clock()
local s
for i = 1, n do s = "k" .. i .. "-" .. i end
local elapsed = os.clock() - start
print(s)
print("ops: " .. n)
print("elapsed: " .. elapsed)
