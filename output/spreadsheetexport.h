#pragma once

namespace varnel {

class WindowState;
class ColumnTable;

// "Save Results As Excel File": the results in a new, visible spreadsheet document.
void PushButton2_Click(WindowState& form);

// True when a spreadsheet application can be had; says so when it cannot.
bool SaveResultsAsExcelFileIsExcelInstalled(WindowState& form);

// Writes `table` into a new document of a new application, the command's steps from the
// one after the probe. The results list is the table the button uses; any list will do.
void exportTable(WindowState& form, const ColumnTable& table);

} // namespace varnel
