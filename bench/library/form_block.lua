-- The values of a table formed and joined by spaces, n times (twin of form_block.kiv).
local n = tonumber(os.getenv("BENCH_N") or 1000000)
local b = {"key", 12345, "-", 67, 1.5, "word"}
local start = os.clock()
local s
for i = 1, n do
    local parts = {}
    for k = 1, #b do parts[k] = tostring(b[k]) end
    s = table.concat(parts, " ")
end
local elapsed = os.clock() - start
print(s)
print("ops: " .. n)
print("elapsed: " .. elapsed)
