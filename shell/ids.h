// The module's numbers that a host program needs to drive it: its command, its settings dialog
// and the dialog's gadgets, and the names of the edge marks it reads. Plain constants, so that a
// program can use them without the module.
#pragma once

#include <cstdint>

#include "host/edge_marks.h"

namespace foldra {

/// The module's plug-in id: identifies its command and its dialog.
inline constexpr std::int32_t kPluginId = 1059410;

// Resources.
inline constexpr std::int32_t kStringCommandName = 10000;
inline constexpr std::int32_t kStringCommandHelp = 10012;
inline constexpr std::int32_t kDialogSettings = 10001;
inline constexpr const char* kIconFile = "quarnel_logo_32x32_g60.tif";

// Gadgets of the settings dialog.
inline constexpr std::int32_t kGadgetLayout = 10002;
inline constexpr std::int32_t kGadgetOriginals = 10003;
inline constexpr std::int32_t kGadgetMaterials = 10004;
inline constexpr std::int32_t kGadgetPageLimit = 10005;
inline constexpr std::int32_t kGadgetTabs = 10006;
inline constexpr std::int32_t kGadgetPageWidth = 10007;
inline constexpr std::int32_t kGadgetPageHeight = 10008;
inline constexpr std::int32_t kGadgetTabWidth = 10009;
inline constexpr std::int32_t kGadgetUnfolding = 10010;
inline constexpr std::int32_t kGadgetFoldShut = 10011;
/// Compact: allow cut edges without a tab where that saves pieces.
inline constexpr std::int32_t kGadgetBareSeams = 10013;
inline constexpr std::int32_t kButtonConfirm = 1;
inline constexpr std::int32_t kButtonCancel = 2;
/// Values of the layout choice: kLayoutChoiceBase + layout mode.
inline constexpr std::int32_t kLayoutChoiceBase = 6050;
/// Values of the unfolding choice: kUnfoldingChoiceBase + the method, 0 for longest edge
/// (the dialog's default), 1 for compact.
inline constexpr std::int32_t kUnfoldingChoiceBase = 6060;
inline constexpr std::int32_t kUnfoldingLongestEdge = kUnfoldingChoiceBase + 0;
inline constexpr std::int32_t kUnfoldingCompact = kUnfoldingChoiceBase + 1;

}  // namespace foldra
