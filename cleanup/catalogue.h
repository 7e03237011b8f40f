#pragma once

#include "platform.h"

// Everything the cleanup removes; constant, in the order it is removed.
namespace CleanupCatalogue {

constexpr int BundleCount = 2;
constexpr int RegistryKeyCount = 26;

extern const char* const BundleIds[BundleCount];
extern const WCHAR MsiProductCode[];
extern const WCHAR* const RegistryKeys[RegistryKeyCount];

}  // namespace CleanupCatalogue
