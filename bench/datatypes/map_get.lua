-- Table lookups of integer and string keys (twin of map_get.kiv).
local n = tonumber(os.getenv("BENCH_N") or 20)
local size = tonumber(os.getenv("BENCH_KEYS") or 10000)
local m, ints, keys = {}, {}, {}
for i = 1, size do
  m[i] = i
  ints[i] = i
  local k = tostring(i)
  keys[i] = k
  m[k] = i
end
local start = os.clock()
local s = 0
for _ = 1, n do
  for _, i in ipairs(ints) do if m[i] then s = s + 1 end end
  for _, k in ipairs(keys) do if m[k] then s = s + 1 end end
end
local elapsed = os.clock() - start
print(s)
print("ops: " .. n * size * 2)
print("elapsed: " .. elapsed)
