#include "host_port.h"

#include <stdlib.h>

namespace qlog {

namespace {

bool parsePort(const std::string& sPort, int* pnPort) {
    if (sPort.empty() || sPort.size() > 5 || sPort.find_first_not_of("0123456789") != std::string::npos) return false;
    const long n = strtol(sPort.c_str(), nullptr, 10);
    if (n > 65535) return false;
    *pnPort = static_cast<int>(n);
    return true;
}

}  // namespace

bool parseHostPort(const std::string& sText, HostPort* pResult, std::string* pError) {
    HostPort result;
    std::string sRest;
    if (!sText.empty() && sText.front() == '[') {
        const size_t nClose = sText.find(']');
        if (nClose == std::string::npos) {
            *pError = "\"" + sText + "\": an IPv6 address in brackets lacks its ']'";
            return false;
        }
        result.sHost = sText.substr(1, nClose - 1);
        result.bIpv6 = true;
        // Hex groups, colons and dots (an embedded IPv4 address), then perhaps "%<interface>".
        const std::string sAddress = result.sHost.substr(0, result.sHost.find('%'));
        const std::string sZone = sAddress.size() < result.sHost.size() ? result.sHost.substr(sAddress.size() + 1) : "";
        if (sAddress.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos || sAddress.find(':') == std::string::npos ||
            sZone.find_first_of(" \t/[]") != std::string::npos || (sAddress.size() + 1 == result.sHost.size())) {
            *pError = "\"" + sText + "\": \"" + result.sHost + "\" is no IPv6 address";
            return false;
        }
        sRest = sText.substr(nClose + 1);
        if (!sRest.empty() && sRest.front() != ':') {
            *pError = "\"" + sText + "\": only \":PORT\" may follow the address";
            return false;
        }
        if (!sRest.empty() && !parsePort(sRest.substr(1), &result.nPort)) {
            *pError = "\"" + sText + "\": the port is a number from 0 to 65535";
            return false;
        }
    } else {
        const size_t nColon = sText.find(':');
        if (nColon != std::string::npos && sText.find(':', nColon + 1) != std::string::npos) {
            *pError = "\"" + sText + "\": an IPv6 address goes in brackets: [::1] or [::1]:PORT";
            return false;
        }
        result.sHost = sText.substr(0, nColon);
        if (nColon != std::string::npos && !parsePort(sText.substr(nColon + 1), &result.nPort)) {
            *pError = "\"" + sText + "\": the port is a number from 0 to 65535";
            return false;
        }
        if (result.sHost.empty() || result.sHost.find_first_of(" \t/[]@?#") != std::string::npos) {
            *pError = "\"" + sText + "\": no host name or address";
            return false;
        }
    }
    *pResult = result;
    return true;
}

std::string hostPortText(const std::string& sHost, int nPort) {
    const bool bV6 = sHost.find(':') != std::string::npos;
    return (bV6 ? "[" + sHost + "]" : sHost) + ":" + std::to_string(nPort);
}

}  // namespace qlog
