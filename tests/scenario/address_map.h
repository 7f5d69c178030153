// Makes made-up server addresses ("10.0.0.5", "WS01") reach the scenario's simulators. A program
// that links address_map.cpp carries its own SQLDriverConnectW: it rewrites the SERVER= value
// of the connection string when it names a mapped address and hands the call on to the driver
// manager's. The file data source and everything the tool writes stay as they are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tw::scenario {

struct AddressRoute {
  std::string address;  // as the tool is given it, UTF-8
  std::string target;   // "127.0.0.1,PORT"
};

// Replaces the routes in force for this process.
void SetAddressRoutes(const std::vector<AddressRoute>& routes);

// The connection string with every SERVER= value (bare or in braces) that names a route's
// address, ASCII letters compared without case, replaced by the route's target.
std::u16string RouteConnectionString(std::u16string_view connection);

}  // namespace tw::scenario
