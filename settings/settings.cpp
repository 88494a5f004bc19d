#include "settings/settings.h"

#include "core/inivalue.h"

Settings settingsFrom(const settingsfile::Texts &texts)
{
    Settings s;
    s.name = texts.port;
    s.stringBaudRate = texts.baudRate;
    s.baudRate = inivalue::value(texts.baudRate, inivalue::baudRates());
    s.stringDataBits = texts.dataBits;
    s.dataBits = QSerialPort::DataBits(inivalue::value(texts.dataBits, inivalue::dataBits()));
    s.stringParity = texts.parity;
    s.parity = QSerialPort::Parity(inivalue::value(texts.parity, inivalue::parities()));
    s.stringStopBits = texts.stopBits;
    s.stopBits = QSerialPort::StopBits(inivalue::value(texts.stopBits, inivalue::stopBits()));
    s.stringFlowControl = texts.flowControl;
    s.flowControl = QSerialPort::FlowControl(inivalue::value(texts.flowControl, inivalue::flowControls()));
    s.localEchoEnabled = texts.localEcho;
    return s;
}
