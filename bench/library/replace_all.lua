-- string.gsub of a one-character text by a longer one (twin of replace_all.kiv).
local n = tonumber(os.getenv("BENCH_N") or 100000)
local text = string.rep("ab,", n)
local start = os.clock()
text = text:gsub("b", "<b>")
local elapsed = os.clock() - start
print(#text)
print("ops: " .. n)
print("elapsed: " .. elapsed)
