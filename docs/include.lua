-- A code block of class "include" is replaced by the Markdown files it
-- names, one per line (relative to the working folder), so chapters that
-- both manuals carry are written once:
--   ```{.include}
--   responses.md
--   ```
function CodeBlock(block)
  if not block.classes:includes("include") then
    return nil
  end
  local blocks = {}
  for name in block.text:gmatch("[^\n]+") do
    local file = io.open(name, "r")
    if not file then
      error("include.lua: cannot read " .. name)
    end
    local text = file:read("a")
    file:close()
    for _, included in ipairs(pandoc.read(text, "markdown").blocks) do
      table.insert(blocks, included)
    end
  end
  return blocks
end
