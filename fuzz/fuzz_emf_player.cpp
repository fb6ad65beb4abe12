// Feeds arbitrary bytes to the page picture reader and player. The bytes are
// not copied, so any read past their end is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zeplo::fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray emf = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        zeplo::readEmfHeader(emf);
        zeplo::listEmfRecords(emf);
    } catch (const zeplo::Error &) {
    }
    zeplo::fuzz::playOntoPage(emf);
    return 0;
}
