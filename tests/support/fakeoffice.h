#pragma once

#include "output/spreadsheetautomation.h"

#include <QStringList>

#include <functional>
#include <memory>

namespace varnel::testing {

// An office that takes every call. It records the cell values written and counts the
// documents shown; `working`, when set, is told of each call the real office answers only
// once its work is done (a new document, on a thread aside).
struct OfficeRecord {
    int shown = 0;
    QStringList values;
    std::function<void(const char*)> working;
    void wait(const char* call) const {
        if (working)
            working(call);
    }
};

template <typename Interface> struct FakeOfficeObject : Interface {
    explicit FakeOfficeObject(OfficeRecord& r)
        : record(r) {}
    template <typename Object> std::unique_ptr<Object> make() const {
        return std::make_unique<Object>(record);
    }
    OfficeRecord& record;
};

struct FakeRange : FakeOfficeObject<AutomationRange> {
    using FakeOfficeObject::FakeOfficeObject;
    void setNumberFormat(const QString&) override {}
    void setValue(const QString& value) override { record.values.append(value); }
    void autofit() override { record.wait("autofit"); }
};

struct FakeSheet : FakeOfficeObject<AutomationSheet> {
    using FakeOfficeObject::FakeOfficeObject;
    std::unique_ptr<AutomationRange> cells(int, int) override { return make<FakeRange>(); }
    void assignCells(int, int, const QString&) override {}
    std::unique_ptr<AutomationRange> columns(int) override { return make<FakeRange>(); }
    std::unique_ptr<AutomationRange> columns() override { return make<FakeRange>(); }
};

struct FakeWorkbook : FakeOfficeObject<AutomationWorkbook> {
    using FakeOfficeObject::FakeOfficeObject;
    std::unique_ptr<AutomationSheet> activeSheet() override { return make<FakeSheet>(); }
};

struct FakeApplication : FakeOfficeObject<AutomationApplication> {
    using FakeOfficeObject::FakeOfficeObject;
    std::unique_ptr<AutomationWorkbook> workbooksAdd() override {
        record.wait("workbooksAdd");
        return make<FakeWorkbook>();
    }
    void setVisible(bool) override { ++record.shown; }
};

struct FakeOffice : FakeOfficeObject<AutomationProvider> {
    using FakeOfficeObject::FakeOfficeObject;
    std::unique_ptr<AutomationApplication> createApplication() override {
        return make<FakeApplication>();
    }
};

} // namespace varnel::testing
