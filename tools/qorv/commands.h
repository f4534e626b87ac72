// The qorv tool's commands; each returns the process exit status.
#pragma once

#include <ostream>

namespace qorv::tool {

int printClasses(std::ostream& out);
int dbSummary(const char* path, std::ostream& out);
int dbList(const char* path, std::ostream& out);
int dbShow(const char* path, const char* id, std::ostream& out);
// Builds the sample set, stores it in path, reopens the file and prints it.
int demo(const char* path, std::ostream& out);

}  // namespace qorv::tool
