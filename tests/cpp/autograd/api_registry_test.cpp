#include <gtest/gtest.h>

#include "autograd/registry/apiversioning.hpp"

namespace {

using gradix_core::apiversioning::global_registry_mut;
using gradix_core::apiversioning::Version;
using gradix_core::apiversioning::VersionRegistry;

TEST(ApiRegistry, FilledAtLoadWith85Entries) {
  // No test code registers anything: the load-time initialiser did.
  auto guard = global_registry_mut();
  const auto& entries = guard->entries();
  ASSERT_EQ(entries.size(), 85u);
  EXPECT_EQ(entries.front().name, "CoreError");
  EXPECT_EQ(entries.front().module, "error");
  EXPECT_EQ(entries.back().name, "broadcast_to");
  EXPECT_EQ(entries.back().module, "ndarray_ext");
  for (const auto& entry : entries) {
    EXPECT_EQ(entry.version, (Version{1, 0, 0}));
    EXPECT_TRUE(entry.related.empty());
  }
}

TEST(ApiRegistry, RegisteringIsIdempotentPerNameAndModule) {
  VersionRegistry registry;
  registry.register_api("a", "m", {1, 0, 0}).register_api("a", "m", {2, 0, 0}).register_api("a", "n", {1, 0, 0});
  ASSERT_EQ(registry.entries().size(), 2u);
  EXPECT_EQ(registry.entries()[0].version, (Version{1, 0, 0}));
  EXPECT_EQ(registry.entries()[1].module, "n");
  // A second run of the registration adds nothing.
  gradix_core::api_freeze::api_freeze_impl();
  EXPECT_EQ(global_registry_mut()->entries().size(), 85u);
}

}  // namespace
