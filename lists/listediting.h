#pragma once

#include <QStringList>

#include <optional>

namespace varnel {

class WindowState;
class LineListModel;

// The ten lines "Load Sample/Example Data" appends; one of them is out of order on purpose.
const QStringList& sampleLines();

void PushButton1_Click(WindowState& form);  // "Add One Item"
void PushButton11_Click(WindowState& form); // "Load Sample/Example Data"
void PushButton3_Click(WindowState& form);  // "Clear List" (input list)
void PushButton9_Click(WindowState& form);  // "Clear List" (results list)

// Delete key and double-click: removes `list`'s selected item, unless the window shows
// the hourglass or nothing is selected.
void removeSelectedItem(WindowState& form, LineListModel& list,
                        std::optional<qsizetype> selectedPosition);

} // namespace varnel
