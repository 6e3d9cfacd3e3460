#include "geometry/cut_configuration_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::vector<int>> Components(const CutConfigurationTable& table, int mask) {
  std::vector<std::vector<int>> result;
  for (int k = 0; k < table.ComponentCount(mask); ++k) {
    const auto& c = table.GetComponent(mask, k);
    result.emplace_back(c.members, c.members + c.memberCount);
  }
  return result;
}

int Lead(const CutConfigurationTable& table, int mask, int member) {
  return table.GetComponent(mask, table.ComponentIndexOf(mask, member)).lead;
}

TEST(CutConfigurationTable, ListedMasks) {
  const CutConfigurationTable table;
  // every edge crossed: each member alone and its own lead
  EXPECT_EQ(Components(table, 0), (std::vector<std::vector<int>>{{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}}));
  for (int m = 0; m < 8; ++m) EXPECT_EQ(Lead(table, 0, m), m);

  // only edge 0 crossed: one piece, led by edge 0's lower end
  EXPECT_EQ(Components(table, 4094), (std::vector<std::vector<int>>{{0, 1, 2, 3, 4, 5, 6, 7}}));
  EXPECT_EQ(Lead(table, 4094, 5), 0);

  // edges 0, 4 and 8 crossed cut member 0 off
  const int cornerOff = 4095 & ~((1 << 0) | (1 << 4) | (1 << 8));
  EXPECT_EQ(Components(table, cornerOff), (std::vector<std::vector<int>>{{0}, {1, 2, 3, 4, 5, 6, 7}}));
  EXPECT_EQ(Lead(table, cornerOff, 6), 1);

  // only edges 1 (2,3) and 11 (3,7) intact; edge 3 (6,7) offers 7 before edge 4 offers 2
  EXPECT_EQ(Components(table, 2050), (std::vector<std::vector<int>>{{0}, {1}, {2, 3, 7}, {4}, {5}, {6}}));
  EXPECT_EQ(Lead(table, 2050, 2), 7);
  EXPECT_EQ(table.ComponentOf(2050, 7), 2);
  EXPECT_EQ(table.ComponentOf(2050, 6), 6);
}

// Members reachable from each other over intact edges, by repeated relaxation.
std::vector<int> ReachabilityLabels(int mask) {
  std::vector<int> label{0, 1, 2, 3, 4, 5, 6, 7};
  for (bool changed = true; changed;) {
    changed = false;
    for (int e = 0; e < 12; ++e) {
      if (!(mask & (1 << e))) continue;
      int& a = label[kBlockEdgeMembers[e][0]];
      int& b = label[kBlockEdgeMembers[e][1]];
      if (a != b) {
        a = b = std::min(a, b);
        changed = true;
      }
    }
  }
  return label;
}

TEST(CutConfigurationTable, EveryMaskMatchesReachabilityAndHasLeads) {
  const CutConfigurationTable table;
  for (int mask = 0; mask < CutConfigurationTable::kMaskCount; ++mask) {
    const std::vector<int> label = ReachabilityLabels(mask);
    int listed = 0;
    for (int k = 0; k < table.ComponentCount(mask); ++k) {
      const auto& c = table.GetComponent(mask, k);
      listed += c.memberCount;
      for (int n = 0; n < c.memberCount; ++n) ASSERT_EQ(label[c.members[n]], c.lowest) << mask;
      if (mask == kBlockMaskAllIntact) continue;
      // the lead is a member of the component at the end of a crossed edge
      ASSERT_EQ(label[c.lead], c.lowest) << mask;
      bool onCrossedEdge = false;
      for (int e = 0; e < 12; ++e) {
        if (!(mask & (1 << e)) && (kBlockEdgeMembers[e][0] == c.lead || kBlockEdgeMembers[e][1] == c.lead)) onCrossedEdge = true;
      }
      ASSERT_TRUE(onCrossedEdge) << mask;
    }
    ASSERT_EQ(listed, 8) << mask;
    for (int m = 0; m < 8; ++m) ASSERT_EQ(table.ComponentOf(mask, m), label[m]) << mask;
  }
}

TEST(CutConfigurationTable, EveryMaskKeepsTheOrderingRules) {
  const CutConfigurationTable table;
  for (int mask = 0; mask < CutConfigurationTable::kMaskCount; ++mask) {
    if (mask == kBlockMaskAllIntact) continue;
    const std::vector<int> label = ReachabilityLabels(mask);
    // the lead of a component is the first member offered to it: crossed edges
    // in increasing order, each offering its lower member, then its upper one
    int expectedLead[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    for (int e = 0; e < 12; ++e) {
      if (mask & (1 << e)) continue;
      for (int end = 0; end < 2; ++end) {
        const int member = kBlockEdgeMembers[e][end];
        if (expectedLead[label[member]] < 0) expectedLead[label[member]] = member;
      }
    }
    int previousLowest = -1;
    for (int k = 0; k < table.ComponentCount(mask); ++k) {
      const auto& c = table.GetComponent(mask, k);
      // components in increasing order of their lowest member, which comes first
      ASSERT_GT(c.lowest, previousLowest) << mask;
      previousLowest = c.lowest;
      ASSERT_GT(c.memberCount, 0) << mask;
      ASSERT_EQ(c.members[0], c.lowest) << mask;
      for (int n = 1; n < c.memberCount; ++n) ASSERT_GT(c.members[n], c.members[n - 1]) << mask;
      for (int n = 0; n < c.memberCount; ++n) ASSERT_EQ(table.ComponentIndexOf(mask, c.members[n]), k) << mask;
      ASSERT_EQ(c.lead, expectedLead[c.lowest]) << mask;
    }
  }
}

}  // namespace
