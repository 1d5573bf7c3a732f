#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// Reads the spreadsheet an export left in an office, over a connection of its own, so the
// tests see what the user would see rather than what the backend believes it wrote.
// Every call throws std::runtime_error when the office cannot answer.
class OfficeReader {
public:
    struct Cell {
        QString type; // "EMPTY", "VALUE", "TEXT" or "FORMULA"
        QString text;
        bool textFormat = false; // the cell's number format is of the text kind
    };

    explicit OfficeReader(const QString& pipeName);
    ~OfficeReader();

    // Spreadsheets open in the office that have never been saved.
    int untitledSpreadsheets();
    // The following read the first of those.
    QString url();
    bool modified();
    Cell cell(int row, int column);
    // The texts of rows first..last of a column; a cell that holds no text reads "<not text>".
    QStringList columnTexts(int column, int firstRow, int lastRow);
    bool optimalWidth(int column);
    int width(int column); // in hundredths of a millimetre

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};
