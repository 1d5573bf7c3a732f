#pragma once

namespace varnel {

class MainWindow;

// Says which of the program's own files the window found, in the logging category
// "varnel.startup", which is off unless enabled (QT_LOGGING_RULES="varnel.startup.info=true"):
// it shows where an installed program looks without changing what the window does.
void logStartupFiles(const MainWindow& window);

} // namespace varnel
