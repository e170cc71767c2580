#pragma once

// The `vornel-directory` command: reads Radio Browser's station list from a file or a live
// server, builds the directory and writes it as stations.dat. Apart from main() so that tests run
// the command as a user would, files and all.

#include <QStringList>

class QTextStream;

namespace vornel::directory_tool {

// Exit statuses.
enum ToolStatus : int {
  kToolOk = 0,
  kToolUsage = 2,     // the command line was wrong
  kToolNoInput = 3,   // the input could not be read, fetched or parsed
  kToolNoOutput = 4,  // the directory could not be written
};

// `arguments` as main() gets them, the program's name first. The report of what went in and what
// was left out, and any error, go to `report`.
int RunTool(const QStringList& arguments, QTextStream& report);

}  // namespace vornel::directory_tool
