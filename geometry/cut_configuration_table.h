#pragma once
// Connected pieces of material in a 2 x 2 x 2 block of finest cells for every
// pattern of intact and severed inner faces. Members are numbered
// m = mx + 2 my + 4 mz; the mask has bit e set when block edge e is intact.
#include <cstdint>
#include <vector>

// The 12 inner faces of a block as (lower member, upper member); edges 0..3
// join members along x, 4..7 along y, 8..11 along z.
inline constexpr int kBlockEdgeMembers[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {0, 2}, {1, 3},
                                                 {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
inline constexpr int BlockEdgeAxis(int edge) { return edge / 4; }
inline constexpr int kBlockMaskAllIntact = 4095;

class CutConfigurationTable {
 public:
  static constexpr int kMaskCount = 4096;

  struct Component {
    uint8_t lowest = 0;       // lowest member, which also names the component
    uint8_t lead = 0;         // first member offered by a crossed edge
    uint8_t memberCount = 0;
    uint8_t members[8] = {};  // in increasing order
  };

  CutConfigurationTable();

  // Lowest member of the component that holds the member.
  int ComponentOf(int mask, int member) const { return componentOf_[mask * 8 + member]; }
  // Position of the member's component in the mask's component list.
  int ComponentIndexOf(int mask, int member) const { return componentIndex_[mask * 8 + member]; }
  int ComponentCount(int mask) const { return componentCount_[mask]; }
  // Components in increasing order of their lowest member.
  const Component& GetComponent(int mask, int index) const { return components_[mask * 8 + index]; }

 private:
  void BuildMask(int mask);

  std::vector<uint8_t> componentOf_;     // [mask * 8 + member] -> lowest member of its component
  std::vector<uint8_t> componentIndex_;  // [mask * 8 + member] -> index into the mask's components
  std::vector<uint8_t> componentCount_;  // [mask]
  std::vector<Component> components_;    // [mask * 8 + component]
};
