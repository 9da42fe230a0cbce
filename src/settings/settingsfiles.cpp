#include "settings/settingsfiles.h"

#include "platform/appfolder.h"
#include "settings/recordformat.h"
#include "text/ansicodec.h"

#include <QFile>
#include <QSaveFile>

#include <memory>
#include <vector>

namespace SettingsFiles {

std::optional<QByteArray> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = file.read(kMaxFileSize);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

bool writeRecordFile(const QString &path, const QList<QByteArray> &fields, QString *error)
{
    if (AppFolder::isReadOnlyFile(path)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, QObject::tr("the file is read-only"));
        return false;
    }
    QSaveFile file(path);
    const QByteArray record = RecordFormat::writeRecord(fields);
    if (!file.open(QIODevice::WriteOnly) || file.write(record) != record.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

bool writeRecordFiles(const QList<RecordFile> &files, QString *error)
{
    std::vector<std::unique_ptr<QSaveFile>> staged;
    for (const RecordFile &file : files) {
        if (AppFolder::isReadOnlyFile(file.path)) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(file.path, QObject::tr("the file is read-only"));
            return false;
        }
        auto out = std::make_unique<QSaveFile>(file.path);
        const QByteArray record = RecordFormat::writeRecord(file.fields);
        // flush() pushes the bytes to the temporary file now, so a full disk shows here.
        if (!out->open(QIODevice::WriteOnly) || out->write(record) != record.size() || !out->flush()) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(file.path, out->errorString());
            out->cancelWriting();
            return false; // the staged files are dropped unwritten
        }
        staged.push_back(std::move(out));
    }
    for (size_t i = 0; i < staged.size(); ++i) {
        if (!staged[i]->commit()) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(files.at(qsizetype(i)).path, staged[i]->errorString());
            return false;
        }
    }
    return true;
}

QList<QString *> fieldsOf(CommSettings &s)
{
    return { &s.PortNumber, &s.BaudRate, &s.Parity, &s.DataBits, &s.StopBits };
}

QList<QString *> fieldsOf(ProtocolSettings &s)
{
    QList<QString *> fields { &s.OutputType, &s.IntervalSeconds, &s.ContinuousOutputText };
    for (QString &text : s.OutputDataText)
        fields.append(&text);
    for (QString &text : s.DeviceCommandText)
        fields.append(&text);
    return fields;
}

QList<QByteArray *> fieldsOf(DeviceCommandTable &t)
{
    QList<QByteArray *> fields { &t.ContinuousOutputBytes };
    for (QByteArray &bytes : t.DeviceCommandBytes)
        fields.append(&bytes);
    for (QByteArray &bytes : t.OutputDataBytes)
        fields.append(&bytes);
    return fields;
}

QList<const QString *> constFieldsOf(const CommSettings &s)
{
    return { &s.PortNumber, &s.BaudRate, &s.Parity, &s.DataBits, &s.StopBits };
}

QList<const QString *> constFieldsOf(const ProtocolSettings &s)
{
    QList<const QString *> fields { &s.OutputType, &s.IntervalSeconds, &s.ContinuousOutputText };
    for (const QString &text : s.OutputDataText)
        fields.append(&text);
    for (const QString &text : s.DeviceCommandText)
        fields.append(&text);
    return fields;
}

QList<QByteArray> fieldValues(const DeviceCommandTable &t)
{
    QList<QByteArray> values { t.ContinuousOutputBytes };
    for (const QByteArray &bytes : t.DeviceCommandBytes)
        values.append(bytes);
    for (const QByteArray &bytes : t.OutputDataBytes)
        values.append(bytes);
    return values;
}

bool encodeFields(const QList<const QString *> &texts, QList<QByteArray> *out, QString *unmappable)
{
    QList<QByteArray> values;
    for (const QString *text : texts) {
        QByteArray bytes;
        if (!Ansi::encode(*text, &bytes, unmappable))
            return false;
        values.append(bytes);
    }
    *out = values;
    return true;
}

QByteArray withoutByteOrderMark(const QByteArray &data)
{
    return data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data;
}

int readTextRecords(const QByteArray &raw, const QList<QString *> &fields, bool firstOnly)
{
    // Files this program writes are code page 932 and must read back as written: guessing
    // UTF-8 from the bytes takes half-width katakana such as C3 BD for a UTF-8 letter. Only a
    // byte-order mark, which a hand edit in a UTF-8 editor leaves, says UTF-8.
    const bool utf8 = raw.startsWith("\xEF\xBB\xBF");
    const QByteArray data = withoutByteOrderMark(raw);
    RecordFormat::Reader reader(data);
    int records = 0;
    while (!reader.atEnd()) {
        for (QString *field : fields) {
            QByteArray value;
            if (!reader.readField(&value))
                break;
            *field = utf8 ? QString::fromUtf8(value) : Ansi::decode(value);
        }
        ++records;
        if (firstOnly)
            break;
    }
    return records;
}

} // namespace SettingsFiles
