#pragma once

#include <QString>

#include <map>
#include <vector>

namespace varnel::office {

// Cell writes held back so that thousands of one-cell calls reach the office as a few
// range calls. Rows and columns count from 1.
//
// Every value is written as text, so a cell's content does not depend on whether its
// number format arrived before or after it: only the last format and the last value of
// each cell matter, and applying all formats of a batch before its values is faithful.
class PendingCells {
public:
    struct FormatRun {
        int column;
        int firstRow;
        int lastRow;
        QString format;
    };
    struct ValueRun {
        int column;
        int firstRow;
        std::vector<QString> values; // one per row from firstRow on
    };
    struct Batch {
        std::vector<FormatRun> formats;
        std::vector<ValueRun> values;
    };

    void setFormat(int row, int column, const QString& format);
    void setValue(int row, int column, const QString& value);

    // Calls held, not cells: a format and a value for one cell given in a row count once.
    int size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    // Hands over everything held, merged into runs of neighbouring rows of one column, and
    // starts empty again. No value run is longer than maxRows, so a huge column goes out in
    // several calls of bounded size.
    Batch take(int maxRows);

private:
    struct Write {
        int row;
        bool hasFormat = false;
        bool hasValue = false;
        QString format;
        QString value;
    };
    Write& writeFor(int row, int column);

    std::map<int, std::vector<Write>> m_columns; // in call order within each column
    int m_size = 0;
};

} // namespace varnel::office
