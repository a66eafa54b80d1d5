#include "network_enumeration.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>

#include <map>
#include <vector>

namespace qsim {

namespace {

struct InterfaceInfo {
    bool bUp = false;
    bool bRunning = false;
    std::string sMac;
    std::vector<std::string> ipv4;
    std::vector<std::string> ipv6;
};

std::string escaped(const std::string& s) {
    std::string sOut;
    for (char c : s) {
        switch (c) {
            case '<': sOut += "&lt;"; break;
            case '>': sOut += "&gt;"; break;
            case '&': sOut += "&amp;"; break;
            default: sOut += c;
        }
    }
    return sOut;
}

int prefixLength(const unsigned char* pMask, size_t nBytes) {
    int nBits = 0;
    for (size_t i = 0; i < nBytes; ++i) {
        for (unsigned char b = pMask[i]; b != 0; b = static_cast<unsigned char>(b << 1)) ++nBits;
    }
    return nBits;
}

void addAddress(InterfaceInfo& info, const ifaddrs* pAddress) {
    char sText[INET6_ADDRSTRLEN] = {0};
    int nFamily = pAddress->ifa_addr->sa_family;
    if (nFamily == AF_INET) {
        const sockaddr_in* pIn = reinterpret_cast<const sockaddr_in*>(pAddress->ifa_addr);
        inet_ntop(AF_INET, &pIn->sin_addr, sText, sizeof(sText));
        int nPrefix = 32;
        if (pAddress->ifa_netmask != nullptr) {
            const sockaddr_in* pMask = reinterpret_cast<const sockaddr_in*>(pAddress->ifa_netmask);
            nPrefix = prefixLength(reinterpret_cast<const unsigned char*>(&pMask->sin_addr), 4);
        }
        info.ipv4.push_back(std::string(sText) + "/" + std::to_string(nPrefix));
    } else if (nFamily == AF_INET6) {
        const sockaddr_in6* pIn6 = reinterpret_cast<const sockaddr_in6*>(pAddress->ifa_addr);
        inet_ntop(AF_INET6, &pIn6->sin6_addr, sText, sizeof(sText));
        int nPrefix = 128;
        if (pAddress->ifa_netmask != nullptr) {
            const sockaddr_in6* pMask = reinterpret_cast<const sockaddr_in6*>(pAddress->ifa_netmask);
            nPrefix = prefixLength(reinterpret_cast<const unsigned char*>(&pMask->sin6_addr), 16);
        }
        info.ipv6.push_back(std::string(sText) + "/" + std::to_string(nPrefix));
    } else if (nFamily == AF_PACKET) {
        const sockaddr_ll* pLink = reinterpret_cast<const sockaddr_ll*>(pAddress->ifa_addr);
        std::string sMac;
        for (int i = 0; i < pLink->sll_halen && i < 8; ++i) {
            char sByte[4];
            snprintf(sByte, sizeof(sByte), i == 0 ? "%02x" : ":%02x", pLink->sll_addr[i]);
            sMac += sByte;
        }
        info.sMac = sMac;
    }
}

}  // namespace

std::string enumerateNetworkInterfaces() {
    ifaddrs* pList = nullptr;
    std::vector<std::string> order;
    std::map<std::string, InterfaceInfo> interfaces;
    if (getifaddrs(&pList) == 0) {
        for (const ifaddrs* p = pList; p != nullptr; p = p->ifa_next) {
            if (p->ifa_name == nullptr) continue;
            std::string sName = p->ifa_name;
            if (interfaces.count(sName) == 0) order.push_back(sName);
            InterfaceInfo& info = interfaces[sName];
            info.bUp = info.bUp || (p->ifa_flags & IFF_UP) != 0;
            info.bRunning = info.bRunning || (p->ifa_flags & IFF_RUNNING) != 0;
            if (p->ifa_addr != nullptr) addAddress(info, p);
        }
        freeifaddrs(pList);
    }
    std::string sXml = "<NetworkInterfaces>";
    for (const std::string& sName : order) {
        const InterfaceInfo& info = interfaces[sName];
        sXml += "<Interface><Name>" + escaped(sName) + "</Name><State>" +
                (info.bUp ? (info.bRunning ? "up" : "no-carrier") : "down") + "</State>";
        if (!info.sMac.empty()) sXml += "<MAC>" + info.sMac + "</MAC>";
        for (const std::string& s : info.ipv4) sXml += "<IPv4>" + s + "</IPv4>";
        for (const std::string& s : info.ipv6) sXml += "<IPv6>" + s + "</IPv6>";
        sXml += "</Interface>";
    }
    sXml += "</NetworkInterfaces>";
    return sXml;
}

}  // namespace qsim
