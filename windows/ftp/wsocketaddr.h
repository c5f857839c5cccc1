#pragma once
// Numeric socket addresses as the socket and its TLS side both read and print them.
#include <QString>
#include <sys/socket.h>

namespace wsock {
// A numeric address of either family; IPv6 may come in brackets ("[::1]").
bool parseNumeric(const QString &text, sockaddr_storage &out, socklen_t &len);
// Text of a socket address: dotted for IPv4, RFC 5952 form for IPv6 ("" for other families).
QString addrText(const sockaddr_storage &a);
}  // namespace wsock
