#pragma once

#include "core/bridgestatus.h"

#include <QStringList>

// Fixed status records: the golden files' source and what the page test server shows.
namespace statusfixture {

// A bridge in a rack after an hour: port open, a client connected, counters of every size.
inline bridgestatus::BridgeStatus open()
{
    bridgestatus::BridgeStatus s;
    s.version = QStringLiteral("0.9.1.0");
    s.mode = QStringLiteral("service");
    s.uptimeS = 3725.5;
    s.port = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K7XQ2-if00-port0");
    s.settings = QStringLiteral("Connected to /dev/ttyV0 : 9600, 8, None, 1, None");
    s.portState = bridgestatus::PortState::Open;
    s.portOpenSince = QDateTime::fromString(QStringLiteral("2026-12-06T13:02:15.250Z"), Qt::ISODateWithMs);
    s.reopens = 2;
    s.losses = 2;
    s.commandsWritten = 10000;
    s.repliesForwarded = 9998;
    s.echoesDropped = 9999;
    s.timeouts = 1;
    s.localAnswers = 0;
    s.bytesToSerial = 140000;
    s.bytesFromSerial = 330017;
    s.bytesToTcp = 169966;
    s.bytesFromTcp = 120001;
    s.tcpAccepted = 100;
    s.currentClient = QStringLiteral("10.77.0.5:51234");
    s.lastReplyAgeS = 1.25;
    s.probesAnswered = 100;
    s.datagrams = 1000;
    return s;
}

// Just started on Windows, the adapter not plugged in yet: nulls, and a port name with backslashes.
inline bridgestatus::BridgeStatus waiting()
{
    bridgestatus::BridgeStatus s;
    s.version = QStringLiteral("0.9.1.0");
    s.mode = QStringLiteral("window");
    s.uptimeS = 0.0004;
    s.port = QStringLiteral("\\\\.\\COM10");
    s.portState = bridgestatus::PortState::Waiting;
    return s;
}

inline QStringList traffic()
{
    return {QStringLiteral("14:02:11.020 TCP> op status ?"), QStringLiteral("14:02:11.021 >>> op status ?"),
            QStringLiteral("14:02:11.123 <<< OP STATUS=ON"),
            QStringLiteral("14:02:12.500 UDP> udp=35070;time=14:02:12;?ZZ?")};
}

} // namespace statusfixture
