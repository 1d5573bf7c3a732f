#include "commandline.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    varnel::cli::holdClosedStandardStreams();
    const varnel::cli::Invocation call =
        varnel::cli::parseCommandLine(varnel::cli::argumentsOf(argc, argv));
    if (call.action == varnel::cli::Invocation::Action::OpenWindow)
        return varnel::cli::startWindowProgram(argv);
    QCoreApplication app(argc, argv);
    return varnel::cli::runCommandLine(call);
}
