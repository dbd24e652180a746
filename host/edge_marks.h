// Edges a person marked on an object for the unfolding: edge-selection tags of these names on a
// source object (edge 4 x polygon + side, sdk::kTagEdgeSelection) say which edges stay cut,
// which stay folded, on which side of an edge its glue tab goes and which edges carry none. A
// host sets them as it sets any selection; the module reads them with the object. Plain
// constants, so that a program can name the tags without the module.
#pragma once

#include <cstdint>

namespace foldra {

/// Edges that are always cut: no join hinges across them.
inline constexpr const char* kEdgesCut = "Foldra cut";
/// Edges that are never cut: the unfolding joins across them wherever the piece stays flat,
/// on the page and with room for its tabs.
inline constexpr const char* kEdgesFold = "Foldra fold";
/// Sides that carry the glue tab of their cut edge: the copy named here gets it.
inline constexpr const char* kEdgesTab = "Foldra tab";
/// Cut edges without a glue tab.
inline constexpr const char* kEdgesNoTab = "Foldra no tab";

/// The marks of one side of a triangle, as bits. Cut, fold and no-tab marks hold for the edge,
/// so both copies carry them; a tab mark holds for the copy that was named.
inline constexpr std::uint8_t kMarkCut = 1u << 0;
inline constexpr std::uint8_t kMarkFold = 1u << 1;
inline constexpr std::uint8_t kMarkTab = 1u << 2;
inline constexpr std::uint8_t kMarkNoTab = 1u << 3;

}  // namespace foldra
