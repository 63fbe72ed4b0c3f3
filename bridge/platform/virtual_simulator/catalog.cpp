#include "bridge/platform/virtual_simulator/catalog.h"

#include <iterator>

namespace platform::virtual_sim {
namespace {

// One initialiser per device of catalog.json, in its order, made by the build.
constexpr CatalogEntry kEntries[] = {
#include "catalog_entries.inc"
};
static_assert(std::size(kEntries) == kCatalogSize, "catalog.json and kCatalogSize disagree");

}  // namespace

const std::array<CatalogEntry, kCatalogSize>& catalog() {
  static constexpr std::array<CatalogEntry, kCatalogSize> entries = std::to_array(kEntries);
  return entries;
}

}  // namespace platform::virtual_sim
