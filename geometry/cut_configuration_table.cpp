#include "geometry/cut_configuration_table.h"

namespace {

constexpr uint8_t kUnlabelled = 255;

// Edge joining two members that differ in one axis bit, or -1.
int EdgeBetween(int a, int b) {
  for (int e = 0; e < 12; ++e) {
    if ((kBlockEdgeMembers[e][0] == a && kBlockEdgeMembers[e][1] == b) ||
        (kBlockEdgeMembers[e][0] == b && kBlockEdgeMembers[e][1] == a)) {
      return e;
    }
  }
  return -1;
}

}  // namespace

CutConfigurationTable::CutConfigurationTable()
    : componentOf_(kMaskCount * 8), componentIndex_(kMaskCount * 8), componentCount_(kMaskCount),
      components_(kMaskCount * 8) {
  for (int mask = 0; mask < kMaskCount; ++mask) BuildMask(mask);
}

void CutConfigurationTable::BuildMask(int mask) {
  uint8_t* label = &componentOf_[mask * 8];
  for (int m = 0; m < 8; ++m) label[m] = kUnlabelled;

  // depth-first labelling from each unlabelled member over intact edges, x, y, z in turn
  for (int start = 0; start < 8; ++start) {
    if (label[start] != kUnlabelled) continue;
    int stack[8];
    int top = 0;
    label[start] = static_cast<uint8_t>(start);
    stack[top++] = start;
    while (top > 0) {
      int m = stack[--top];
      for (int axis = 0; axis < 3; ++axis) {
        int other = m ^ (1 << axis);
        if (label[other] != kUnlabelled) continue;
        if (!(mask & (1 << EdgeBetween(m, other)))) continue;
        label[other] = static_cast<uint8_t>(start);
        stack[top++] = other;
      }
    }
  }

  // components in increasing order of their lowest member, members in increasing order
  int count = 0;
  for (int m = 0; m < 8; ++m) {
    if (label[m] == m) {
      Component& c = components_[mask * 8 + count];
      c = Component();
      c.lowest = static_cast<uint8_t>(m);
      c.lead = kUnlabelled;
      componentIndex_[mask * 8 + m] = static_cast<uint8_t>(count);
      ++count;
    }
  }
  componentCount_[mask] = static_cast<uint8_t>(count);
  for (int m = 0; m < 8; ++m) {
    int index = componentIndex_[mask * 8 + label[m]];
    componentIndex_[mask * 8 + m] = static_cast<uint8_t>(index);
    Component& c = components_[mask * 8 + index];
    c.members[c.memberCount++] = static_cast<uint8_t>(m);
  }

  // the lead member is the first endpoint of a crossed edge offered to the component
  for (int e = 0; e < 12; ++e) {
    if (mask & (1 << e)) continue;
    for (int end = 0; end < 2; ++end) {
      int m = kBlockEdgeMembers[e][end];
      Component& c = components_[mask * 8 + componentIndex_[mask * 8 + m]];
      if (c.lead == kUnlabelled) c.lead = static_cast<uint8_t>(m);
    }
  }
  // only the all-intact mask leaves a component without a crossed edge
  for (int k = 0; k < count; ++k) {
    Component& c = components_[mask * 8 + k];
    if (c.lead == kUnlabelled) c.lead = c.lowest;
  }
}
