-- A table's field read and written (twin of field_add.kiv).
local n = tonumber(os.getenv("BENCH_N") or 1000000)
local o = {x = 0, y = 0}
local start = os.clock()
for _ = 1, n do o.x = o.x + 1 end
local elapsed = os.clock() - start
print(o.x)
print("ops: " .. n)
print("elapsed: " .. elapsed)
