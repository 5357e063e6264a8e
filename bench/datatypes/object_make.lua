-- Tables of two fields and two methods, each method a closure made for its
-- own table (twin of object_make.kiv).
local function make(x)
  local o = {x = x, y = 0}
  o.shift = function(d) o.x = o.x + d end
  o.total = function() return o.x + o.y end
  return o
end
local n = tonumber(os.getenv("BENCH_N") or 200000)
local start = os.clock()
local o
for i = 1, n do o = make(i) end
local elapsed = os.clock() - start
o.shift(1)
print(o.x .. " " .. o.total())
print("ops: " .. n)
print("elapsed: " .. elapsed)
