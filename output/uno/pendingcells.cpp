#include "pendingcells.h"

#include <algorithm>

namespace varnel::office {

PendingCells::Write& PendingCells::writeFor(int row, int column) {
    auto& writes = m_columns[column];
    // The usual caller sets a cell's format and then its value; keeping that as one entry
    // halves what has to be sorted later.
    if (writes.empty() || writes.back().row != row) {
        writes.push_back(Write{row, false, false, {}, {}});
        ++m_size;
    }
    return writes.back();
}

void PendingCells::setFormat(int row, int column, const QString& format) {
    auto& write = writeFor(row, column);
    write.hasFormat = true;
    write.format = format;
}

void PendingCells::setValue(int row, int column, const QString& value) {
    auto& write = writeFor(row, column);
    write.hasValue = true;
    write.value = value;
}

PendingCells::Batch PendingCells::take(int maxRows) {
    Batch batch;
    for (auto& [column, writes] : m_columns) {
        // Stable, so that of two writes to one cell the later one wins below.
        std::stable_sort(writes.begin(), writes.end(),
                         [](const Write& a, const Write& b) { return a.row < b.row; });
        std::vector<Write> cells;
        cells.reserve(writes.size());
        for (auto& write : writes) {
            if (cells.empty() || cells.back().row != write.row) {
                cells.push_back(std::move(write));
                continue;
            }
            auto& cell = cells.back();
            if (write.hasFormat) {
                cell.hasFormat = true;
                cell.format = std::move(write.format);
            }
            if (write.hasValue) {
                cell.hasValue = true;
                cell.value = std::move(write.value);
            }
        }

        FormatRun* formatRun = nullptr;
        ValueRun* valueRun = nullptr;
        for (auto& cell : cells) {
            if (!cell.hasFormat) {
                formatRun = nullptr;
            } else if (formatRun && formatRun->lastRow + 1 == cell.row &&
                       formatRun->format == cell.format) {
                formatRun->lastRow = cell.row;
            } else {
                batch.formats.push_back(FormatRun{column, cell.row, cell.row, cell.format});
                formatRun = &batch.formats.back();
            }

            if (!cell.hasValue) {
                valueRun = nullptr;
                continue;
            }
            const bool continues =
                valueRun &&
                valueRun->firstRow + static_cast<int>(valueRun->values.size()) == cell.row &&
                static_cast<int>(valueRun->values.size()) < maxRows;
            if (!continues) {
                batch.values.push_back(ValueRun{column, cell.row, {}});
                valueRun = &batch.values.back();
            }
            valueRun->values.push_back(std::move(cell.value));
        }
    }
    m_columns.clear();
    m_size = 0;
    return batch;
}

} // namespace varnel::office
