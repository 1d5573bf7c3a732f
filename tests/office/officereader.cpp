#include "officereader.h"

#include "output/uno/unoclient.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>

#include <algorithm>
#include <stdexcept>

namespace css = com::sun::star;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using varnel::uno::toQString;

struct OfficeReader::Connection {
    Reference<css::frame::XDesktop2> desktop;
    Reference<css::sheet::XSpreadsheetDocument> document;

    std::vector<Reference<css::sheet::XSpreadsheetDocument>> untitled() {
        std::vector<Reference<css::sheet::XSpreadsheetDocument>> found;
        auto components = desktop->getComponents()->createEnumeration();
        while (components->hasMoreElements()) {
            Reference<css::sheet::XSpreadsheetDocument> spreadsheet(components->nextElement(),
                                                                    UNO_QUERY);
            Reference<css::frame::XStorable> storable(spreadsheet, UNO_QUERY);
            if (spreadsheet.is() && storable.is() && !storable->hasLocation())
                found.push_back(spreadsheet);
        }
        return found;
    }

    Reference<css::sheet::XSpreadsheetDocument> exported() {
        if (!document.is()) {
            auto found = untitled();
            if (found.empty())
                throw std::runtime_error("no untitled spreadsheet in the office");
            document = found.front();
        }
        return document;
    }

    Reference<css::sheet::XSpreadsheet> sheet() {
        Reference<css::container::XIndexAccess> sheets(exported()->getSheets(), UNO_QUERY_THROW);
        return Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(0), UNO_QUERY_THROW);
    }
};

namespace {

template <typename Call> auto reading(Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const css::uno::Exception& e) {
        throw std::runtime_error("reading the office failed: " +
                                 toQString(e.Message).toStdString());
    }
}

} // namespace

OfficeReader::OfficeReader(const QString& pipeName)
    : m_connection(std::make_unique<Connection>()) {
    reading([&] {
        m_connection->desktop = css::frame::Desktop::create(varnel::uno::connect(pipeName));
    });
}

OfficeReader::~OfficeReader() = default;

int OfficeReader::untitledSpreadsheets() {
    return reading([&] { return static_cast<int>(m_connection->untitled().size()); });
}

QString OfficeReader::url() {
    return reading([&] {
        Reference<css::frame::XStorable> storable(m_connection->exported(), UNO_QUERY_THROW);
        return toQString(storable->getLocation());
    });
}

bool OfficeReader::modified() {
    return reading([&] {
        Reference<css::util::XModifiable> modifiable(m_connection->exported(), UNO_QUERY_THROW);
        return bool(modifiable->isModified());
    });
}

OfficeReader::Cell OfficeReader::cell(int row, int column) {
    return reading([&] {
        auto cell = m_connection->sheet()->getCellByPosition(column - 1, row - 1);
        static const char* const types[] = {"EMPTY", "VALUE", "TEXT", "FORMULA"};
        Cell result;
        result.type = QString::fromLatin1(types[std::min(int(cell->getType()), 3)]);
        result.text =
            toQString(Reference<css::text::XTextRange>(cell, UNO_QUERY_THROW)->getString());

        sal_Int32 key = 0;
        Reference<css::beans::XPropertySet>(cell, UNO_QUERY_THROW)
            ->getPropertyValue("NumberFormat") >>= key;
        Reference<css::util::XNumberFormatsSupplier> supplier(m_connection->exported(),
                                                              UNO_QUERY_THROW);
        sal_Int16 kind = 0;
        supplier->getNumberFormats()->getByKey(key)->getPropertyValue("Type") >>= kind;
        result.textFormat = (kind & css::util::NumberFormat::TEXT) != 0;
        return result;
    });
}

QStringList OfficeReader::columnTexts(int column, int firstRow, int lastRow) {
    return reading([&] {
        Reference<css::sheet::XCellRangeData> range(
            m_connection->sheet()->getCellRangeByPosition(column - 1, firstRow - 1, column - 1,
                                                          lastRow - 1),
            UNO_QUERY_THROW);
        QStringList texts;
        for (const auto& row : range->getDataArray()) {
            rtl::OUString text;
            texts << ((row[0] >>= text) ? toQString(text) : QStringLiteral("<not text>"));
        }
        return texts;
    });
}

namespace {

template <typename Value>
Value columnProperty(const Reference<css::sheet::XSpreadsheet>& sheet, int column,
                     const char* name) {
    Reference<css::table::XColumnRowRange> range(sheet, UNO_QUERY_THROW);
    Reference<css::beans::XPropertySet> properties(range->getColumns()->getByIndex(column - 1),
                                                   UNO_QUERY_THROW);
    Value value{};
    properties->getPropertyValue(rtl::OUString::createFromAscii(name)) >>= value;
    return value;
}

} // namespace

bool OfficeReader::optimalWidth(int column) {
    return reading(
        [&] { return columnProperty<bool>(m_connection->sheet(), column, "OptimalWidth"); });
}

int OfficeReader::width(int column) {
    return reading(
        [&] { return int(columnProperty<sal_Int32>(m_connection->sheet(), column, "Width")); });
}
