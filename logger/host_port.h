// HOST[:PORT] as --mqtt's URLs and --http take it: a name or IPv4 address, or an IPv6 address in
// brackets ("[::1]:1884"). A bare IPv6 address ("::1") is refused: its last group could be a port.
#pragma once

#include <string>

namespace qlog {

struct HostPort {
    std::string sHost;  // without the brackets of an IPv6 address
    int nPort = -1;     // -1: none given
    bool bIpv6 = false;
};

// False with *pError saying why for anything else; a port is 0..65535.
bool parseHostPort(const std::string& sText, HostPort* pResult, std::string* pError);

// "host:port", or "[v6]:port": the form a user types.
std::string hostPortText(const std::string& sHost, int nPort);

}  // namespace qlog
