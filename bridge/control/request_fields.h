// Typed fields of a request. Each reader looks its key up exactly and converts the
// value to one kind; a key that is absent, or whose value is not of that kind, gives
// nothing ("missing"). Pure functions; any thread.
//
//   string            a JSON string; nothing else (numbers included) counts.
//   integer           a JSON number with no fractional part in the signed 64-bit range
//                     (5 and 5.0 both give 5); 5.5, "5" and out-of-range values do not.
//   unsigned integer  a JSON number with no fractional part from 0 to 2^64-1.
//   number            a JSON number as a double; an integer a double cannot hold
//                     exactly (2^53+1) does not count.
//   boolean           true or false; the numbers 1 and 0 give true and false.
//
// A JSON boolean never counts as a number of any kind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

std::optional<std::string> stringField(const nlohmann::json& request, std::string_view key);
std::optional<int64_t> integerField(const nlohmann::json& request, std::string_view key);
std::optional<uint64_t> unsignedField(const nlohmann::json& request, std::string_view key);
std::optional<double> numberField(const nlohmann::json& request, std::string_view key);
std::optional<bool> booleanField(const nlohmann::json& request, std::string_view key);

// True when the key holds a JSON number with no fractional part, whatever its size
// (2^64, -2^70 and 1e30 included): an integer given out of every range, as opposed to a
// value of another kind.
bool hasWholeNumber(const nlohmann::json& request, std::string_view key);

// An integer field that also lies within [low, high]; nothing otherwise.
std::optional<int64_t> integerFieldInRange(const nlohmann::json& request, std::string_view key, int64_t low,
                                           int64_t high);
