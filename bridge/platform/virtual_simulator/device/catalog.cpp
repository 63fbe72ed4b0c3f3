#include "bridge/platform/virtual_simulator/device/catalog.h"

namespace platform::virtual_sim {
namespace {

// One initialiser per device of catalog.json, in its order, made by the build.
constexpr auto kEntries = std::to_array<CatalogEntry>({
#include "catalog_entries.inc"
});
static_assert(kEntries.size() == kCatalogSize, "catalog.json and kCatalogSize disagree");

}  // namespace

const std::array<CatalogEntry, kCatalogSize>& catalog() {
  return kEntries;
}

}  // namespace platform::virtual_sim
