#pragma once

// What every piece of the office backend shares: how the office's exceptions become the
// program's failures, and the small helpers of its API.

#include "core/failure.h"
#include "unoclient.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/lang/DisposedException.hpp>

#include <new>

namespace varnel::office {

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using uno::toOUString;
using uno::toQString;

inline Failure automationError(const QString& detail) {
    if (detail.isEmpty())
        return {ErrorNumber::AutomationError, QStringLiteral("Automation error")};
    return {ErrorNumber::AutomationError, QStringLiteral("Automation error: %1").arg(detail)};
}

inline Failure officeGone() {
    return {ErrorNumber::RemoteServerUnavailable,
            QStringLiteral("The remote server machine does not exist or is unavailable: "
                           "LibreOffice or its document has been closed")};
}

// Only varnel::Failure may leave the backend: the program neither knows nor links the
// office's exception types.
template <typename Call> auto guarded(Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const Failure&) {
        throw;
    } catch (const css::lang::DisposedException&) {
        throw officeGone();
    } catch (const css::uno::RuntimeException& e) {
        // A broken connection (the office crashed or was ended) surfaces as a disposed
        // bridge; the command then stops instead of failing once per remaining cell.
        if (toQString(e.Message).contains(QStringLiteral("disposed"), Qt::CaseInsensitive))
            throw officeGone();
        throw automationError(toQString(e.Message));
    } catch (const css::uno::Exception& e) {
        throw automationError(toQString(e.Message));
    } catch (const std::bad_alloc&) {
        throw Failure(ErrorNumber::OutOfMemory, QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        throw automationError(QString::fromLocal8Bit(e.what()));
    }
}

inline css::beans::PropertyValue property(const char* name, const Any& value) {
    css::beans::PropertyValue result;
    result.Name = rtl::OUString::createFromAscii(name);
    result.Value = value;
    return result;
}

} // namespace varnel::office
