-- Function calls and recursion: doubly recursive fib (twin of fib.kiv).
local function fib(n)
  if n < 2 then return n else return fib(n - 1) + fib(n - 2) end
end
local start = os.clock()
local result = fib(24)
local elapsed = os.clock() - start
print(result)
print("ops: 150049")
print("elapsed: " .. elapsed)
