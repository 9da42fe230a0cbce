#pragma once

#include "serial/uartline.h"

#include <QSerialPort>
#include <QString>

#include <optional>

// The line parameters of a settings text such as "9600,N,8,1.5".
struct CommParameters
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Parses "speed,parity,data bits,stop bits": parity one of N, E, O; data bits 5 to 8;
    // stop bits 1, 1.5 or 2. Anything else (blanks, lower case, extra fields) is refused.
    static std::optional<CommParameters> parse(const QString &text);

    // Bits on the line for each byte: start, data, parity and stop bits.
    double bitsPerByte() const;
    // The same settings as a UART is programmed with.
    UartFormat uartFormat() const;

    bool operator==(const CommParameters &o) const
    {
        return baudRate == o.baudRate && parity == o.parity && dataBits == o.dataBits
                && stopBits == o.stopBits;
    }
    bool operator!=(const CommParameters &o) const { return !(*this == o); }
};
