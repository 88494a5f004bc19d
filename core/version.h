#pragma once

namespace version {
inline constexpr char appName[] = "Tolvane";
inline constexpr char number[] = "0.9.1.0";
inline constexpr char model[] = "KT5520M";
inline constexpr quint16 tcpPort = 7000;
inline constexpr quint16 udpRxPort = 35070;
inline constexpr quint16 udpTxPort = 35069;
} // namespace version
