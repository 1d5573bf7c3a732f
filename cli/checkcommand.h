#pragma once

#include "findingreport.h"
#include "order/lineorder.h"

#include <QStringList>

namespace varnel::cli {

struct CheckOptions {
    // The order of "Start Extracting Lines" unless asked otherwise.
    LineOrder order{LineOrder::Rule::Code, false};
    bool unique = false; // a line equal to the one below it is a finding too
    FindingReport::Format format = FindingReport::Format::Gnu;
    bool quiet = false;  // the exit status only
    bool blocks = false; // only the sorted blocks marked in each file
};

// "varnel check": every line of each FILE that sorts after the line below it (and with
// `unique`, every line equal to it), written as the format asks. Returns the exit status.
int runCheck(const QStringList& files, const CheckOptions& options);

} // namespace varnel::cli
