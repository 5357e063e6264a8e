-- One 30-byte CSV line split into its fields, per line (twin of csv.kiv).
local n = tonumber(os.getenv("BENCH_N") or 100000)
local line = "alpha,beta-gamma,delta,1234567"
local find, sub = string.find, string.sub
local fields = 0
local start = os.clock()
for _ = 1, n do
  local t, i = {}, 1
  while true do
    local j = find(line, ",", i, true)
    if not j then t[#t + 1] = sub(line, i); break end
    t[#t + 1] = sub(line, i, j - 1)
    i = j + 1
  end
  fields = fields + #t
end
local elapsed = os.clock() - start
print(fields)
print("ops: " .. n)
print("elapsed: " .. elapsed)
