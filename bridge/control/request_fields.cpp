#include "bridge/control/request_fields.h"

#include <cmath>

namespace {

// 2^63 and 2^64 as doubles: the first values past the ends of the 64-bit ranges.
constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

const nlohmann::json* _field(const nlohmann::json& request, std::string_view key) {
  if (!request.is_object()) return nullptr;
  const auto found = request.find(key);
  return found == request.end() ? nullptr : &*found;
}

bool _isWhole(double value) { return std::isfinite(value) && std::trunc(value) == value; }

}  // namespace

std::optional<std::string> stringField(const nlohmann::json& request, std::string_view key) {
  const nlohmann::json* value = _field(request, key);
  if (value == nullptr || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<int64_t> integerField(const nlohmann::json& request, std::string_view key) {
  const nlohmann::json* value = _field(request, key);
  if (value == nullptr) return std::nullopt;
  if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<int64_t>();
  if (value->is_number_unsigned()) {
    const uint64_t u = value->get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(u);
  }
  if (value->is_number_float()) {
    const double d = value->get<double>();
    if (!_isWhole(d) || d < -kTwoPow63 || d >= kTwoPow63) return std::nullopt;
    return static_cast<int64_t>(d);
  }
  return std::nullopt;
}

std::optional<uint64_t> unsignedField(const nlohmann::json& request, std::string_view key) {
  const nlohmann::json* value = _field(request, key);
  if (value == nullptr) return std::nullopt;
  if (value->is_number_unsigned()) return value->get<uint64_t>();
  if (value->is_number_integer()) {
    const int64_t i = value->get<int64_t>();
    if (i < 0) return std::nullopt;
    return static_cast<uint64_t>(i);
  }
  if (value->is_number_float()) {
    const double d = value->get<double>();
    if (!_isWhole(d) || d < 0 || d >= kTwoPow64) return std::nullopt;
    return static_cast<uint64_t>(d);
  }
  return std::nullopt;
}

std::optional<double> numberField(const nlohmann::json& request, std::string_view key) {
  const nlohmann::json* value = _field(request, key);
  if (value == nullptr) return std::nullopt;
  if (value->is_number_float()) return value->get<double>();
  if (value->is_number_unsigned()) {
    const uint64_t u = value->get<uint64_t>();
    const double d = static_cast<double>(u);
    if (d >= kTwoPow64 || static_cast<uint64_t>(d) != u) return std::nullopt;
    return d;
  }
  if (value->is_number_integer()) {
    const int64_t i = value->get<int64_t>();
    const double d = static_cast<double>(i);
    if (d >= kTwoPow63 || static_cast<int64_t>(d) != i) return std::nullopt;
    return d;
  }
  return std::nullopt;
}

std::optional<bool> booleanField(const nlohmann::json& request, std::string_view key) {
  const nlohmann::json* value = _field(request, key);
  if (value == nullptr) return std::nullopt;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_number()) {
    const double d = value->get<double>();
    if (d == 1.0) return true;
    if (d == 0.0) return false;
  }
  return std::nullopt;
}

bool hasWholeNumber(const nlohmann::json& request, std::string_view key) {
  const nlohmann::json* value = _field(request, key);
  if (value == nullptr) return false;
  if (value->is_number_integer()) return true;  // signed and unsigned
  return value->is_number_float() && _isWhole(value->get<double>());
}

std::optional<int64_t> integerFieldInRange(const nlohmann::json& request, std::string_view key, int64_t low,
                                           int64_t high) {
  const std::optional<int64_t> value = integerField(request, key);
  if (!value || *value < low || *value > high) return std::nullopt;
  return value;
}
