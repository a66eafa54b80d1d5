// The machine's network interfaces as XML, read from the operating system:
//
//   <NetworkInterfaces><Interface><Name>eth0</Name><State>up</State><MAC>52:54:00:12:34:56</MAC>
//   <IPv4>192.0.2.7/24</IPv4><IPv6>fe80::5054:ff:fe12:3456/64</IPv6></Interface>...</NetworkInterfaces>
#pragma once

#include <string>

namespace qsim {

std::string enumerateNetworkInterfaces();

}  // namespace qsim
