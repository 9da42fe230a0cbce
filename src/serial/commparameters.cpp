#include "serial/commparameters.h"

#include <QStringList>

std::optional<CommParameters> CommParameters::parse(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;

    CommParameters p;
    const QString &speed = parts.at(0);
    if (speed.isEmpty() || speed.size() > 9)
        return std::nullopt;
    for (const QChar c : speed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    p.baudRate = speed.toInt();
    if (p.baudRate <= 0)
        return std::nullopt;

    const QString &parity = parts.at(1);
    if (parity == QLatin1String("N"))
        p.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        p.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        p.parity = QSerialPort::OddParity;
    else
        return std::nullopt;

    const QString &bits = parts.at(2);
    if (bits == QLatin1String("5"))
        p.dataBits = QSerialPort::Data5;
    else if (bits == QLatin1String("6"))
        p.dataBits = QSerialPort::Data6;
    else if (bits == QLatin1String("7"))
        p.dataBits = QSerialPort::Data7;
    else if (bits == QLatin1String("8"))
        p.dataBits = QSerialPort::Data8;
    else
        return std::nullopt;

    const QString &stop = parts.at(3);
    if (stop == QLatin1String("1"))
        p.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        p.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        p.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return p;
}

double CommParameters::bitsPerByte() const
{
    return uartFormat().bitsPerByte();
}

UartFormat CommParameters::uartFormat() const
{
    UartFormat format;
    format.baud = baudRate;
    format.dataBits = int(dataBits);
    format.parity = parity == QSerialPort::EvenParity ? 'E'
            : parity == QSerialPort::OddParity       ? 'O'
            : parity == QSerialPort::MarkParity      ? 'M'
            : parity == QSerialPort::SpaceParity     ? 'S'
                                                     : 'N';
    format.stopHalfBits = stopBits == QSerialPort::OneStop ? 2 : stopBits == QSerialPort::TwoStop ? 4 : 3;
    return format;
}
