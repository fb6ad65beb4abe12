#include "engine/FileSystem.h"

#include <QFileInfo>

#if defined(__linux__)
#include <sys/vfs.h>
#elif defined(_WIN32)
#include <windows.h>
#endif

namespace zeplo {

bool isNetworkFileSystemType(unsigned long type)
{
    switch (type & 0xffffffffUL) {
    case 0x6969UL:        // NFS
    case 0x517bUL:        // SMB
    case 0xff534d42UL:    // CIFS
    case 0xfe534d42UL:    // SMB2
    case 0x564cUL:        // NCP
    case 0x73757245UL:    // Coda
    case 0x5346414fUL:    // AFS
    case 0x6b414653UL:    // kAFS
    case 0x01021997UL:    // 9P
    case 0x00c36400UL:    // Ceph
    case 0x0bd00bd0UL:    // Lustre
    case 0x01161970UL:    // GFS2
    case 0x7461636fUL:    // OCFS2
        return true;
    default:
        return false;
    }
}

bool onNetworkFileSystem(const QString &path)
{
    const QFileInfo info(path);
    const QString folder = info.exists() ? info.absoluteFilePath() : info.absolutePath();
#if defined(__linux__)
    struct statfs fs {};
    return statfs(QFile::encodeName(folder).constData(), &fs) == 0 && isNetworkFileSystemType(static_cast<unsigned long>(fs.f_type));
#elif defined(_WIN32)
    if (folder.startsWith(QLatin1String("//")) || folder.startsWith(QLatin1String("\\\\")))
        return true;
    const std::wstring root = folder.left(3).toStdWString();
    return GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
#else
    Q_UNUSED(folder);
    return false;
#endif
}

} // namespace zeplo
