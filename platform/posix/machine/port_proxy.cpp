#include "platform/posix/machine/port_proxy.h"

namespace vk::posix {

std::string portProxy(const Machine& machine, const std::string& address, long port) {
  if (address.empty() || address.front() == '[') return {};
  static const Text key = u"SYSTEM\\CurrentControlSet\\Services\\PortProxy\\v4tov4\\tcp";
  const std::string portText = std::to_string(port);
  for (const std::string& listen : {address, std::string("*"), std::string("0.0.0.0")}) {
    const auto value =
        machine.registry().read(Hive::LocalMachine, key, fromUtf8(listen + "/" + portText));
    if (!value || (value->type != RegValue::Type::Sz && value->type != RegValue::Type::ExpandSz))
      continue;
    const std::string forward = toUtf8(value->text);
    const auto slash = forward.rfind('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == forward.size()) continue;
    return forward.substr(0, slash) + ":" + forward.substr(slash + 1);
  }
  return {};
}

} // namespace vk::posix
