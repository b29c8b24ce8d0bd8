// FieldReader over arbitrary bytes: it must end, advance on every call and never crash.
#include "core/app/FieldReader.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FieldReader reader(text);
    QString field, error;
    qsizetype reads = 0;
    while (reader.hasMore()) {
        const bool ok = reader.read(&field, &error);
        if (field.size() > text.size())
            std::abort();
        if (!ok)
            break;
        // Every read consumes at least one character, so there are never more reads than characters.
        if (++reads > text.size())
            std::abort();
    }
    return 0;
}
