-- Neovim's own language client with `varnel lsp`, set up by the README's snippet: the
-- diagnostics of a block out of order arrive, "Sort this block" puts it in order, and the
-- diagnostics go. Any mismatch ends Neovim with status 1.

local function expect(what, got, wanted)
  if not vim.deep_equal(got, wanted) then
    error(what .. ': got ' .. vim.inspect(got) .. ', wanted ' .. vim.inspect(wanted), 0)
  end
end

local function run()
  dofile(os.getenv('VARNEL_SNIPPET'))
  vim.cmd('edit ' .. vim.fn.fnameescape(os.getenv('VARNEL_LIST')))
  local buf = vim.api.nvim_get_current_buf()
  if not vim.wait(20000, function() return #vim.diagnostic.get(buf) == 2 end, 10) then
    error('no diagnostics came: ' .. vim.inspect(vim.diagnostic.get(buf)), 0)
  end
  local found = {}
  for _, diagnostic in ipairs(vim.diagnostic.get(buf)) do
    table.insert(found, string.format('%d-%d %s %s %s', diagnostic.lnum, diagnostic.end_col,
      diagnostic.source, diagnostic.code, diagnostic.message))
  end
  table.sort(found)
  expect('diagnostics', found, {
    '3-8 varnel order ".vscode/" sorts after ".idea/" on line 5',
    '5-6 varnel order "build/" sorts after ".cache/" on line 7',
  })

  local client = vim.lsp.get_active_clients()[1]
  local params = {
    textDocument = vim.lsp.util.make_text_document_params(buf),
    range = { start = { line = 5, character = 0 }, ['end'] = { line = 5, character = 0 } },
    context = { diagnostics = vim.lsp.diagnostic.get_line_diagnostics(buf, 5) },
  }
  local response = client.request_sync('textDocument/codeAction', params, 10000, buf)
  if not response or response.err then
    error('code actions failed: ' .. vim.inspect(response), 0)
  end
  local titles, sortBlock = {}, nil
  for _, action in ipairs(response.result) do
    table.insert(titles, action.title)
    if action.title == 'Sort this block' then sortBlock = action end
  end
  expect('code actions', titles, { 'Sort this block', 'Sort all blocks in this file' })
  vim.lsp.util.apply_workspace_edit(sortBlock.edit, 'utf-16')
  expect('sorted buffer', vim.api.nvim_buf_get_lines(buf, 0, -1, false), {
    '*.o', '# varnel: sorted', '.cache/', '.idea/', '# editors', '.vscode/', 'build/',
    '# varnel: end', 'notes.txt',
  })
  if not vim.wait(20000, function() return #vim.diagnostic.get(buf) == 0 end, 10) then
    error('diagnostics stayed: ' .. vim.inspect(vim.diagnostic.get(buf)), 0)
  end
end

local ok, problem = pcall(run)
if ok then
  vim.cmd('qall!')
else
  io.stderr:write(tostring(problem) .. '\n')
  vim.cmd('cquit 1')
end
