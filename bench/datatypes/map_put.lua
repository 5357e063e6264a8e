-- Table insertions of new integer and string keys (twin of map_put.kiv).
local n = tonumber(os.getenv("BENCH_N") or 20)
local size = tonumber(os.getenv("BENCH_KEYS") or 10000)
local ints, keys = {}, {}
for i = 1, size do ints[i] = i; keys[i] = tostring(i) end
local start = os.clock()
local total = 0
for _ = 1, n do
  local m, count = {}, 0
  for _, i in ipairs(ints) do m[i] = i; count = count + 1 end
  for _, k in ipairs(keys) do m[k] = 0; count = count + 1 end
  total = total + count  -- a table keeps no count of its entries
end
local elapsed = os.clock() - start
print(total)
print("ops: " .. n * size * 2)
print("elapsed: " .. elapsed)
