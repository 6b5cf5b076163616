#pragma once
// Where the crawler keeps the files it writes of its own accord: the default
// image folder "imgdown", the run-log dumps in "Log" and the dispatcher's
// "errLog.txt". They stand beside the program while its folder is writable
// (a build folder, a copy in the home folder); an installed program's folder
// (/usr/bin) is not, and they go to the user's data folder instead. The
// downloader is always looked for beside the program, wherever the data goes.
#include <QString>
#include <functional>

namespace qm {

// Whether the current user may create files in `folder` (access(2), W_OK).
bool FolderWritable(const QString& folder);

// $XDG_DATA_HOME/qmcrawl, or ~/.local/share/qmcrawl when the variable is unset,
// empty or not an absolute path. Not created here.
QString UserDataFolder();

// The data folder of a program in `programFolder`: the program folder itself
// when `writable` says so, otherwise UserDataFolder().
QString DataFolderFor(const QString& programFolder,
                      const std::function<bool(const QString&)>& writable);
// The same with the real check, FolderWritable.
QString DataFolderFor(const QString& programFolder);

}  // namespace qm
