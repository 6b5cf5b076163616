#pragma once
// Starting and counting downloader processes.
#include <QString>
#include <cstddef>

namespace qm {

// Number of running processes whose executable file name, lower-cased, equals
// `name` lower-cased (read from /proc); 0 when the list cannot be read.
int ProcessCount(const QString& name);

// Starts `program` detached (it outlives the caller), with `parameters` as its
// one argument, through no shell, in the program's own folder. Returns whether
// the start succeeded.
bool ShellOpen(const QString& program, const QString& parameters);

// The largest parameter string (in bytes, UTF-8) that ShellOpen can hand over
// as one argument on this platform.
std::size_t MaxParameterBytes();

}  // namespace qm
