-- The interpreter's loop overhead: a while loop counting to a million (twin of loop.kiv).
local n = tonumber(os.getenv("BENCH_N") or 1000000)
local start = os.clock()
local i = 0
while i < n do i = i + 1 end
local elapsed = os.clock() - start
print(i)
print("ops: " .. n)
print("elapsed: " .. elapsed)
