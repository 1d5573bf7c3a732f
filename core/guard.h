#pragma once

#include "failure.h"

#include <QString>

#include <exception>
#include <functional>
#include <new>

namespace varnel {

class UserInterface;

// One run of a guarded operation: each statement runs through run() or step(); a failure
// is reported with the operation's location and current line, and the operation goes on
// with its next statement. ProgramEnding is never caught here: closing the window ends
// every command at once.
class GuardedOperation {
public:
    GuardedOperation(UserInterface& ui, QString location)
        : m_ui(ui)
        , m_location(std::move(location)) {}

    // Starts numbered line `line` and runs its statement.
    template <typename Statement> void step(int line, Statement&& statement) {
        m_line = line;
        run(std::forward<Statement>(statement));
    }

    // Runs a statement that belongs to the current numbered line.
    template <typename Statement> void run(Statement&& statement) {
        try {
            statement();
        } catch (const Failure& failure) {
            report(failure.description());
        } catch (const std::bad_alloc&) {
            report(failures::outOfMemory().description());
        } catch (const ProgramEnding&) {
            throw;
        } catch (const std::exception& other) {
            report(QString::fromLocal8Bit(other.what()));
        }
    }

    // Runs before each report: a report is a modal box, and handlers run inside it, so a
    // command that holds back work (a batch of results) hands it over first.
    void setBeforeReport(std::function<void()> hook) { m_beforeReport = std::move(hook); }

    void setLine(int line) { m_line = line; }
    int line() const { return m_line; }
    int failureCount() const { return m_failures; }
    const QString& location() const { return m_location; }
    UserInterface& ui() const { return m_ui; }

private:
    void report(const QString& description);

    UserInterface& m_ui;
    QString m_location;
    int m_line = 0;
    int m_failures = 0;
    std::function<void()> m_beforeReport;
};

} // namespace varnel
