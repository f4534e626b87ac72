#include "qorv/support/hashed_string.h"

#include <utility>

#include "qorv/platform/archive.h"
#include "qorv/siblings/archive_streams/archive_strings.h"
#include "qorv/siblings/utility_toolkit/tku_string.h"

using namespace qorv::siblings;

using namespace qorv::platform;

namespace {

// Created once per process, on first use (thread-safe static initialisation).
const tkuLogicalStringEquals& logicalEquals() {
  static const tkuLogicalStringEquals equals;
  return equals;
}

const tkuLogicalStringCompare& logicalCompare() {
  static const tkuLogicalStringCompare compare;
  return compare;
}

}  // namespace

std::uint32_t gm_cad_string_hash(const utString& s) {
  return tku_fnv1a_hash(s.c_str(), s.length());
}

std::uint32_t gm_cad_string_hash(const char* buffer, std::size_t length) {
  return tku_fnv1a_hash(buffer == nullptr ? "" : buffer, buffer == nullptr ? 0 : length);
}

void gm_replace_name_slashes(utString& s) {
  if (!s.is_null()) s.convert('/', '\\');
}

gmHashedString::gmHashedString(const utString& s)
    : string_(s), hash_(s.is_null() ? 0 : gm_cad_string_hash(s)) {}

gmHashedString::gmHashedString(gmHashedString&& other) noexcept
    : string_(std::move(other.string_)), hash_(std::exchange(other.hash_, 0)) {}

gmHashedString& gmHashedString::operator=(gmHashedString&& other) noexcept {
  if (this != &other) {
    string_ = std::move(other.string_);
    hash_ = std::exchange(other.hash_, 0);
  }
  return *this;
}

void gmHashedString::set_invalid() {
  string_ = utString();
  hash_ = 0;
}

bool gmHashedString::operator==(const gmHashedString& other) const {
  if (invalid() || other.invalid()) return invalid() && other.invalid();
  return hash_ == other.hash_ && logicalEquals()(string_.view(), other.string_.view());
}

int gmHashedString::compare(const gmHashedString& other) const {
  if (invalid() || other.invalid()) return int(invalid()) - int(other.invalid());
  return logicalCompare()(string_.to_wide(), other.string_.to_wide());
}

void gmHashedString::serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << string_;
    return;
  }
  utString loaded;
  ar >> loaded;
  if (loaded.is_null()) {
    set_invalid();
  } else {
    string_ = std::move(loaded);
    hash_ = gm_cad_string_hash(string_);
  }
}
