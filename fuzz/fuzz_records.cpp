// Settings files as a user might leave them: any bytes, any length. Reading must end, and
// a record written from what was read must read back the same.
#include "settings/recordformat.h"
#include "settings/settingsfiles.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    ProtocolSettings protocol;
    SettingsFiles::readTextRecords(bytes, SettingsFiles::fieldsOf(protocol), false);
    CommSettings comm;
    SettingsFiles::readTextRecords(bytes, SettingsFiles::fieldsOf(comm), true);

    RecordFormat::Reader reader(bytes);
    QList<QByteArray> fields;
    QByteArray field;
    while (fields.size() < 64 && reader.readField(&field)) {
        // Quotes cannot be written; everything else must survive a round trip.
        if (!field.contains('"'))
            fields.append(field);
    }
    if (fields.isEmpty())
        return 0;
    RecordFormat::Reader again(RecordFormat::writeRecord(fields));
    for (const QByteArray &expected : fields) {
        QByteArray got;
        if (!again.readField(&got) || got != expected)
            std::abort();
    }
    return 0;
}
