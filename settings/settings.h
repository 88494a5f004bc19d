#pragma once

#include <QSerialPort>
#include <QString>

// The serial parameters, each with the text the user chose; the INI file holds the texts.
struct Settings {
    QString name;
    qint32 baudRate = 0;
    QString stringBaudRate;
    QSerialPort::DataBits dataBits = QSerialPort::UnknownDataBits;
    QString stringDataBits;
    QSerialPort::Parity parity = QSerialPort::UnknownParity;
    QString stringParity;
    QSerialPort::StopBits stopBits = QSerialPort::UnknownStopBits;
    QString stringStopBits;
    QSerialPort::FlowControl flowControl = QSerialPort::UnknownFlowControl;
    QString stringFlowControl;
    bool localEchoEnabled = false;
};
