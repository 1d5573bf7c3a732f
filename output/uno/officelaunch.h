#pragma once

#include "officebackend.h"
#include "officecalls.h"

#include <com/sun/star/uno/XComponentContext.hpp>

namespace varnel::office {

// The office program to start: the one the options name, else the installed LibreOffice;
// empty when there is none.
QString officeProgram(const OfficeLaunchOptions& options);

// Runs `work` through the options' runAside, or here when they have none.
void runAside(const OfficeLaunchOptions& options, const std::function<void()>& work);

// Starts the office, detached, listening on `pipeName`; returns its process id.
qint64 startOffice(const QString& program, const OfficeLaunchOptions& options,
                   const QString& pipeName);

// Connects to the office on `pipeName`, trying again until the options' timeout while it
// starts; throws "Can't create object" when it never answers.
Reference<css::uno::XComponentContext> connectWithin(const QString& pipeName,
                                                     const OfficeLaunchOptions& options);

} // namespace varnel::office
