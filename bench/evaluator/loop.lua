-- The interpreter's loop overhead: a while loop counting to a million (twin of loop.kiv).
local start = os.clock()
local i = 0
while i < 1000000 do i = i + 1 end
local elapsed = os.clock() - start
print(i)
print("ops: 1000000")
print("elapsed: " .. elapsed)
