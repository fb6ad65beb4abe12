#include "app/FailureSite.h"

#include <typeinfo>

#ifdef _WIN32
#include <intrin.h>
#include <windows.h>
#else
#include <dlfcn.h>

#include <QCoreApplication>
#include <QFileInfo>
#endif

#ifdef __GNUC__
#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#endif

namespace zeplo {

namespace {

QString className(const std::exception &error)
{
#ifdef __GNUC__
    const char *mangled = typeid(error).name();
    int status = 0;
    const std::unique_ptr<char, void (*)(void *)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                            std::free);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
#else
    // Readable as it is: "class zeplo::EngineError".
    QString name = QString::fromLatin1(typeid(error).name()).section(QLatin1Char(' '), -1);
#endif
    const qsizetype colon = name.lastIndexOf(QLatin1String("::"));
    return colon >= 0 ? name.mid(colon + 2) : name;
}

} // namespace

Q_NEVER_INLINE FailureSite failureSite(const std::exception &error)
{
    FailureSite site;
    site.className = className(error);
#ifdef _WIN32
    // The module is the file holding the calling code, whose handle is the
    // address the module was loaded at.
    const void *caller = _ReturnAddress();
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(caller), &module)) {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
        const QString file = QString::fromWCharArray(path, int(length));
        site.module = file.mid(file.lastIndexOf(QLatin1Char('\\')) + 1);
        site.address = quintptr(caller) - quintptr(module);
    } else {
        site.address = quintptr(caller);
    }
#else
    // The module is the program file; the address is relative to the load
    // address of the object that holds the calling code.
    site.module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const void *caller = __builtin_return_address(0);
    Dl_info info{};
    if (dladdr(caller, &info) && info.dli_fbase)
        site.address = quintptr(caller) - quintptr(info.dli_fbase);
    else
        site.address = quintptr(caller);
#endif
    return site;
}

} // namespace zeplo
