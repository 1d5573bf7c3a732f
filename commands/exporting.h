#pragma once

namespace varnel {

class WindowState;
class ColumnTable;

// "Save Results As Excel File": the results in a new, visible spreadsheet document.
void exportResultsToSpreadsheet(WindowState& state);

// Starts a spreadsheet application and lets it go again, to learn whether one can be had:
// true when it started, and says so when it could not.
bool tryStartingSpreadsheetApplication(WindowState& state);

// Writes `table` into a new document of a new application, the command's steps from the
// one after the probe. The results list is the table the button uses; any list will do,
// one that stays as it is while the export yields (a ListSnapshot).
void exportTable(WindowState& state, const ColumnTable& table);

} // namespace varnel
