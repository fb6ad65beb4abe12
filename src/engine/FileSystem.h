#pragma once

#include <QString>

namespace zeplo {

// Whether the file lies on a file system shared over a network (NFS, SMB/CIFS
// and the like), where SQLite's write-ahead log cannot work: its index lives
// in memory that only the programs of one computer share.
bool onNetworkFileSystem(const QString &path);

// Whether a Linux file system type (statfs f_type) is one of those.
bool isNetworkFileSystemType(unsigned long type);

} // namespace zeplo
