#pragma once

#include <QString>

#include <exception>

namespace varnel {

// The failure numbers users already know from the classic runtime this program's
// reports have always used, so a screenshot sent to support reads the same.
enum class ErrorNumber : int {
    InvalidProcedureCall = 5,
    Overflow = 6,
    OutOfMemory = 7,
    SubscriptOutOfRange = 9,
    BadFileNameOrNumber = 52,
    FileNotFound = 53,
    BadFileMode = 54,
    FileAlreadyOpen = 55,
    DeviceIoError = 57,
    DiskFull = 61,
    InputPastEndOfFile = 62,
    PermissionDenied = 70,
    PathFileAccessError = 75,
    PathNotFound = 76,
    CannotCreateObject = 429,
    AutomationError = 440,
    RemoteServerUnavailable = 462,
    InvalidPicture = 481,
    IndexOutOfBounds = 35600,
};

// Every failure the program can report carries a number and the description the user
// sees in the error report. Header-only on purpose: the spreadsheet backend, loaded at
// run time, throws the same type.
class Failure : public std::exception {
public:
    Failure(int number, QString description)
        : m_number(number)
        , m_description(std::move(description))
        , m_what(m_description.toUtf8()) {}
    Failure(ErrorNumber number, QString description)
        : Failure(static_cast<int>(number), std::move(description)) {}

    int number() const noexcept { return m_number; }
    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};

namespace failures {
Failure indexOutOfBounds();
Failure fileNotFound();
Failure pathNotFound();
Failure permissionDenied();
Failure diskFull();
Failure outOfMemory();
Failure deviceIoError();
// Maps a C library errno value onto the failure the user should read.
Failure fromErrno(int error);
// No spreadsheet application can be had, and why. Inline: the office backend, loaded at
// run time, says it too.
inline Failure cannotCreateObject(const QString& reason) {
    return {ErrorNumber::CannotCreateObject, QStringLiteral("Can't create object: %1").arg(reason)};
}
} // namespace failures

// Thrown from a yield when the main window has been closed: every command unwinds
// without running another step. It is deliberately not a Failure, so no guard reports it.
struct ProgramEnding {};

} // namespace varnel
