#include "settings/recordformat.h"

namespace RecordFormat {

QByteArray writeRecord(const QList<QByteArray> &fields)
{
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += '"';
        line += fields.at(i);
        line += '"';
    }
    line += "\r\n";
    return line;
}

bool Reader::atEnd() const
{
    // Blanks and line ends after the last field do not make another field.
    for (qsizetype i = m_pos; i < m_data.size(); ++i) {
        const char c = m_data.at(i);
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    }
    return true;
}

void Reader::skipBlanks()
{
    while (m_pos < m_data.size() && (m_data.at(m_pos) == ' ' || m_data.at(m_pos) == '\t'))
        ++m_pos;
}

// Consumes what ends a field: blanks, then one comma, or one line end (CR LF, CR or LF).
void Reader::skipSeparator()
{
    skipBlanks();
    if (m_pos >= m_data.size())
        return;
    const char c = m_data.at(m_pos);
    if (c == ',') {
        ++m_pos;
        m_afterComma = true;
    } else if (c == '\r') {
        ++m_pos;
        if (m_pos < m_data.size() && m_data.at(m_pos) == '\n')
            ++m_pos;
    } else if (c == '\n') {
        ++m_pos;
    }
}

bool Reader::readField(QByteArray *field)
{
    // A comma right before a line end leaves an empty last field on that line.
    if (m_afterComma) {
        m_afterComma = false;
        skipBlanks();
        if (m_pos < m_data.size() && (m_data.at(m_pos) == '\r' || m_data.at(m_pos) == '\n')) {
            field->clear();
            skipSeparator();
            return true;
        }
    }
    // Empty lines between records are no fields.
    while (m_pos < m_data.size()) {
        skipBlanks();
        if (m_pos < m_data.size() && (m_data.at(m_pos) == '\r' || m_data.at(m_pos) == '\n'))
            ++m_pos;
        else
            break;
    }
    if (m_pos >= m_data.size())
        return false;

    if (m_data.at(m_pos) == '"') {
        const qsizetype start = m_pos + 1;
        qsizetype end = m_data.indexOf('"', start);
        // A missing closing quote takes the rest of the data as the field.
        if (end < 0)
            end = m_data.size();
        *field = m_data.mid(start, end - start);
        m_pos = qMin(end + 1, m_data.size());
        // Anything between the closing quote and the separator is not part of the field.
        while (m_pos < m_data.size() && m_data.at(m_pos) != ',' && m_data.at(m_pos) != '\r'
               && m_data.at(m_pos) != '\n')
            ++m_pos;
    } else {
        const qsizetype start = m_pos;
        while (m_pos < m_data.size() && m_data.at(m_pos) != ',' && m_data.at(m_pos) != '\r'
               && m_data.at(m_pos) != '\n')
            ++m_pos;
        *field = m_data.mid(start, m_pos - start).trimmed();
    }
    skipSeparator();
    return true;
}

int Reader::readFields(const QList<QByteArray *> &fields)
{
    int count = 0;
    for (QByteArray *destination : fields) {
        QByteArray value;
        if (!readField(&value))
            break;
        *destination = value;
        ++count;
    }
    return count;
}

} // namespace RecordFormat
