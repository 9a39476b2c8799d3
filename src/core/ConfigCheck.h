// What `zevserver --check-config` adds to the start-up validation: the things the server reads
// without complaint but differently from what the operator probably meant.
#pragma once

#include <string>
#include <vector>

// Reports, through the log, keys the server does not know, keys given twice, integers and flags
// whose text reads as something else, files the server could not use, and ban-file lines that
// are not plain addresses. Returns the number of warnings; none of them stops the server.
int reportConfigurationWarnings();

// One line of the ban file, as an operator should read it. Empty when the line is a plain
// dotted address without a 0 octet. `fileName` and `lineNumber` only label the message.
std::string describeBanLine(const std::string& fileName, int lineNumber, const std::string& line,
                            bool* isWarning);
