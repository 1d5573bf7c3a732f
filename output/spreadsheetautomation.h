#pragma once

#include <QString>

#include <limits>
#include <memory>

namespace varnel {

// A small automation layer shaped like the calls the export makes on a spreadsheet
// application: create the application, Workbooks.add, ActiveSheet, cells(r, c) with
// numberformat and Value, Columns(k) and Columns() with Autofit, Visible, and the sheet's
// row count.
// Every call may throw varnel::Failure. Rows and columns count from 1.

class AutomationRange {
public:
    virtual ~AutomationRange() = default;
    virtual void setNumberFormat(const QString& format) = 0; // numberformat = ...
    virtual void setValue(const QString& value) = 0;         // Value = ...
    virtual void autofit() = 0;                              // Autofit
};

class AutomationSheet {
public:
    virtual ~AutomationSheet() = default;
    virtual std::unique_ptr<AutomationRange> cells(int row, int column) = 0;
    // cells(r, c) = value: the assignment through the cell's default member.
    virtual void assignCells(int row, int column, const QString& value) = 0;
    virtual std::unique_ptr<AutomationRange> columns(int column) = 0;
    virtual std::unique_ptr<AutomationRange> columns() = 0; // every column of the sheet
    // How many rows the sheet has; a sheet that does not say has room for any number.
    virtual int rowCount() { return std::numeric_limits<int>::max(); }
    // Written cells may be held back and sent on in large batches, each taking the office a
    // while; this sends what is held now, so the caller chooses where it waits for them.
    virtual void sendHeldWrites() {}
};

class AutomationWorkbook {
public:
    virtual ~AutomationWorkbook() = default;
    virtual std::unique_ptr<AutomationSheet> activeSheet() = 0;
};

class AutomationApplication {
public:
    virtual ~AutomationApplication() = default;
    virtual std::unique_ptr<AutomationWorkbook> workbooksAdd() = 0; // Workbooks, then add
    virtual void setVisible(bool visible) = 0;
};

// Creates application objects. The program's own provider loads the office backend at
// run time; tests use a recording fake.
class AutomationProvider {
public:
    virtual ~AutomationProvider() = default;
    // Throws Failure (CannotCreateObject) when no spreadsheet application can be had.
    virtual std::unique_ptr<AutomationApplication> createApplication() = 0;
};

} // namespace varnel
