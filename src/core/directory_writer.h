#pragma once

// The other direction of the directory reader: records to the text a directory server sends
// (Windows-1251, CR LF). The player never writes a directory; the directory tool does, and shares
// the records with the reader so that what one writes the other reads back unchanged.

#include <string>
#include <string_view>
#include <vector>

#include "core/directory.h"

namespace vornel::core {

struct DirectoryWriteResult {
  std::string bytes;                       // the whole file
  std::vector<DirectoryProblem> problems;  // what could not be written faithfully; empty when all was
};

// Writes `firstLine` (line 1, which the reader skips), the banner lines, the groups and, group by
// group, their stations; a station's group field is its group's position, whatever its `category`
// says. Nothing is ever written altered: a station whose name or address the code page cannot
// hold, or that holds a field separator or a line end, is left out; such a header line or group
// name is written empty. Stations without streams are left out, as the reader would skip them.
// Each of these is reported with the line it concerns.
DirectoryWriteResult WriteDirectory(const Directory& directory, std::string_view firstLine);

}  // namespace vornel::core
