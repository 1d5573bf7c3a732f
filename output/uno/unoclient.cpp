#include "unoclient.h"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <cppuhelper/bootstrap.hxx>

#include <cstdlib>
#include <mutex>

namespace varnel::uno {

using css::uno::Reference;
using css::uno::XComponentContext;

Reference<XComponentContext> localContext() {
    static std::mutex mutex;
    static Reference<XComponentContext> context;
    std::lock_guard lock(mutex);
    if (!context.is()) {
        // Without it the runtime looks for its configuration beside this library, finds
        // none, and the first remote call dies instead of throwing.
        ::setenv("URE_BOOTSTRAP",
                 "vnd.sun.star.pathname:" VARNEL_OFFICE_PROGRAM_DIR "/fundamentalrc", 0);
        context = cppu::defaultBootstrap_InitialComponentContext();
    }
    return context;
}

Reference<XComponentContext> connect(const QString& pipeName) {
    auto resolver = css::bridge::UnoUrlResolver::create(localContext());
    const rtl::OUString url =
        "uno:pipe,name=" + toOUString(pipeName) + ";urp;StarOffice.ComponentContext";
    return Reference<XComponentContext>(resolver->resolve(url), css::uno::UNO_QUERY_THROW);
}

} // namespace varnel::uno
