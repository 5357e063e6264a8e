-- The twin of keystroke_paint.kiv: a console buffer of 1,000 lines; each keystroke
-- edits the input line (a letter inserted with its undo entry, or Backspace
-- taking one back), then the visible lines are laid out again: each line's
-- wrapped rows and height from its length at the view's width. Ops are keys.
local keys = tonumber(os.getenv("BENCH_N") or "2000")
local line_h, char_w, width, height = 17, 8.1, 620, 480
local lines, nlines, heights = {}, {}, {}
for i = 1, 999 do lines[i] = "output line " .. i .. " " .. string.rep("x", i % 70) end
local prompt = ">> "
lines[1000] = prompt
for i = 1, #lines do nlines[i] = 1; heights[i] = line_h end
local undo, redo = {}, {}
local top = #lines - height // line_h + 1
local line, pos = "", 0

local function paint()
  local y, n, h = 0, top, 0
  while n <= #lines do
    local cnt = math.max(1, math.floor((#lines[n] * char_w + width - 1) / width))
    h = cnt * line_h
    heights[n] = h
    nlines[n] = cnt
    n = n + 1
    y = y + h
    if y > height then break end
  end
  return y - h
end

local start = os.clock()
for i = 1, keys do
  if i % 2 == 1 then
    line = line:sub(1, pos) .. "a" .. line:sub(pos + 1)
    table.insert(undo, 1, {pos, 1})
    redo = {}
    pos = pos + 1
  elseif pos > 0 then
    pos = pos - 1
    table.insert(undo, 1, {pos, line:sub(pos + 1, pos + 1)})
    line = line:sub(1, pos) .. line:sub(pos + 2)
    redo = {}
  end
  lines[#lines] = prompt .. line
  paint()
end
local elapsed = os.clock() - start
print(#lines .. " " .. #line)
print("ops: " .. keys)
print("elapsed: " .. elapsed)
