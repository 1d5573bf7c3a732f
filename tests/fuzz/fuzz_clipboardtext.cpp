// The clipboard text of any table matches a plain rendering of the same rule: each cell
// padded to its column's widest, cells joined by a tab, the blanks at the end of a line
// dropped, CR LF after every line. A table that changes while the text is built (the
// window had a turn) may throw Failure, and nothing else.

#include "fuzzinput.h"

#include "core/failure.h"
#include "output/clipboardtext.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

using Row = std::vector<QString>;

struct Table {
    std::vector<Row> rows;
    qsizetype columns = 1;

    qsizetype itemCount() const { return qsizetype(rows.size()); }
    QString cell(qsizetype item, qsizetype column) const {
        if (item < 1 || item > itemCount() || column < 1 || column > columns)
            throw varnel::failures::indexOutOfBounds();
        const Row& row = rows[size_t(item - 1)];
        return column <= qsizetype(row.size()) ? row[size_t(column - 1)] : QString();
    }
};

std::u16string units(const QString& text) {
    return std::u16string(QStringView(text).utf16(), size_t(text.size()));
}

std::u16string reference(const Table& table) {
    std::vector<size_t> widths(size_t(table.columns), 0);
    for (qsizetype i = 1; i <= table.itemCount(); ++i)
        for (qsizetype k = 1; k <= table.columns; ++k)
            widths[size_t(k - 1)] =
                std::max(widths[size_t(k - 1)], size_t(table.cell(i, k).size()));
    std::u16string out;
    for (qsizetype i = 1; i <= table.itemCount(); ++i) {
        std::u16string line;
        for (qsizetype k = 1; k <= table.columns; ++k) {
            std::u16string cell = units(table.cell(i, k));
            cell.resize(widths[size_t(k - 1)], u' ');
            line += (k > 1 ? u"\t" : u"") + cell;
        }
        line.erase(line.find_last_not_of(u' ') + 1); // npos + 1 == 0: all blanks go
        out += line + u"\r\n";
    }
    return out;
}

QString clipboardTextOf(const Table& table, const std::function<void()>& yield) {
    return varnel::clipboardText(
               table.itemCount(), table.columns,
               [&table](qsizetype item, qsizetype column) { return table.cell(item, column); },
               yield)
        .toString();
}

void checkShape(const Table& table, const QString& text) {
    // Without breaks or tabs inside cells, the lines and cells can be counted.
    for (const Row& row : table.rows)
        for (const QString& cell : row)
            if (cell.contains(u'\r') || cell.contains(u'\n') || cell.contains(u'\t'))
                return;
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    check(lines.size() == table.itemCount() + 1 && lines.last().isEmpty());
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        check(!lines[i].endsWith(u' '));
        check(!lines[i].contains(u'\r') && !lines[i].contains(u'\n'));
        check(lines[i].count(u'\t') == std::max<qsizetype>(table.columns - 1, 0));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    // Byte 0: the number of columns (0 to 4); byte 1: which yield changes the table, and
    // byte 2 how. Then the cells, row by row.
    Table table;
    table.columns = data[0] % 5;
    const int changeAt = data[1];
    const int change = data[2];
    varnel::fuzzing::Utf16Texts texts(data + 3, size - 3);
    while (!texts.atEnd() && table.rows.size() < 64) {
        Row row;
        for (qsizetype k = 0; k < std::max<qsizetype>(table.columns, 1); ++k)
            row.push_back(texts.next());
        table.rows.push_back(std::move(row));
    }

    const QString text = clipboardTextOf(table, [] {});
    check(units(text) == reference(table));
    checkShape(table, text);

    // Again, with the table shortened, emptied or a cell grown at one of the yields.
    Table changing = table;
    int yields = 0;
    const auto yield = [&] {
        if (yields++ != changeAt)
            return;
        if (change % 3 == 0)
            changing.rows.resize(size_t(change / 3) % (changing.rows.size() + 1));
        else if (change % 3 == 1)
            changing.rows.clear();
        else if (!changing.rows.empty() && !changing.rows.front().empty())
            changing.rows.front().front() += QString(change, u'x');
    };
    try {
        const QString changed = clipboardTextOf(changing, yield);
        if (changing.rows.size() == table.rows.size() && change % 3 != 2)
            check(changed == text);
        check(changed.count(QStringLiteral("\r\n")) >= qsizetype(changing.rows.size()));
    } catch (const varnel::Failure& failure) {
        check(failure.number() == int(varnel::ErrorNumber::IndexOutOfBounds));
    }
    return 0;
}
