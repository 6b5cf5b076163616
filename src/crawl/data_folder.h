#pragma once
// Where the crawler keeps the files it writes of its own accord: the default
// image folder "imgdown", the run-log dumps in "Log" and the dispatcher's
// "errLog.txt". An installed program never writes into its install folder:
// run from there (/usr/bin), it keeps them in the user's data folder, whoever
// runs it, root included. Run from any other folder (a build folder, a copy in
// the home folder), they stand beside the program while the user may write
// there. The downloader is always looked for beside the program, wherever the
// data goes.
#include <QString>

namespace qm {

// Whether the current user may create files in `folder` (access(2), W_OK).
bool FolderWritable(const QString& folder);

// The folder the programs are installed into, as configured at build time
// (the install prefix's bin folder).
QString InstallFolder();

// Whether `a` and `b` name one folder: by their canonical paths when both
// exist (a trailing "/", "..", a symbolic link), otherwise by their clean paths.
bool SameFolder(const QString& a, const QString& b);

// $XDG_DATA_HOME/qmcrawl, or ~/.local/share/qmcrawl when the variable is unset,
// empty or not an absolute path. Not created here.
QString UserDataFolder();

// The data folder of a program in `programFolder`: UserDataFolder() when that
// is `installFolder` (SameFolder) or not writable, otherwise the program folder.
QString DataFolderFor(const QString& programFolder, const QString& installFolder = InstallFolder());

}  // namespace qm
