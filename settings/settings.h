#pragma once

#include "core/settingsfile.h"

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

// The record for the stored texts: each text kept, each value looked up in its table (a text no row
// names gives its own number, or 0).
Settings settingsFrom(const settingsfile::Texts &texts);
