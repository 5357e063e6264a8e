-- An integer appended to a table that grows from empty (twin of block_append.kiv).
local n = tonumber(os.getenv("BENCH_N") or 1000000)
local start = os.clock()
local b = {}
for i = 1, n do b[#b + 1] = i end
local elapsed = os.clock() - start
print(#b)
print("ops: " .. n)
print("elapsed: " .. elapsed)
