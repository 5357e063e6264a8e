-- Function calls and recursion: doubly recursive fib (twin of fib.kiv).
local n = tonumber(os.getenv("BENCH_N") or 24)
local function fib(n)
  if n < 2 then return n else return fib(n - 1) + fib(n - 2) end
end
local start = os.clock()
local result = fib(n)
local elapsed = os.clock() - start
local a, b = 0, 1
for _ = 1, n + 1 do a, b = b, a + b end -- a is fib(n + 1)
print(result)
print("ops: " .. (2 * a - 1))
print("elapsed: " .. elapsed)
