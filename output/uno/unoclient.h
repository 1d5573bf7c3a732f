#pragma once

#include <QString>

#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

namespace varnel::uno {

namespace css = com::sun::star;

// The local UNO runtime, started on first use and kept for the life of the process:
// tearing it down while bridges may still exist crashes. Throws css::uno::Exception.
css::uno::Reference<css::uno::XComponentContext> localContext();

// One attempt to reach the office that accepts on pipeName. Throws
// css::connection::NoConnectException while nobody listens there yet.
css::uno::Reference<css::uno::XComponentContext> connect(const QString& pipeName);

inline rtl::OUString toOUString(const QString& text) {
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()), text.size());
}

inline QString toQString(const rtl::OUString& text) {
    return QString(reinterpret_cast<const QChar*>(text.getStr()), text.getLength());
}

} // namespace varnel::uno
