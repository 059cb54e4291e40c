#include "tests/proxy/ComApartment.h"

namespace {
const auto* const kApartment = ::testing::AddGlobalTestEnvironment(new MultithreadedApartment);
}  // namespace
