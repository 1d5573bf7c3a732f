#include "saving.h"

#include "core/errorreport.h"
#include "core/guard.h"
#include "core/userinterface.h"
#include "lists/fileexists.h"
#include "lists/textfilelines.h"
#include "windowstate.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>

#include <memory>

namespace varnel {

namespace {

// The file being written. A plain file is replaced only by a complete new one: the text
// goes to a temporary file beside it, which takes the old one's place when everything is
// written and is thrown away otherwise (also when the command is cut short). A device or
// pipe has no place for a temporary file beside it and is written directly.
class ResultsFile {
public:
    void open(const QString& path) {
        const QFileInfo target(path);
        if (target.exists() && !target.isFile() && !target.isDir()) {
            m_file = std::make_unique<QFile>(path);
        } else {
            auto file = std::make_unique<QSaveFile>(path);
            m_save = file.get();
            m_file = std::move(file);
        }
        if (!m_file->open(QIODevice::WriteOnly)) {
            const QString description = m_file->errorString();
            m_file.reset();
            m_save = nullptr;
            throw Failure(ErrorNumber::PathFileAccessError, description);
        }
    }

    bool isOpen() const { return m_file != nullptr; }

    // The text as UTF-8 and CR LF.
    void writeLine(QStringView text) {
        m_line.resize(m_encoder.requiredSpace(text.size()) + 2);
        char* end = m_encoder.appendToBuffer(m_line.data(), text);
        *end++ = '\r';
        *end++ = '\n';
        const qint64 length = end - m_line.constData();
        if (m_file->write(m_line.constData(), length) != length)
            fail();
    }

    // Keeps what was written, unless a line went missing: then the old file stays as it was.
    void finish(bool complete) {
        if (!complete) {
            if (m_save)
                m_save->cancelWriting();
            return;
        }
        const bool written = m_save ? m_save->commit() : (m_file->flush() && closeFile());
        if (!written)
            fail();
    }

private:
    bool closeFile() {
        m_file->close();
        return m_file->error() == QFileDevice::NoError;
    }

    [[noreturn]] void fail() {
        const Failure failure = describeWriteFailure();
        if (m_save)
            m_save->cancelWriting();
        throw failure;
    }

    Failure describeWriteFailure() const {
        if (m_file->error() == QFileDevice::ResourceError)
            return failures::diskFull();
        // A write cut short by a full disk, a quota or a size limit comes back without a
        // system error text of its own, only the device's default one.
        const QString text = m_file->errorString();
        if (text == QFile().errorString())
            return failures::diskFull();
        return {ErrorNumber::DeviceIoError, text};
    }

    std::unique_ptr<QFileDevice> m_file;
    QSaveFile* m_save = nullptr;
    QStringEncoder m_encoder{QStringConverter::Utf8, QStringConverter::Flag::Stateless};
    QByteArray m_line;
};

} // namespace

void saveResultsAsText(WindowState& state) {
    GuardedOperation g(state.ui(), locations::saveResultsAsText);
    FileDialogRequest request;
    g.step(110, [&] { request.title = QStringLiteral("Save"); });
    g.step(112, [&] { request.filters = textFileFilters(); });
    QString path;
    g.step(114, [&] {
        path = state.ui().saveFileName(request);
        state.pump().checkAlive();
    });
    bool cancelled = false;
    g.step(118, [&] { cancelled = path.isEmpty(); });
    if (cancelled)
        return;
    bool exists = true;
    g.step(120, [&] { exists = fileExists(path); });
    // Without a clear Yes the old file is never touched.
    bool overwrite = false;
    if (exists) {
        g.step(122, [&] {
            overwrite = state.ui().askYesNo(QStringLiteral("Are you sure you wish to overwrite ") +
                                                path + QStringLiteral(" ?"),
                                            state.applicationTitle());
            state.pump().checkAlive();
        });
    } else {
        g.step(124, [&] { overwrite = true; });
    }
    if (!overwrite)
        return;
    g.step(128, [&] { state.setPointer(Pointer::Hourglass); });
    ResultsFile file;
    g.step(130, [&] { file.open(path); });
    // A file that could not be made gets no writes: each would only repeat the report.
    if (file.isOpen()) {
        LineListModel& results = state.results();
        EventPump& pump = state.pump();
        qsizetype n = 0;
        g.step(132, [&] { n = results.count(); });
        bool complete = true;
        for (qsizetype i = 1; i <= n && complete; ++i) {
            g.step(134, [&] { pump.yield(); });
            const int failuresBefore = g.failureCount();
            g.step(136, [&] { file.writeLine(results.text(i)); });
            // A failed write or a result that vanished during the yield ends the save
            // with one report; the old file stays as it was.
            complete = g.failureCount() == failuresBefore;
        }
        g.step(140, [&] { file.finish(complete); });
    }
    g.step(142, [&] { state.setPointer(Pointer::Arrow); });
}

} // namespace varnel
