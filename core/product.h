#pragma once

// What the bridge is, as the network, the device and the user see it. One place for each fact: the
// program, the tools, the tests and the fuzz targets read them here. Plain C++ so the virtual
// projector, which has no Qt, shares them too.
namespace product {

inline constexpr char appName[] = "Tolvane";
inline constexpr char model[] = "KT5520M";
inline constexpr char serialNumber[] = "ABC-1234567";

// Answered by the bridge itself when the machine has no serial port.
inline constexpr char modelQuery[] = "op model ?";
inline constexpr char modelAnswer[] = "OP MODEL=KT5520M";
inline constexpr char serialNumberQuery[] = "op ser.no ?";
inline constexpr char serialNumberAnswer[] = "OP SER.NO=ABC-1234567";

// A datagram whose text holds this (case-sensitive) is a discovery probe.
inline constexpr char discoveryProbe[] = "?ZZ?";

inline constexpr unsigned short tcpPort = 7000;    // the control program's byte stream
inline constexpr unsigned short udpRxPort = 35070; // discovery probes and other datagrams in
inline constexpr unsigned short udpTxPort = 35069; // discovery replies out

// The settings file, in the program's first per-application data folder.
inline constexpr char iniFileName[] = "Tolvane.ini";
inline constexpr char iniGroup[] = "Default";
// The status endpoint's port, off when absent: [Status] StatusPort=N.
inline constexpr char iniStatusGroup[] = "Status";
inline constexpr char iniStatusPortKey[] = "StatusPort";
// Where the tools look for it unless told otherwise (the bridge serves only the port it is given).
inline constexpr unsigned short statusPort = 7080;

} // namespace product
