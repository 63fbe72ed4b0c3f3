#include "bridge/platform/virtual_simulator/catalog.h"

namespace platform::virtual_sim {

const std::array<CatalogEntry, kCatalogSize>& catalog() {
  static const std::array<CatalogEntry, kCatalogSize> entries = {{
      {"7E57DE71-CE00-4000-8000-000000000001", "Virtual Phone", 1, 1, 1179, 2556, Behaviour::HomeScreen},
      {"7E57DE71-CE00-4000-8000-000000000002", "Virtual Tablet", 2, 1, 1640, 2360, Behaviour::HomeScreen},
      {"7E57DE71-CE00-4000-8000-000000000003", "Virtual TV", 3, 1, 1920, 1080, Behaviour::TVGrid},
      {"7E57DE71-CE00-4000-8000-000000000004", "Virtual Dual-Panel Phone", 1, 2, 1179, 2556, Behaviour::DualPanel},
      {"7E57DE71-CE00-4000-8000-000000000005", "Virtual Slow-Boot Phone", 1, 1, 1179, 2556, Behaviour::SlowBoot},
      {"7E57DE71-CE00-4000-8000-000000000006", "Virtual Headless Device", 1, 0, 0, 0, Behaviour::Headless},
      {"7E57DE71-CE00-4000-8000-000000000007", "Virtual Stale-Input Phone", 1, 1, 1179, 2556, Behaviour::StaleInput},
      {"7E57DE71-CE00-4000-8000-000000000008", "Virtual Animated Phone", 1, 1, 1179, 2556, Behaviour::Animated},
  }};
  return entries;
}

}  // namespace platform::virtual_sim
