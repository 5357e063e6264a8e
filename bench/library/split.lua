-- Fields of a comma-separated text gathered by string.gmatch (twin of split.kiv).
local n = tonumber(os.getenv("BENCH_N") or 1000000)
local text = string.rep("field", n, ",")
local start = os.clock()
local fields = {}
for f in (text .. ","):gmatch("([^,]*),") do fields[#fields + 1] = f end
local elapsed = os.clock() - start
print(#fields)
print("ops: " .. n)
print("elapsed: " .. elapsed)
