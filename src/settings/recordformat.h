#pragma once

#include <QByteArray>
#include <QList>

// The quoted-field record of the settings files and saved logs:
//   "field","field",..."field" CR LF
// Fields are bytes (code page 932 text or raw line bytes) and carry anything but a
// double quote: commas, CR, LF and NUL stay inside the quotes as they are.
namespace RecordFormat {

QByteArray writeRecord(const QList<QByteArray> &fields);

// Reads fields one after the other from a byte buffer, across line ends: blanks before a
// field are skipped; a quoted field runs to the next quote; an unquoted one to the next
// comma or line end; the comma or line end after a field is consumed.
class Reader
{
public:
    explicit Reader(const QByteArray &data) : m_data(data) { }

    bool atEnd() const;
    // Reads the next field; false at the end of the data.
    bool readField(QByteArray *field);
    // Reads up to count fields into the given destinations in order; returns how many were
    // read. Destinations past the end of the data keep their values.
    int readFields(const QList<QByteArray *> &fields);

private:
    void skipBlanks();
    void skipSeparator();

    const QByteArray m_data;
    qsizetype m_pos = 0;
    bool m_afterComma = false;
};

} // namespace RecordFormat
