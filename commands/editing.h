#pragma once

#include <QStringList>

#include <optional>

namespace varnel {

class WindowState;
class LineListModel;

// The ten lines "Load Sample/Example Data" appends; one of them is out of order on purpose.
const QStringList& sampleLines();

void addOneItem(WindowState& state);       // "Add One Item"
void loadSampleData(WindowState& state);   // "Load Sample/Example Data"
void clearInputList(WindowState& state);   // "Clear List" (input list)
void clearResultsList(WindowState& state); // "Clear List" (results list)

// Delete key and double-click: removes `list`'s selected item, unless the window shows
// the hourglass or nothing is selected.
void removeSelectedItem(WindowState& state, LineListModel& list,
                        std::optional<qsizetype> selectedPosition);

} // namespace varnel
